#pragma once
// What the benchmarks measure and print: a run's wall time, CPU seconds and
// peak memory, and the pseudo-random files they serve.

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
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
