#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir(const std::string& prefix)
{
    std::string base = std::filesystem::temp_directory_path().string();
    std::string templ = base + "/" + prefix + "-XXXXXX";
    if (char* made = mkdtemp(templ.data()))
        path_ = made;
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string TempDir::file(const std::string& name) const
{
    return path_ + "/" + name;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string patternBytes(size_t size, unsigned seed)
{
    std::string out(size, '\0');
    std::mt19937 gen(seed);
    for (size_t i = 0; i < size; i += 4) {
        uint32_t v = gen();
        for (size_t k = 0; k < 4 && i + k < size; ++k)
            out[i + k] = static_cast<char>(v >> (8 * k));
    }
    return out;
}

} // namespace testsupport
