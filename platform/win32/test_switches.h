// Process-wide switches that let tests reach failure paths (win32_ext.h).
#pragma once

namespace w32 {

bool DiskFullForTesting();
// -1: the real state, 0: down, 1: up.
int InternetConnectedForTesting();
bool ElevationDeclinedForTesting();

}  // namespace w32
