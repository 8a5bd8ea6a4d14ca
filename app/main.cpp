// qlsdownloader: the downloader the player runs.
#include <cstdio>
#include <cstring>

#include "QLSDownloaderApp.h"

#ifndef QLS_VERSION
#define QLS_VERSION "unknown"
#endif

// The one application object of the process.
CQLSDownloaderApp theApp;

int main(int argc, char** argv)
{
    // Package checks and scripts ask for the version, with or without a
    // display; every other command line goes to the window.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qlsdownloader %s\n", QLS_VERSION);
        return 0;
    }
    return AfxWinMain(argc, argv);
}
