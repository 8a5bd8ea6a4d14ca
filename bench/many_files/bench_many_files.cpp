// Downloads a package of many small files (64 KiB each) from a local nginx
// through the library's entry points, one job, with and without the
// player's consent, and the same files with curl in one run (limited to 100M
// and to 384K, the two quotas). Prints for each: seconds, MiB/s, CPU seconds
// per GiB and peak memory, and for the library the most bytes done in any
// one-second window with the quota beside it, and the time the quota alone
// allows (bytes / 393216 without consent).
//
// BENCH_SHORT=1: 100 files with consent and 12 without; otherwise 100 both ways.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "BenchSupport.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "TempDir.h"

namespace {

using namespace bench;

constexpr std::uint64_t kFileSize = 64 * 1024;

struct Package {
    std::vector<std::string> urls;
    std::vector<std::string> libraryTargets;
    std::vector<std::string> curlTargets;
    std::uint64_t bytes = 0;
};

Package MakePackage(int count, const testsupport::NginxServer& nginx, const testsupport::TempDir& root,
                    const testsupport::TempDir& drive)
{
    Package package;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%03d.pak", i);
        package.urls.push_back(nginx.url(std::string("/") + name));
        package.libraryTargets.push_back(drive.path() + "/bench/" + name);
        package.curlTargets.push_back(root.file(std::string("curl-") + name));
        package.bytes += kFileSize;
    }
    return package;
}

// Runs the package through the library and curl with one quota.
bool Compare(const Package& package, int mode, std::uint32_t quota, const char* curlLimit)
{
    const Figures library = LibraryDownload(package.urls, mode, package.bytes, package.libraryTargets);
    const Figures curl = CurlDownload(package.urls, curlLimit, package.bytes, package.curlTargets);
    char what[64];
    std::snprintf(what, sizeof what, "library, %s", mode != 0 ? "with consent" : "without consent");
    Print(what, library, package.bytes);
    std::snprintf(what, sizeof what, "curl --limit-rate %s", curlLimit);
    Print(what, curl, package.bytes);
    const double quotaSeconds = static_cast<double>(package.bytes) / quota;
    if (library.ok)
        std::printf("bytes / quota: %.2f s; library wall / that: %.3f; largest window / quota: %.3f\n", quotaSeconds,
                    library.seconds / quotaSeconds, static_cast<double>(library.largestWindow) / quota);
    return library.ok;
}

} // namespace

int main()
{
    const bool shortRun = std::getenv("BENCH_SHORT") != nullptr;
    const int withConsent = 100;
    const int withoutConsent = shortRun ? 12 : 100;

    testsupport::TempDir root("meshdrop-bench-many");
    testsupport::TempDir drive("meshdrop-bench-many-c");
    setenv("MESHDROP_DRIVE_C", drive.path().c_str(), 1);
    W32SetInternetConnectedForTesting(1);
    for (int i = 0; i < withConsent; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%03d.pak", i);
        if (!WritePatternFile(root.file(name), kFileSize, static_cast<std::uint64_t>(i))) {
            std::printf("cannot write the files\n");
            return 1;
        }
    }
    testsupport::NginxServer nginx(root.path());
    if (!nginx.start()) {
        std::printf("nginx did not start: %s\n", nginx.error().c_str());
        return 1;
    }
    if (MeshdropLib_Initialize(nullptr, &Events::Callback, nullptr) != MESHDROPLIB_OK) {
        std::printf("the library did not start\n");
        return 1;
    }

    const Package consent = MakePackage(withConsent, nginx, root, drive);
    std::printf("%d files of 64 KiB from nginx on 127.0.0.1, one job, with consent (104857600 bytes/s)\n", withConsent);
    bool ok = Compare(consent, 1, 104857600, "100M");
    const Package noConsent = MakePackage(withoutConsent, nginx, root, drive);
    std::printf("%d files of 64 KiB, without consent (393216 bytes/s)\n", withoutConsent);
    ok = Compare(noConsent, 0, 393216, "384K") && ok;

    MeshdropLib_Finalize();
    return ok ? 0 : 1;
}
