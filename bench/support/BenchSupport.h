#pragma once
// Helpers of the benchmarks that drive the library through its entry points
// and run curl beside it on the same files.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "MeshdropLib.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// The process's resident high-water mark in KiB (VmHWM), and its reset.
long PeakKiB();
void ResetPeak();

// Counts the library's events, delivered to the callback on its worker.
class Events {
public:
    static void MESHDROPLIB_CALLBACK Callback(UINT code, LPARAM, void*);
    static Events& Instance();
    bool WaitFor(UINT code, int count, std::chrono::seconds limit);
    void Clear();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_counts = std::vector<int>(64, 0);
};

// Samples a job's done bytes every few milliseconds on a thread of its own
// and answers the most bytes done within any one-second window.
class WindowSampler {
public:
    explicit WindowSampler(MeshdropJobHandle job);
    ~WindowSampler();
    WindowSampler(const WindowSampler&) = delete;
    WindowSampler& operator=(const WindowSampler&) = delete;
    // Stops sampling; the largest window in bytes.
    std::uint64_t Finish();

private:
    struct Sample {
        Clock::time_point at;
        std::uint64_t done;
    };
    MeshdropJobHandle m_job;
    std::atomic<bool> m_stop{false};
    std::vector<Sample> m_samples;
    std::thread m_thread;
};

// Creates a job of `urls`, each saved under "C:\bench\" by its own name,
// and starts it in `mode` (1: with consent).
MeshdropJobHandle StartJob(const std::vector<std::string>& urls, int mode);

// Runs a job of `urls` to its end through the entry points; `targets` are
// the local files, which must hold `bytes` in all; they are removed after.
Figures LibraryDownload(const std::vector<std::string>& urls, int mode, std::uint64_t bytes,
                        const std::vector<std::string>& targets);

// curl over `urls` in one run (one connection where it can keep it), each
// to the matching target, with an optional rate limit and, for https, the
// authority to trust. The targets are removed after.
Figures CurlDownload(const std::vector<std::string>& urls, const char* limit, std::uint64_t bytes,
                     const std::vector<std::string>& targets, const std::string& authority = {});

} // namespace bench
