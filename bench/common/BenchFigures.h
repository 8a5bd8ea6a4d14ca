#pragma once
// What the benchmarks measure and print: a run's wall time, CPU seconds and
// peak memory, the well-known tools run beside ours, and the pseudo-random
// files they serve.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

struct Figures {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    // The most bytes done within any one second of the transfer (0 when
    // not sampled).
    std::uint64_t largestWindow = 0;
};

inline double CpuSeconds(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a program (found on PATH) to its end, its output discarded, in
// `folder` when one is given; ok when it exits with 0.
inline Figures RunProgram(std::vector<std::string> command, const std::string& folder = {})
{
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    Figures figures;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (folder.empty() || ::chdir(folder.c_str()) == 0)
            execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = CpuSeconds(usage);
    figures.peakKiB = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

// One line: wall time, MiB/s, CPU seconds per GiB, peak memory (when
// measured) and, when sampled, the largest one-second window.
inline void Print(const char* what, const Figures& f, std::uint64_t bytes)
{
    if (!f.ok) {
        std::printf("%-38s failed\n", what);
        return;
    }
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("%-38s %7.2f s %8.1f MiB/s  %6.2f CPU s/GiB", what, f.seconds, mib / f.seconds,
                f.cpuSeconds / (mib / 1024.0));
    // A run inside the benchmark's own process has no peak of its own.
    if (f.peakKiB > 0)
        std::printf("  peak %7.1f MiB", static_cast<double>(f.peakKiB) / 1024.0);
    if (f.largestWindow > 0)
        std::printf("  largest 1 s window %llu bytes", static_cast<unsigned long long>(f.largestWindow));
    std::printf("\n");
}

// A file of `size` pseudo-random bytes, different per seed.
inline bool WritePatternFile(const std::string& path, std::uint64_t size, std::uint64_t seed = 0)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
    for (std::uint64_t written = 0; written < size && out; written += chunk.size()) {
        for (char& c : chunk) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            c = static_cast<char>(state >> 56);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(chunk.size(), size - written)));
    }
    return static_cast<bool>(out);
}

} // namespace bench
