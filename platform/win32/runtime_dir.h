// The per-user runtime folder shared by the processes of this program
// (published windows, their request sockets, named-mutex lock files).
#pragma once

#include <string>

namespace w32 {

// Created (mode 0700) on first use; empty when it cannot be had. A folder in
// the shared temporary directory is used only when it is private to the
// user (see runtime_dir.cpp).
std::string RuntimeDir();

// Opens (with `flags`, O_CREAT making it 0600) a file in the runtime folder,
// never through a symbolic link. -1 with errno on failure.
int OpenPrivateFile(const std::string& path, int flags);

}  // namespace w32
