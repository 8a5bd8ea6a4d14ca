#include "cp/cpCSocketWindow.h"

#include <atomic>

#include "cp/cpCMutex.h"
#include "cp/cpCQoS.h"

namespace {

std::atomic<int> g_liveWindows{0};
std::atomic<cpCMutex*> g_lock{nullptr};
std::atomic<cpCQoS*> g_manager{nullptr};

// The kind of socket event a notice stands for, or 0 when it calls nothing.
int SocketEventKind(WORD event, int error)
{
    switch (event) {
    case FD_READ:
        return CP_SOCKET_EVENT_READABLE;
    case FD_WRITE:
        return CP_SOCKET_EVENT_WRITABLE;
    case FD_ACCEPT:
        return CP_SOCKET_EVENT_ACCEPT;
    case FD_CONNECT:
        if (error == 0) {
            return CP_SOCKET_EVENT_CONNECTED;
        }
        if (error == WSAECONNREFUSED) {
            return CP_SOCKET_EVENT_REFUSED;
        }
        // No route to the host, or to its network (an IPv6 address on a
        // machine without IPv6 routes): the next address is tried at once.
        if (error == WSAEHOSTUNREACH || error == WSAENETUNREACH) {
            return CP_SOCKET_EVENT_UNREACHABLE;
        }
        // Any other connect error (a time-out among them) is left to the
        // context's own connect timer.
        return 0;
    case FD_CLOSE:
        return CP_SOCKET_EVENT_CLOSED;
    default:
        return 0;
    }
}

} // namespace

cpCSocketWindow::~cpCSocketWindow()
{
    Destroy();
}

bool cpCSocketWindow::Create(cpCQoS* manager, cpCMutex* lock)
{
    if (m_holder.window) {
        return true;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &cpCSocketWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    // A second runtime in the same process finds the class registered already.
    RegisterClassA(&windowClass);
    m_holder.window = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!m_holder.window) {
        return false;
    }
    g_lock = lock;
    g_manager = manager;
    ++g_liveWindows;
    return true;
}

void cpCSocketWindow::Destroy()
{
    if (!m_holder.window) {
        return;
    }
    --g_liveWindows;
    g_lock = nullptr;
    g_manager = nullptr;
    PostMessageA(m_holder.window, CP_WM_SOCKET_WINDOW_STOP, 0, 0);
    // A window can only be destroyed by its own thread; a runtime torn down
    // elsewhere leaves it to the end of that thread.
    if (GetWindowThreadProcessId(m_holder.window, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(m_holder.window);
    }
    m_holder.window = nullptr;
}

LRESULT CALLBACK cpCSocketWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool socketNotice = message >= CP_WM_SOCKET_NOTIFY && message < CP_WM_SOCKET_NOTIFY + CP_SOCKET_SLOTS;
    const bool budgetWake =
        message == WM_TIMER && wParam >= CP_BUDGET_TIMER_ID && wParam < CP_BUDGET_TIMER_ID + CP_SOCKET_SLOTS;
    if (message != CP_WM_CONTEXT_EVENT && !socketNotice && !budgetWake) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (budgetWake) {
        KillTimer(window, wParam); // one wake per start
    }
    cpCMutexLock lock(g_lock.load());
    cpCQoS* manager = g_manager;
    if (g_liveWindows == 0 || !manager) {
        return socketNotice ? DefWindowProcA(window, message, wParam, lParam) : 0;
    }
    if (budgetWake) {
        manager->OnBudgetWake(static_cast<int>(wParam - CP_BUDGET_TIMER_ID));
        return 0;
    }
    if (message == CP_WM_CONTEXT_EVENT) {
        manager->OnContextEvent(static_cast<int>(wParam), static_cast<std::uint64_t>(lParam));
        return 0;
    }
    const int slot = static_cast<int>(message - CP_WM_SOCKET_NOTIFY);
    const auto socket = static_cast<SOCKET>(wParam);
    // A notice of a socket the slot no longer holds (closed since it was
    // posted, the slot reused) is dropped.
    if (socket == INVALID_SOCKET || !manager->SlotUsesSocket(slot, socket)) {
        return 0;
    }
    const int error = static_cast<short>(WSAGETSELECTERROR(lParam));
    const int kind = SocketEventKind(WSAGETSELECTEVENT(lParam), error);
    if (kind != 0) {
        manager->OnSocketEvent(slot, socket, kind, error);
    }
    return 0;
}
