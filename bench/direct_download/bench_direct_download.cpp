// Downloads a file from a local nginx through the library's entry points (the
// direct downloader, with the player's consent: at most 100 MiB/s), and the
// same file with curl limited to 100M and with curl unlimited, all writing to
// the same disk; then the same file over TLS from nginx with a certificate of
// a test authority, by the library and by curl limited to 100M. Prints for each: MiB/s, CPU seconds per GiB and peak
// memory; then the library's peak memory for a file a tenth of the size (it must not grow with the file), and the
// library's rate without consent over a window (393216 bytes/s expected).
//
// BENCH_SHORT=1: 64 MiB and 6.4 MiB files and a 3-second window; otherwise
// 1 GiB and 100 MiB and 10 seconds.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <win32_ext.h>

#include "BenchFigures.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "TlsCases.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::CpuSeconds;
using bench::Figures;

// The process's resident high-water mark in KiB (VmHWM), and its reset.
long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Waits for the library's events, delivered to the callback on the worker.
class Events {
public:
    static void MESHDROPLIB_CALLBACK Callback(UINT code, LPARAM, void*)
    {
        Events& self = Instance();
        std::lock_guard<std::mutex> guard(self.m_mutex);
        ++self.m_counts[code & 0x3F];
        self.m_changed.notify_all();
    }
    static Events& Instance()
    {
        static Events events;
        return events;
    }
    bool WaitFor(UINT code, int count, std::chrono::seconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_counts[code & 0x3F] >= count; });
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_counts.assign(64, 0);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_counts = std::vector<int>(64, 0);
};

MeshdropJobHandle StartJob(const std::string& url, int mode)
{
    Events::Instance().Clear();
    MeshdropJobHandle job = 0;
    MeshdropLib_CreateJob(&job, "TW", "bench");
    MeshdropLib_AddFile(job, url.c_str(), "C:\\bench\\", nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1);
    MeshdropLib_StartJob(job, static_cast<BYTE>(mode));
    return job;
}

Figures LibraryDownload(const std::string& url, uint64_t size, const std::string& target)
{
    Figures figures;
    ResetPeak();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    const MeshdropJobHandle job = StartJob(url, 1);
    const bool ended = Events::Instance().WaitFor(MESHDROPLIB_EVENT_JOB_FINISHED, 1, std::chrono::seconds(600));
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    figures.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
    figures.peakKiB = PeakKiB();
    std::error_code ec;
    figures.ok = ended && std::filesystem::file_size(target, ec) == size;
    MeshdropLib_DeleteJob(job);
    std::filesystem::remove(target, ec);
    return figures;
}

// curl with an optional rate limit and, for https, the authority to trust.
Figures CurlDownload(const std::string& url, const char* limit, uint64_t size, const std::string& target,
                     const std::string& authority = {})
{
    std::vector<std::string> arguments = {"curl", "-s", "-f", "-o", target};
    if (limit != nullptr)
        arguments.insert(arguments.end(), {"--limit-rate", limit});
    if (!authority.empty())
        arguments.insert(arguments.end(), {"--cacert", authority});
    arguments.push_back(url);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Figures figures;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp("curl", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.cpuSeconds = CpuSeconds(usage);
    figures.peakKiB = usage.ru_maxrss;
    std::error_code ec;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::filesystem::file_size(target, ec) == size;
    std::filesystem::remove(target, ec);
    return figures;
}

void Print(const char* what, const Figures& f, uint64_t size)
{
    if (!f.ok) {
        std::printf("%-34s failed\n", what);
        return;
    }
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf("%-34s %8.1f MiB/s  %6.2f CPU s/GiB  peak %7.1f MiB\n", what, mib / f.seconds,
                f.cpuSeconds / (mib / 1024.0), static_cast<double>(f.peakKiB) / 1024.0);
}

// Bytes per second without consent, between the first progress event and
// the end of the window.
double NoConsentRate(const std::string& url, std::chrono::seconds window)
{
    const MeshdropJobHandle job = StartJob(url, 0);
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

    testsupport::TempDir root("meshdrop-bench-direct");
    testsupport::TempDir drive("meshdrop-bench-drive-c");
    setenv("MESHDROP_DRIVE_C", drive.path().c_str(), 1);
    W32SetInternetConnectedForTesting(1);
    if (!bench::WritePatternFile(root.file("big.pak"), bigSize) ||
        !bench::WritePatternFile(root.file("small.pak"), smallSize)) {
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
    const std::string target = drive.path() + "/bench/big.pak";
    const std::string curlTarget = root.file("curl.pak");
    std::printf("GET of a %llu MiB file from nginx on 127.0.0.1, written to disk\n",
                static_cast<unsigned long long>(bigSize >> 20));
    const Figures library = LibraryDownload(big, bigSize, target);
    const Figures limited = CurlDownload(big, "100M", bigSize, curlTarget);
    const Figures unlimited = CurlDownload(big, nullptr, bigSize, curlTarget);
    Print("library, with consent (100 MiB/s)", library, bigSize);
    Print("curl --limit-rate 100M", limited, bigSize);
    Print("curl, unlimited", unlimited, bigSize);

    const Figures small = LibraryDownload(nginx.url("/small.pak"), smallSize, drive.path() + "/bench/small.pak");
    std::printf("library peak memory: %.1f MiB for %llu MiB, %.1f MiB for %llu MiB\n",
                static_cast<double>(small.peakKiB) / 1024.0, static_cast<unsigned long long>(smallSize >> 20),
                static_cast<double>(library.peakKiB) / 1024.0, static_cast<unsigned long long>(bigSize >> 20));

    const double rate = NoConsentRate(big, window);
    std::printf("library, without consent, %lld s: %.0f bytes/s (%.1f KiB/s; quota 393216 = 384.0 KiB/s)\n",
                static_cast<long long>(window.count()), rate, rate / 1024.0);

    const std::string bigTls = secure.url("/big.pak");
    std::printf("GET of the same file over TLS from nginx on 127.0.0.1\n");
    const Figures libraryTls = LibraryDownload(bigTls, bigSize, target);
    const Figures curlTls = CurlDownload(bigTls, "100M", bigSize, curlTarget, tls.trusted().authority());
    Print("library over TLS, with consent", libraryTls, bigSize);
    Print("curl --limit-rate 100M over TLS", curlTls, bigSize);
    if (libraryTls.ok && curlTls.ok && curlTls.cpuSeconds > 0)
        std::printf("TLS CPU per GiB, library / curl: %.2f (goal: at most 1.5)\n",
                    libraryTls.cpuSeconds / curlTls.cpuSeconds);

    MeshdropLib_Finalize();
    return library.ok && small.ok && libraryTls.ok && rate > 0 ? 0 : 1;
}
