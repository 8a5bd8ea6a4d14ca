// The engine update's toolkit beside well-known tools, in one run:
// - the MD4 chunk list of 256 MiB beside OpenSSL's MD4 (legacy provider) over
//   the same bytes, as the same chunk list and as one digest;
// - extraction of a 200 MiB zip and a 200 MiB 7z (the archive mapped from
//   its file, then unpacked) beside `unzip` and `7z x` (or 7zz) of the same
//   archives into the same file system;
// - the XML reader on 1 MiB hostile documents.
// Each figure is the best of several runs. BENCH_SHORT=1: 32 MiB and 24 MiB.

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "ArchiveHash.h"
#include "ExtractArchive.h"
#include "HostileXml.h"
#include "TempDir.h"
#include "XMLParserOrvane.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

// The best time of three runs of `work`, each after an untimed `prepare`.
double Seconds(
    const std::function<bool()>& work, bool& ok, const std::function<void()>& prepare = [] {})
{
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        prepare();
        const auto start = Clock::now();
        ok = work() && ok;
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::vector<unsigned char> OpenSslChunkList(const EVP_MD* md4, const unsigned char* data, size_t size)
{
    std::vector<unsigned char> list;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char digest[16];
    unsigned int length = 0;
    for (size_t offset = 0; offset < size; offset += kArchiveHashChunkSize) {
        EVP_DigestInit_ex(context, md4, nullptr);
        EVP_DigestUpdate(context, data + offset, std::min<size_t>(kArchiveHashChunkSize, size - offset));
        EVP_DigestFinal_ex(context, digest, &length);
        list.insert(list.end(), digest, digest + 16);
    }
    EVP_DigestInit_ex(context, md4, nullptr);
    EVP_DigestUpdate(context, list.data(), list.size());
    EVP_DigestFinal_ex(context, digest, &length);
    list.insert(list.end(), digest, digest + 16);
    EVP_MD_CTX_free(context);
    return list;
}

void BenchMd4(size_t size)
{
    // Loaded for this measurement only and unloaded after it, so that the
    // sanitizer build's leak check sees nothing of OpenSSL left behind.
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    const auto unload = [&] {
        if (standard != nullptr)
            OSSL_PROVIDER_unload(standard);
        if (legacy != nullptr)
            OSSL_PROVIDER_unload(legacy);
    };
    EVP_MD* md4 = EVP_MD_fetch(nullptr, "MD4", nullptr);
    if (md4 == nullptr) {
        std::printf("MD4: OpenSSL's legacy provider has no MD4 here\n");
        unload();
        return;
    }
    const std::string text = testsupport::patternBytes(size, 1);
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    // Runs alternate, so that a change in the machine's load touches both.
    std::vector<unsigned char> ours, theirs;
    double oursSeconds = 1e9, theirsSeconds = 1e9, oneSeconds = 1e9;
    auto time = [](double& best, const std::function<void()>& work) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    };
    for (int run = 0; run < 5; ++run) {
        time(oursSeconds, [&] { ours = BuildArchiveChunkList(data, static_cast<int64_t>(size)); });
        time(theirsSeconds, [&] { theirs = OpenSslChunkList(md4, data, size); });
        time(oneSeconds, [&] {
            unsigned char digest[16];
            unsigned int length = 0;
            EVP_Digest(data, size, digest, &length, md4, nullptr);
        });
    }
    EVP_MD_free(md4);
    unload();
    std::printf("MD4 over %.0f MiB (%s)\n", size / kMiB, ours == theirs ? "same chunk list" : "LISTS DIFFER");
    std::printf("  %-34s %8.1f MiB/s\n", "ours, chunk list", size / kMiB / oursSeconds);
    std::printf("  %-34s %8.1f MiB/s\n", "OpenSSL, same chunk list", size / kMiB / theirsSeconds);
    std::printf("  %-34s %8.1f MiB/s\n", "OpenSSL, one digest", size / kMiB / oneSeconds);
    std::printf("  ours / OpenSSL chunk list: %.2fx (at least 0.8x expected)\n", theirsSeconds / oursSeconds);
}

// A package of about `size` bytes: half of it incompressible, half text.
void MakePackage(const fs::path& folder, size_t size)
{
    const size_t files = 8;
    for (size_t i = 0; i < files; ++i) {
        std::string bytes;
        if (i % 2 == 0) {
            bytes = testsupport::patternBytes(size / files, static_cast<unsigned>(i));
        } else {
            char line[96];
            while (bytes.size() < size / files) {
                std::snprintf(line, sizeof line, "%08zu engine log line with some words and a counter %zu\n",
                              bytes.size(), bytes.size() * 7 % 1000);
                bytes += line;
            }
        }
        testsupport::writeFile((folder / ("part" + std::to_string(i)) / "data.bin").string(), bytes);
    }
}

bool Shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

void BenchExtraction(size_t size)
{
    testsupport::TempDir dir("meshdrop-bench-extract");
    const fs::path root = dir.path();
    MakePackage(root / "src", size);
    const std::string sevenZip = Shell("command -v 7z >/dev/null 2>&1") ? "7z" : "7zz";
    if (!Shell("cd '" + (root / "src").string() + "' && zip -qr ../a.zip . && " + sevenZip +
               " a -bd -bso0 ../a.7z . >/dev/null")) {
        std::printf("extraction: could not make the archives\n");
        return;
    }
    const fs::path out = root / "out";
    auto fresh = [&] {
        fs::remove_all(out);
        fs::create_directories(out);
        Shell("sync");
    };
    const std::string folder = W32PathFromPosixA(out.string()) + "\\";
    // The engine update holds the archive in memory already; here it is
    // mapped from its file, so that reading it is part of the time as it is
    // for the tools.
    auto ours = [&](int type, const fs::path& archive) {
        const int fd = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
        const size_t length = fs::file_size(archive);
        void* bytes = fd >= 0 ? mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
        if (fd >= 0)
            close(fd);
        if (bytes == MAP_FAILED)
            return false;
        const int code = ExtractArchive(type, static_cast<const unsigned char*>(bytes), static_cast<int64_t>(length),
                                        folder.c_str());
        munmap(bytes, length);
        return code == 0;
    };
    struct Case {
        const char* name;
        int type;
        fs::path archive;
        std::string tool;
    };
    const Case cases[] = {
        {"zip", kArchiveTypeZip, root / "a.zip",
         "unzip -q -o '" + (root / "a.zip").string() + "' -d '" + out.string() + "'"},
        {"7z", kArchiveType7z, root / "a.7z",
         sevenZip + " x -y -bd -bso0 '-o" + out.string() + "' '" + (root / "a.7z").string() + "' >/dev/null"},
    };
    for (const Case& c : cases) {
        bool ok = true;
        const double oursSeconds = Seconds([&] { return ours(c.type, c.archive); }, ok, fresh);
        const double toolSeconds = Seconds([&] { return Shell(c.tool); }, ok, fresh);
        std::printf("%s extraction of %.0f MiB (archive %.0f MiB)%s\n", c.name, size / kMiB,
                    fs::file_size(c.archive) / kMiB, ok ? "" : " FAILED");
        std::printf("  %-34s %8.3f s\n", "ours (archive mapped, unpacked)", oursSeconds);
        std::printf("  %-34s %8.3f s\n", c.tool.substr(0, c.tool.find(' ')).c_str(), toolSeconds);
        std::printf("  ours / tool: %.2fx (within 1.2x expected)\n", oursSeconds / toolSeconds);
    }
}

void BenchXml()
{
    std::vector<std::string> documents = testsupport::LongSearchXmlDocuments(256);
    documents.push_back(testsupport::DeeplyNestedXml(100000, true));
    double worst = 0;
    for (const std::string& text : documents) {
        CXMLParserOrvane parser;
        bool ok = true;
        worst = std::max(worst, Seconds(
                                    [&] {
                                        parser.Parse(text.c_str());
                                        return true;
                                    },
                                    ok));
    }
    std::printf("XML reader: slowest of the hostile documents (1 MiB, 100,000 levels): %.3f s\n", worst);
}

} // namespace

int main()
{
    const bool brief = std::getenv("BENCH_SHORT") != nullptr;
    BenchMd4(brief ? size_t{32} << 20 : size_t{256} << 20);
    BenchExtraction(brief ? size_t{24} << 20 : size_t{200} << 20);
    BenchXml();
    return 0;
}
