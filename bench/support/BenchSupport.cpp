#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace bench {

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

void MESHDROPLIB_CALLBACK Events::Callback(UINT code, LPARAM, void*)
{
    Events& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_mutex);
    ++self.m_counts[code & 0x3F];
    self.m_changed.notify_all();
}

Events& Events::Instance()
{
    static Events events;
    return events;
}

bool Events::WaitFor(UINT code, int count, std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_counts[code & 0x3F] >= count; });
}

void Events::Clear()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_counts.assign(64, 0);
}

WindowSampler::WindowSampler(MeshdropJobHandle job) : m_job(job)
{
    m_samples.reserve(1 << 16);
    m_thread = std::thread([this] {
        while (!m_stop) {
            JobProgressInfo progress{};
            if (MeshdropLib_GetJobProgress(m_job, &progress) == MESHDROPLIB_OK)
                m_samples.push_back({Clock::now(), progress.doneSize});
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
}

WindowSampler::~WindowSampler()
{
    Finish();
}

std::uint64_t WindowSampler::Finish()
{
    m_stop = true;
    if (!m_thread.joinable())
        return 0;
    m_thread.join();
    if (const char* dump = std::getenv("BENCH_SAMPLES")) {
        // For a look at the shape of a transfer: milliseconds and bytes done,
        // one file per transfer (the name and a number).
        static int transfers = 0;
        const std::string name = std::string(dump) + "." + std::to_string(++transfers);
        if (FILE* out = std::fopen(name.c_str(), "w")) {
            for (const Sample& sample : m_samples)
                std::fprintf(out, "%lld %llu\n",
                             static_cast<long long>(
                                 std::chrono::duration_cast<std::chrono::milliseconds>(sample.at - m_samples.front().at)
                                     .count()),
                             static_cast<unsigned long long>(sample.done));
            std::fclose(out);
        }
    }
    // For each sample, the bytes done from it to the last sample at most one
    // second later.
    std::uint64_t largest = 0;
    std::size_t end = 0;
    for (std::size_t begin = 0; begin < m_samples.size(); ++begin) {
        end = std::max(end, begin);
        while (end + 1 < m_samples.size() && m_samples[end + 1].at - m_samples[begin].at <= std::chrono::seconds(1))
            ++end;
        if (m_samples[end].done > m_samples[begin].done)
            largest = std::max(largest, m_samples[end].done - m_samples[begin].done);
    }
    return largest;
}

MeshdropJobHandle StartJob(const std::vector<std::string>& urls, int mode)
{
    Events::Instance().Clear();
    MeshdropJobHandle job = 0;
    MeshdropLib_CreateJob(&job, "TW", "bench");
    for (const std::string& url : urls)
        MeshdropLib_AddFile(job, url.c_str(), "C:\\bench\\", nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1);
    MeshdropLib_StartJob(job, static_cast<BYTE>(mode));
    return job;
}

namespace {

bool AllThere(const std::vector<std::string>& targets, std::uint64_t bytes)
{
    std::uint64_t total = 0;
    for (const std::string& target : targets) {
        std::error_code ec;
        const std::uint64_t size = std::filesystem::file_size(target, ec);
        if (ec)
            return false;
        total += size;
    }
    return total == bytes;
}

void RemoveAll(const std::vector<std::string>& targets)
{
    for (const std::string& target : targets) {
        std::error_code ec;
        std::filesystem::remove(target, ec);
    }
}

} // namespace

Figures LibraryDownload(const std::vector<std::string>& urls, int mode, std::uint64_t bytes,
                        const std::vector<std::string>& targets)
{
    Figures figures;
    ResetPeak();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    const MeshdropJobHandle job = StartJob(urls, mode);
    WindowSampler sampler(job);
    const bool ended = Events::Instance().WaitFor(MESHDROPLIB_EVENT_JOB_FINISHED, 1, std::chrono::seconds(900));
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    figures.largestWindow = sampler.Finish();
    // The sampler's own polling is left out of the library's CPU time only
    // approximately: it sleeps between samples and costs a few milliseconds.
    figures.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
    figures.peakKiB = PeakKiB();
    figures.ok = ended && AllThere(targets, bytes);
    MeshdropLib_DeleteJob(job);
    RemoveAll(targets);
    return figures;
}

Figures CurlDownload(const std::vector<std::string>& urls, const char* limit, std::uint64_t bytes,
                     const std::vector<std::string>& targets, const std::string& authority)
{
    std::vector<std::string> arguments = {"curl", "-s", "-f"};
    if (limit != nullptr)
        arguments.insert(arguments.end(), {"--limit-rate", limit});
    if (!authority.empty())
        arguments.insert(arguments.end(), {"--cacert", authority});
    for (std::size_t i = 0; i < urls.size() && i < targets.size(); ++i)
        arguments.insert(arguments.end(), {"-o", targets[i], urls[i]});
    Figures figures = RunProgram(std::move(arguments));
    figures.ok = figures.ok && AllThere(targets, bytes);
    RemoveAll(targets);
    return figures;
}

} // namespace bench
