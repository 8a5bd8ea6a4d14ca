// Process-wide switches that let tests reach failure paths (win32_ext.h).
#pragma once

#include <cstddef>

namespace w32 {

bool DiskFullForTesting();
// -1: the real state, 0: down, 1: up.
int InternetConnectedForTesting();
bool ElevationDeclinedForTesting();
// The port whose connects fail as unreachable; 0: none.
unsigned short UnreachablePortForTesting();

// Live object counts of the tables, for the tests' leak check.
size_t LiveHandleCount();
size_t LiveWindowCount();
size_t LiveSocketCount();

}  // namespace w32
