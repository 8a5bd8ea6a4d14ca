// Downloads a file from a local nginx through the library's entry points (the
// direct downloader, with the player's consent: at most 100 MiB/s), and the
// same file with curl limited to 100M and with curl unlimited, all writing to
// the same disk; then the same file over TLS from nginx with a certificate of
// a test authority, by the library and by curl limited to 100M. Prints for
// each: seconds, MiB/s, CPU seconds per GiB and peak memory, and for the
// library the most bytes done in any one-second window (the cap is
// 104857600); then the library's peak memory for a file a tenth of the size
// (it must not grow with the file), and the library's rate without consent
// over a window (393216 bytes/s expected).
//
// BENCH_SHORT=1: 64 MiB and 6.4 MiB files, a 3-second window, one round;
// otherwise 1 GiB and 100 MiB, 10 seconds and BENCH_ROUNDS rounds (default 3)
// of the library beside curl.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <win32_ext.h>

#include "BenchSupport.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "TlsCases.h"
namespace {

using namespace bench;

// Bytes per second without consent, between the first progress event and
// the end of the window.
double NoConsentRate(const std::string& url, std::chrono::seconds window)
{
    const MeshdropJobHandle job = StartJob({url}, 0);
    double rate = -1;
    if (Events::Instance().WaitFor(MESHDROPLIB_EVENT_JOB_PROGRESS, 1, std::chrono::seconds(30))) {
        JobProgressInfo first{};
        MeshdropLib_GetJobProgress(job, &first);
        const auto start = Clock::now();
        std::this_thread::sleep_for(window);
        JobProgressInfo last{};
        MeshdropLib_GetJobProgress(job, &last);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rate = static_cast<double>(last.doneSize - first.doneSize) / seconds;
    }
    MeshdropLib_StopJob(job);
    MeshdropLib_DeleteJob(job);
    return rate;
}

} // namespace

int main()
{
    const bool shortRun = std::getenv("BENCH_SHORT") != nullptr;
    const uint64_t bigSize = shortRun ? 64ull << 20 : 1ull << 30;
    const uint64_t smallSize = bigSize / 10;
    const auto window = std::chrono::seconds(shortRun ? 3 : 10);
    const char* roundsText = std::getenv("BENCH_ROUNDS");
    const int rounds = shortRun ? 1 : std::max(1, roundsText != nullptr ? std::atoi(roundsText) : 3);

    testsupport::TempDir root("meshdrop-bench-direct");
    testsupport::TempDir drive("meshdrop-bench-drive-c");
    setenv("MESHDROP_DRIVE_C", drive.path().c_str(), 1);
    W32SetInternetConnectedForTesting(1);
    if (!WritePatternFile(root.file("big.pak"), bigSize) || !WritePatternFile(root.file("small.pak"), smallSize, 1)) {
        std::printf("cannot write the files\n");
        return 1;
    }
    testsupport::NginxServer nginx(root.path());
    // The same folder over TLS; this process (the library) trusts the test
    // authority through SSL_CERT_FILE, curl through --cacert.
    testsupport::TlsCases tls;
    testsupport::NginxServer secure(root.path());
    secure.useTls(tls.settings(testsupport::TlsCase::Good));
    if (!tls.ok() || !nginx.start() || !secure.start()) {
        std::printf("nginx did not start: %s%s%s\n", tls.error().c_str(), nginx.error().c_str(),
                    secure.error().c_str());
        return 1;
    }
    if (MeshdropLib_Initialize(nullptr, &Events::Callback, nullptr) != MESHDROPLIB_OK) {
        std::printf("the library did not start\n");
        return 1;
    }

    const std::string big = nginx.url("/big.pak");
    const std::vector<std::string> target = {drive.path() + "/bench/big.pak"};
    const std::vector<std::string> curlTarget = {root.file("curl.pak")};
    const double capSeconds = static_cast<double>(bigSize) / 104857600.0;
    std::printf("GET of a %llu MiB file from nginx on 127.0.0.1, written to disk (at the cap: %.2f s)\n",
                static_cast<unsigned long long>(bigSize >> 20), capSeconds);
    bool ok = true;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d\n", round);
        const Figures library = LibraryDownload({big}, 1, bigSize, target);
        const Figures limited = CurlDownload({big}, "100M", bigSize, curlTarget);
        Print("library, with consent (100 MiB/s)", library, bigSize);
        Print("curl --limit-rate 100M", limited, bigSize);
        if (library.ok && limited.ok && limited.cpuSeconds > 0)
            std::printf("CPU per GiB, library / curl: %.2f (goal: at most 1.3); wall / (bytes / cap): %.3f "
                        "(goal: at most 1.03); largest window / cap: %.3f\n",
                        library.cpuSeconds / limited.cpuSeconds, library.seconds / capSeconds,
                        static_cast<double>(library.largestWindow) / 104857600.0);
        ok = ok && library.ok;
    }
    Print("curl, unlimited", CurlDownload({big}, nullptr, bigSize, curlTarget), bigSize);

    const Figures big1 = LibraryDownload({big}, 1, bigSize, target);
    const Figures small = LibraryDownload({nginx.url("/small.pak")}, 1, smallSize, {drive.path() + "/bench/small.pak"});
    std::printf("library peak memory: %.1f MiB for %llu MiB, %.1f MiB for %llu MiB\n",
                static_cast<double>(small.peakKiB) / 1024.0, static_cast<unsigned long long>(smallSize >> 20),
                static_cast<double>(big1.peakKiB) / 1024.0, static_cast<unsigned long long>(bigSize >> 20));

    const double rate = NoConsentRate(big, window);
    std::printf("library, without consent, %lld s: %.0f bytes/s (%.1f KiB/s; quota 393216 = 384.0 KiB/s)\n",
                static_cast<long long>(window.count()), rate, rate / 1024.0);

    const std::string bigTls = secure.url("/big.pak");
    std::printf("GET of the same file over TLS from nginx on 127.0.0.1\n");
    const Figures libraryTls = LibraryDownload({bigTls}, 1, bigSize, target);
    const Figures curlTls = CurlDownload({bigTls}, "100M", bigSize, curlTarget, tls.trusted().authority());
    Print("library over TLS, with consent", libraryTls, bigSize);
    Print("curl --limit-rate 100M over TLS", curlTls, bigSize);
    if (libraryTls.ok && curlTls.ok && curlTls.cpuSeconds > 0)
        std::printf("TLS CPU per GiB, library / curl: %.2f (goal: at most 1.5)\n",
                    libraryTls.cpuSeconds / curlTls.cpuSeconds);

    MeshdropLib_Finalize();
    return ok && big1.ok && small.ok && libraryTls.ok && rate > 0 ? 0 : 1;
}
