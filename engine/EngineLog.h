#pragma once
// The engine's own log: "QLSDownloadV32.log" in the folder of its program,
// one line per event, "[" + local time as asctime gives it + "] " + text. The
// log is kept below 1 MiB: a full log becomes "QLSDownloadV32.log.old" and a
// new one starts. Written from the engine's main thread only.

#include <string>

namespace engine {

// Opens (appends to) the log in `folder`; without a call nothing is written.
void OpenLog(const std::string& folder);
void CloseLog();
// printf-style; the line ends with a newline of its own.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace engine
