// Where the logs a player attaches to a support request lie: the download
// library's service log and the local engine's log, both in the engine's
// folder of the roaming application-data folder. The command-line front end
// names them when it fails and packs them for a support request.
#pragma once

#include <string>

struct LogLocations {
    std::string engineFolder;  // the engine's folder
    std::string engineProgram; // the engine's program in it
    std::string serviceLog;    // the library's log
    std::string engineLog;     // the engine's log
    std::string engineLogOld;  // the engine's previous log, once the log grew full
};

// The Windows paths of the library and the engine.
LogLocations WindowsLogLocations();
// The same as POSIX paths, as a Linux user finds them.
LogLocations PosixLogLocations();
