// The exit codes of qlsdownloader-cli: one per way a run can end, so that a
// script can tell them apart.
#pragma once

enum CliExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,     // the download library did not start
    kExitUsage = 2,       // bad command line
    kExitFileList = 3,    // the file list could not be fetched, or is unusable
    kExitSizeCheck = 4,   // the sizes of the files could not be learnt
    kExitDownload = 5,    // a file could not be downloaded
    kExitDiskFull = 6,    // not enough disk space for the download
    kExitInstaller = 7,   // --install: no installer, or it could not be started
    kExitSignalBase = 128 // stopped by a signal: 128 + its number (130 for Ctrl-C)
};
