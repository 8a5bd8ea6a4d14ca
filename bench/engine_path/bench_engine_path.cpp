// Downloads one file from a local nginx through the library's entry points
// with the player's consent, both ways a player's download can go: through
// the local engine (installed and started by the library's engine update from
// the publisher's update files) and by the direct downloader (the update
// server down: the library falls back); beside them aria2c -x8 -s8 and curl
// on the same file, all writing to the same disk. Prints MiB/s, and for the
// engine its own CPU seconds per GiB.
//
// BENCH_SHORT=1: a 64 MiB file; otherwise 1 GiB.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "BenchFigures.h"
#include "BenchSupport.h"
#include "EngineUpdate.h"
#include "EntryPointFlow.h"
#include "HttpFileServer.h"
#include "InstalledEngine.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "TempDir.h"

namespace {

using bench::Clock;
using bench::Events;

// CPU seconds of a process so far (utime + stime of /proc/<pid>/stat).
double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    size_t at = end + 2;
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        fields.push_back(text.substr(at, space - at));
        at = space == std::string::npos ? text.size() : space + 1;
    }
    // Fields from the state on: utime and stime are the 12th and 13th.
    if (fields.size() < 13)
        return 0;
    return static_cast<double>(std::stoull(fields[11]) + std::stoull(fields[12])) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

double EngineCpuSeconds()
{
    double seconds = 0;
    for (const pid_t pid : installedengine::Pids())
        seconds += ProcessCpuSeconds(pid);
    return seconds;
}

// One job of one file with consent, from its start to its end.
bench::Figures LibraryDownload(const std::string& url, uint64_t size, const std::string& target)
{
    Events::Instance().Clear();
    bench::Figures figures;
    const double engineBefore = EngineCpuSeconds();
    const auto start = Clock::now();
    MeshdropJobHandle job = 0;
    MeshdropLib_CreateJob(&job, "TW", "bench");
    MeshdropLib_AddFile(job, url.c_str(), "C:\\bench\\", nullptr, 0xFFFFFFFF, 0xFFFFFFFF, 1);
    MeshdropLib_StartJob(job, 1);
    const bool ended = Events::Instance().WaitFor(MESHDROPLIB_EVENT_JOB_FINISHED, 1, std::chrono::seconds(600));
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.cpuSeconds = EngineCpuSeconds() - engineBefore;
    std::error_code ec;
    figures.ok = ended && std::filesystem::file_size(target, ec) == size;
    MeshdropLib_DeleteJob(job);
    std::filesystem::remove(target, ec);
    return figures;
}

bench::Figures ToolDownload(std::vector<std::string> arguments, uint64_t size, const std::string& target)
{
    bench::Figures figures = bench::RunProgram(std::move(arguments));
    std::error_code ec;
    figures.ok = figures.ok && std::filesystem::file_size(target, ec) == size;
    std::filesystem::remove(target, ec);
    return figures;
}

double Rate(const bench::Figures& f, uint64_t size)
{
    return f.ok ? static_cast<double>(size) / (1024.0 * 1024.0) / f.seconds : 0;
}

void PrintRate(const char* what, const bench::Figures& f, uint64_t size)
{
    if (f.ok)
        std::printf("%-44s %8.1f MiB/s\n", what, Rate(f, size));
    else
        std::printf("%-44s failed\n", what);
}

bool Initialize(const std::string& driveC)
{
    std::filesystem::create_directories(driveC);
    setenv("MESHDROP_DRIVE_C", driveC.c_str(), 1);
    return MeshdropLib_Initialize(nullptr, &Events::Callback, nullptr) == MESHDROPLIB_OK;
}

} // namespace

int main()
{
    const bool shortRun = std::getenv("BENCH_SHORT") != nullptr;
    const uint64_t size = shortRun ? 64ull << 20 : 1ull << 30;

    testsupport::TempDir root("meshdrop-bench-engine-path");
    testsupport::TempDir drives("meshdrop-bench-engine-drives");
    testsupport::TempDir updateRoot("meshdrop-bench-engine-update");
    W32SetInternetConnectedForTesting(1);
    if (!bench::WritePatternFile(root.file("big.pak"), size)) {
        std::printf("cannot write the file\n");
        return 1;
    }
    testsupport::NginxServer nginx(root.path());
    publisher::HttpFileServer updateServer({updateRoot.path()});
    const uint16_t updatePort = updateServer.listenOn(0);
    publisher::UpdateOptions update;
    update.root = updateRoot.path();
    update.port = updatePort;
    std::string error;
    if (!nginx.start() || updatePort == 0 || !publisher::generateEngineUpdate(update, error)) {
        std::printf("the servers did not start: %s%s\n", nginx.error().c_str(), error.c_str());
        return 1;
    }
    const std::string url = nginx.url("/big.pak");
    const std::string listUrl = "http://127.0.0.1:" + std::to_string(updatePort) + publisher::kUpdateListPath;
    const uint16_t enginePort = ClosedLoopbackPort(); // free for the engine to take
    setenv("MESHDROP_ENGINE_PORT", std::to_string(enginePort).c_str(), 1);
    setenv("MESHDROP_ENGINE_IDLE_EXIT", "10", 1);
    std::printf("GET of a %llu MiB file from nginx on 127.0.0.1 with the player's consent, written to disk\n",
                static_cast<unsigned long long>(size >> 20));

    // The direct path: the update server is down, the library falls back
    // after the engine's six launches; then the job starts.
    setenv("MESHDROP_UPDATE_LIST_URL", "http://127.0.0.1:1/qlsdownload_updater.xml", 1);
    const std::string directDrive = drives.path() + "/direct";
    if (!Initialize(directDrive) ||
        !Events::Instance().WaitFor(MESHDROPLIB_EVENT_ENGINE_READY, 6, std::chrono::seconds(60))) {
        std::printf("the library did not fall back\n");
        return 1;
    }
    const bench::Figures direct = LibraryDownload(url, size, directDrive + "/bench/big.pak");
    MeshdropLib_Finalize();

    // The engine path: the update installs and starts the engine first.
    Events::Instance().Clear();
    setenv("MESHDROP_UPDATE_LIST_URL", listUrl.c_str(), 1);
    const std::string engineDrive = drives.path() + "/engine";
    if (!Initialize(engineDrive) ||
        !Events::Instance().WaitFor(MESHDROPLIB_EVENT_ENGINE_READY, 1, std::chrono::seconds(60))) {
        std::printf("the engine did not start\n");
        return 1;
    }
    const bench::Figures engine = LibraryDownload(url, size, engineDrive + "/bench/big.pak");
    MeshdropLib_Finalize();
    installedengine::Stop();

    const std::string target = root.file("tool.pak");
    const bench::Figures aria =
        ToolDownload({"aria2c", "-q", "-x8", "-s8", "--allow-overwrite=true", "-d", root.path(), "-o", "tool.pak", url},
                     size, target);
    const bench::Figures curl = ToolDownload({"curl", "-s", "-f", "-o", target, url}, size, target);

    PrintRate("library through the engine, with consent", engine, size);
    if (engine.ok)
        std::printf("%-44s %8.2f CPU s/GiB\n", "  the engine's own CPU",
                    engine.cpuSeconds / (static_cast<double>(size) / (1ull << 30)));
    PrintRate("library, direct path, with consent", direct, size);
    PrintRate("aria2c -x8 -s8", aria, size);
    PrintRate("curl, unlimited", curl, size);
    if (engine.ok && direct.ok)
        std::printf("engine path / direct path: %.1fx (goal: at least 3x)\n", Rate(engine, size) / Rate(direct, size));
    return engine.ok && direct.ok ? 0 : 1;
}
