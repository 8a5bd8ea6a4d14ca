#pragma once
#include <cstdint>

namespace testsupport {

// A TCP port of 127.0.0.1 that was free when asked (nothing listens on it
// until someone binds it).
uint16_t freeLoopbackPort();

} // namespace testsupport
