#pragma once

#include <string>
// The service log: the library's only trace. Each line is
// "[" + asctime text without its newline + "] " + message + CR LF, appended to
// "config\service.log" in the library's data folder. Lines come from the
// client's thread and the worker thread; every write opens, appends and
// closes the file, and a line that cannot be written is dropped.

// Appends one line.
void WriteServiceLog(const char* message);

// Formats with printf rules (any length) and appends the result as one line.
void WriteServiceLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text with every control byte shown as "?", so that text from the
// network (a URL, a path, an engine's words) cannot break the log's lines.
std::string PrintableLogText(std::string text);

// The diagnostic channel: lines tagged "[MeshdropLib_D]" are discarded.
void WriteDiagnosticLog(const char* message);

// Creates the folders along the log's path and empties the log.
void ResetServiceLog();

// The full path of the log file, built once for the life of the process.
const char* GetServiceLogPath();
