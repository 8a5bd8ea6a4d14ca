#pragma once
// Where the events of the library go: the client window, the event callback
// and the client's user value handed back to the callback.

#include "MeshdropLib.h"

struct ClientEventTarget {
    HWND window = nullptr;
    MeshdropLibEventCallback callback = nullptr;
    void* userValue = nullptr;
};

// Posts MESHDROPLIB_WM_EVENT with the code and parameter to the window when
// one is known, then calls the callback when one was given.
void RaiseClientEvent(const ClientEventTarget& target, UINT code, LPARAM param);
