// The logs a player attaches to a support request: where they lie, and
// --collect-logs, which packs them with the versions and the platform into
// one archive.
#pragma once

#include <string>

#include "LogLocations.h"

// Lines naming both logs, for --help and for a run that failed.
std::string LogPathsText(const LogLocations& logs);

// What the archive's "versions.txt" says: this program's version, the
// installed engine's, the platform, the C: drive and the logs found.
std::string VersionsText(const LogLocations& logs, const std::string& programVersion);

// Writes the archive `file` (its kind from its name: .tar.gz, .tgz, .zip,
// .tar.xz, ...; a name without a known ending gives a .tar.gz) holding
// the logs that exist and versions.txt, all in one folder. False with a
// reason in `error` when it cannot be written.
bool CollectLogs(const std::string& file, const LogLocations& logs, const std::string& programVersion,
                 std::string& error);
