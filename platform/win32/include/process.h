// Forwarding header: _beginthreadex is declared in windows.h.
#pragma once

#include "windows.h"
