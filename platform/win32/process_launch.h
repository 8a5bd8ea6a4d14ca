// Starting programs: how a file is run (directly, through wine, through
// xdg-open) and the process objects behind process handles.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handle_table.h"

namespace w32 {

// The command that runs `program` (a POSIX path) with `args`, or nullopt with
// *error set (ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_NO_ASSOCIATION).
// A Linux program without the execute bit is made executable for the user.
// With `openDocuments`, files that are not programs go to xdg-open.
std::optional<std::vector<std::string>> CommandFor(const std::string& program, const std::vector<std::string>& args,
                                                   bool openDocuments, DWORD* error);

// Starts the command in `directory` (empty: the current one) with a
// readiness pipe; returns a handle to the new process, or nullptr with the
// last error set. *pid receives its id.
HANDLE Launch(const std::vector<std::string>& command, const std::string& directory, DWORD* pid);

// The full path of a program found in PATH, or empty.
std::string FindInPath(const char* name);

// Splits a command line with the Windows quoting rules.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

}  // namespace w32
