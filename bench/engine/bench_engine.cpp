// The local download engine beside curl and aria2c, same files, same local
// nginx, same disk, in one run. For each tool: wall time, CPU seconds per
// GiB and peak memory, for
//   1. one large file from nginx (engine with consent, curl with one
//      stream, aria2c -x8 -s8);
//   2. the same with nginx holding every connection to 20 MiB/s;
//   3. many small files (engine: one job; aria2c -j8 with an input file;
//      curl -Z with 8 at once);
// and the engine's rate without consent over a window (393216 expected).
// The engine syncs every file to disk before it reports it; curl does not.
//
// BENCH_SHORT=1: 64 MiB, 100 small files, a 3-second window; otherwise
// 1 GiB, 500 files of 64 KiB and 10 seconds.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "EngineTestSupport.h"
#include "NginxServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::Figures;

// CPU seconds a running process used so far.
double ProcessCpu(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return fields.size() > 13 ? (std::stod(fields[11]) + std::stod(fields[12])) / sysconf(_SC_CLK_TCK) : 0;
}

long PeakKiB(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

void ResetPeak(int pid)
{
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}

std::uint64_t FolderBytes(const std::string& folder)
{
    std::uint64_t bytes = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        bytes += entry.is_regular_file() ? entry.file_size() : 0;
    }
    return bytes;
}

void EmptyFolder(const std::string& folder)
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder, ignored);
}

// Runs a tool in an empty folder; ok when it leaves the expected bytes there.
Figures RunTool(const std::vector<std::string>& command, const std::string& folder, std::uint64_t expected)
{
    EmptyFolder(folder);
    Figures figures = bench::RunProgram(command, folder);
    figures.ok = figures.ok && FolderBytes(folder) == expected;
    return figures;
}

class EngineRunner {
public:
    EngineRunner(const std::string& drive) : m_engine(drive) {}
    bool Start()
    {
        return m_worker.IsStarted() && m_engine.Start() && m_connection.Open(m_engine.Port()) &&
               enginetest::WaitFor(m_connection, "connected");
    }

    Figures Run(const std::vector<enginetest::TestFile>& files, const std::string& folder, std::uint64_t expected)
    {
        EmptyFolder(folder);
        Figures figures;
        ResetPeak(m_engine.Pid());
        const double cpu = ProcessCpu(m_engine.Pid());
        const auto start = Clock::now();
        enginetest::SubmitJob(m_connection, ++m_job, files, true);
        const bool ended = m_connection.WaitFor("ended", m_job, std::chrono::seconds(900));
        figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.cpuSeconds = ProcessCpu(m_engine.Pid()) - cpu;
        figures.peakKiB = PeakKiB(m_engine.Pid());
        m_connection.Read([&](const CDNRecordingListener& l) {
            figures.ok = ended && l.Last("ended").ended.result == CDN_RESULT_OK;
        });
        figures.ok = figures.ok && FolderBytes(folder) == expected;
        return figures;
    }

    // Bytes per second without consent, between the first progress report
    // and the last one of the window.
    double LimitedRate(const std::string& url, std::chrono::seconds window)
    {
        struct Sample {
            Clock::time_point when;
            std::uint64_t done;
        };
        std::vector<Sample> samples;
        const std::uint32_t job = ++m_job;
        m_worker.Run([&] {
            m_connection.listener.onEvent = [&samples, job](const CDNEvent& event) {
                if (event.kind == "progress" && event.jobNumber == job) {
                    samples.push_back({Clock::now(), event.progress.doneSize});
                }
            };
        });
        enginetest::SubmitJob(m_connection, job, {{"C:\\bench\\", "limited.bin", url}}, false);
        const auto windowEnd = Clock::now() + window + std::chrono::seconds(2);
        std::this_thread::sleep_until(windowEnd);
        double rate = -1;
        m_worker.Run([&] {
            m_connection.listener.onEvent = nullptr;
            // The first report after the start, and the last one a whole window later.
            if (samples.size() >= 2) {
                const Sample& first = samples.front();
                for (const Sample& last : samples) {
                    if (last.when - first.when >= window - std::chrono::milliseconds(500)) {
                        rate = static_cast<double>(last.done - first.done) /
                               std::chrono::duration<double>(last.when - first.when).count();
                        break;
                    }
                }
            }
        });
        const std::uint32_t id = m_connection.Read<std::uint32_t>(
            [](const CDNRecordingListener& l) { return l.Last("accepted").engineJobId; });
        const nwCDNJobRef stop{job, id};
        m_connection.Send([&](ovICDNLocalClientLayer& layer) { layer.SendStopJob(&stop); });
        m_connection.WaitFor("ended", static_cast<int>(job), std::chrono::seconds(30));
        return rate;
    }

private:
    NpnWorker m_worker;
    enginetest::EngineProcess m_engine;
    CDNTestConnection m_connection{m_worker};
    int m_job = 0;
};

} // namespace

int main()
{
    const bool shortRun = std::getenv("BENCH_SHORT") != nullptr;
    const std::uint64_t bigSize = shortRun ? 64ull << 20 : 1ull << 30;
    const int smallCount = shortRun ? 100 : 500;
    const std::uint64_t smallSize = 64 * 1024;
    const auto window = std::chrono::seconds(shortRun ? 3 : 10);

    testsupport::TempDir root("meshdrop-bench-engine-served");
    testsupport::TempDir drive("meshdrop-bench-engine-drive");
    const std::string folder = drive.path() + "/bench";
    if (!bench::WritePatternFile(root.file("big.bin"), bigSize, 1)) {
        std::printf("cannot write the files\n");
        return 1;
    }
    std::filesystem::create_directories(root.path() + "/small");
    std::string ariaList;
    std::string curlList;
    std::vector<enginetest::TestFile> smallFiles;
    testsupport::NginxServer nginx(root.path(), {"location /limited/ { alias " + root.path() + "/; limit_rate 20m; }"});
    if (!nginx.start()) {
        std::printf("nginx did not start: %s\n", nginx.error().c_str());
        return 1;
    }
    for (int i = 0; i < smallCount; ++i) {
        const std::string name = "s" + std::to_string(i) + ".bin";
        bench::WritePatternFile(root.path() + "/small/" + name, smallSize, 100 + i);
        const std::string url = nginx.url("/small/" + name);
        ariaList += url + "\n  out=" + name + "\n";
        curlList += "url = \"" + url + "\"\noutput = \"" + name + "\"\n";
        smallFiles.push_back({"C:\\bench\\", name, url});
    }
    std::ofstream(root.file("aria.txt")) << ariaList;
    std::ofstream(root.file("curl.txt")) << curlList;
    // Every tool reads the served files from the page cache.
    std::filesystem::copy_file(root.file("big.bin"), drive.file("warm"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(drive.file("warm"));

    EngineRunner engine(drive.path());
    if (!engine.Start()) {
        std::printf("the engine did not start\n");
        return 1;
    }
    bool ok = true;
    const auto row = [&](const char* what, const Figures& f, std::uint64_t bytes) {
        bench::Print(what, f, bytes);
        ok = ok && f.ok;
    };
    for (const bool limited : {false, true}) {
        const std::string url = nginx.url(limited ? "/limited/big.bin" : "/big.bin");
        std::printf("%llu MiB from nginx on 127.0.0.1%s, written to disk:\n",
                    static_cast<unsigned long long>(bigSize >> 20), limited ? ", 20 MiB/s per connection" : "");
        row("engine (consent, up to 8 connections)", engine.Run({{"C:\\bench\\", "big.bin", url}}, folder, bigSize),
            bigSize);
        row("curl (one stream)", RunTool({"curl", "-s", "-f", "-o", "big.bin", url}, folder, bigSize), bigSize);
        row("aria2c -x8 -s8",
            RunTool({"aria2c", "-q", "-x8", "-s8", "--allow-overwrite=true", "-o", "big.bin", url}, folder, bigSize),
            bigSize);
    }
    const std::uint64_t smallTotal = smallSize * static_cast<std::uint64_t>(smallCount);
    std::printf("%d files of 64 KiB from nginx:\n", smallCount);
    row("engine (consent, one job)", engine.Run(smallFiles, folder, smallTotal), smallTotal);
    row("aria2c -j8 -i list",
        RunTool({"aria2c", "-q", "-j8", "--allow-overwrite=true", "-i", root.file("aria.txt")}, folder, smallTotal),
        smallTotal);
    row("curl -Z (8 at once) -K list",
        RunTool({"curl", "-s", "-f", "-Z", "--parallel-max", "8", "-K", root.file("curl.txt")}, folder, smallTotal),
        smallTotal);

    const double rate = engine.LimitedRate(nginx.url("/big.bin"), window);
    std::printf("engine without consent, %lld s: %.0f bytes/s (%+.2f %% of 393216)\n",
                static_cast<long long>(window.count()), rate, (rate / 393216.0 - 1.0) * 100.0);
    return ok && rate > 0 ? 0 : 1;
}
