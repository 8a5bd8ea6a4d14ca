// qlsdownloader-cli: the downloader without a window, for scripts and
// machines without a display. `qlsdownloader-cli --help` tells how to use it.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "DownloadRun.h"
#include "ExitCodes.h"
#include "LogCollection.h"
#include "ProgressView.h"
#include "StopSignals.h"

#ifndef QLS_VERSION
#define QLS_VERSION "unknown"
#endif

namespace {

int RunCli(int argc, char** argv)
{
    StopSignals::Block();
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "qlsdownloader-cli: %s\nTry 'qlsdownloader-cli --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(CliUsage().c_str(), stdout);
        std::fputs(("\n" + LogPathsText(PosixLogLocations())).c_str(), stdout);
        return kExitOk;
    }
    if (!options.collectLogs.empty()) {
        if (!CollectLogs(options.collectLogs, PosixLogLocations(), QLS_VERSION, error)) {
            std::fprintf(stderr, "qlsdownloader-cli: %s\n", error.c_str());
            return kExitFailure;
        }
        std::printf("Packed the logs into %s\n", options.collectLogs.c_str());
        return kExitOk;
    }
    if (options.version) {
        std::printf("qlsdownloader-cli %s\n", QLS_VERSION);
        return kExitOk;
    }
    // A reader that went away ends the output, not the download.
    signal(SIGPIPE, SIG_IGN);

    ProgressView view(ProgressView::ModeForStdout(options.quiet), stdout, stderr);
    DownloadRun run(options, view);
    return run.Run();
}

} // namespace

int main(int argc, char** argv)
{
    const int code = RunCli(argc, argv);
    // Whatever went wrong, the player learns where the logs are.
    if (code != kExitOk)
        std::fputs(LogPathsText(PosixLogLocations()).c_str(), stderr);
    return code;
}
