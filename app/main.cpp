// qlsdownloader: the downloader the player runs.
#include "QLSDownloaderApp.h"

// The one application object of the process.
CQLSDownloaderApp theApp;

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
