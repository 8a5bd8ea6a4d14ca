// Any bytes as a zip and as a 7z archive: extraction ends without a fault,
// and nothing lands outside the target folder (no link is created either).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <win32_ext.h>

#include "ExtractArchive.h"

namespace {

namespace fs = std::filesystem;

// A scratch folder of this process, in memory where the system offers it.
const fs::path& Scratch()
{
    static const fs::path root = [] {
        const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path dir = base / ("meshdrop-extract-fuzz-" + std::to_string(getpid()));
        fs::create_directories(dir);
        std::atexit([] { fs::remove_all(Scratch()); });
        return dir;
    }();
    return root;
}

void CheckAndClear()
{
    const fs::path target = Scratch() / "target";
    for (auto it = fs::recursive_directory_iterator(Scratch()); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path relative = fs::relative(it->path(), Scratch());
        if (it->is_symlink() || *relative.begin() != "target")
            abort();
    }
    fs::remove_all(target);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string folder = W32PathFromPosixA((Scratch() / "target").string()) + "\\";
    for (int type : {kArchiveTypeZip, kArchiveType7z}) {
        const int code = ExtractArchive(type, data, static_cast<int64_t>(size), folder.c_str());
        if (code != kStoreCodeStored && code != kStoreCodeExtractFailed)
            abort();
        CheckAndClear();
    }
    return 0;
}
