#pragma once
// A client window as the main dialog has one: created on the test's thread,
// it receives the library's event messages, which the test pumps with
// GetMessage/DispatchMessage the way the dialog's message loop does.

#include <cstddef>
#include <utility>
#include <vector>

#include <windows.h>

#include "MeshdropLib.h"

class TestClientWindow {
public:
    TestClientWindow()
    {
        static const ATOM registered = Register();
        (void)registered;
        m_hWnd = CreateWindowExA(0, kClassName, "test client", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~TestClientWindow()
    {
        if (m_hWnd != nullptr)
            DestroyWindow(m_hWnd);
    }
    TestClientWindow(const TestClientWindow&) = delete;
    TestClientWindow& operator=(const TestClientWindow&) = delete;

    HWND Handle() const { return m_hWnd; }

    // Dispatches this thread's messages until `count` events with the code
    // have arrived in all, or the limit has passed (false).
    bool PumpUntil(UINT code, size_t count = 1, UINT limitMs = 20000)
    {
        m_timedOut = false;
        SetTimer(m_hWnd, kTimeoutTimer, limitMs, nullptr);
        MSG msg;
        while (Count(code) < count && !m_timedOut && GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        KillTimer(m_hWnd, kTimeoutTimer);
        return Count(code) >= count;
    }

    // Dispatches what is queued now, without waiting.
    void Drain()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }

    size_t Count(UINT code) const
    {
        size_t n = 0;
        for (const auto& event : m_events)
            n += event.first == code ? 1 : 0;
        return n;
    }

    const std::vector<std::pair<UINT, LPARAM>>& Events() const { return m_events; }

private:
    static constexpr const char* kClassName = "MeshdropTestClient";
    static constexpr UINT_PTR kTimeoutTimer = 0x7E57;

    static ATOM Register()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &TestClientWindow::WindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc);
    }

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<TestClientWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (self != nullptr && msg == MESHDROPLIB_WM_EVENT) {
            self->m_events.emplace_back(static_cast<UINT>(wParam), lParam);
            return 0;
        }
        if (self != nullptr && msg == WM_TIMER && wParam == kTimeoutTimer) {
            self->m_timedOut = true;
            return 0;
        }
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
    bool m_timedOut = false;
    std::vector<std::pair<UINT, LPARAM>> m_events;
};
