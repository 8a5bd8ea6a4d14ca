// Forwarding header: the declarations are in windows.h.
#pragma once

#include "windows.h"
