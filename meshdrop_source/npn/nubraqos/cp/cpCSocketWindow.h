#pragma once
// The hidden window "CAsyncSocket MeshdropSDK Window" that receives every
// socket notice (0x40A + slot) and every posted context event (0x409) of the
// network library, on the thread that created it.

#include <windows.h>

#include "cp/cpSocketRecord.h"

class cpCMutex;
class cpCQoS;

class cpCSocketWindow {
public:
    cpCSocketWindow() = default;
    ~cpCSocketWindow();
    cpCSocketWindow(const cpCSocketWindow&) = delete;
    cpCSocketWindow& operator=(const cpCSocketWindow&) = delete;

    static constexpr const char* kClassName = "CAsyncSocket MeshdropSDK Window";

    // Registers the class (once per process) and creates the window on the
    // calling thread; messages go to `manager` under `lock`.
    bool Create(cpCQoS* manager, cpCMutex* lock);
    // Posts 0x408 and destroys the window (when called on its thread).
    void Destroy();

    cpSocketWindowHolder& Holder() { return m_holder; }
    HWND GetHandle() const { return m_holder.window; }

    // The window procedure.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    cpSocketWindowHolder m_holder;
};
