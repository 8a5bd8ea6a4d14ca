// The per-user runtime folder shared by the processes of this program
// (published windows, their request sockets, named-mutex lock files).
#pragma once

#include <string>

namespace w32 {

// Created (mode 0700) on first use; empty when it cannot be created.
std::string RuntimeDir();

}  // namespace w32
