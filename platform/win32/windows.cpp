// Window classes, windows, window procedures, dispatching and posting.
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "handle_table.h"
#include "test_switches.h"
#include "text.h"
#include "win32_ext.h"
#include "window_registry.h"
#include "window_table.h"

namespace w32 {
namespace {

struct WindowClass {
  std::wstring name;
  WNDPROC proc;
  UINT style;
  HINSTANCE instance;
  ATOM atom;
};

struct WindowTable {
  std::mutex mutex;
  std::unordered_map<std::wstring, WindowClass> classes;  // by lower-case name
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  uintptr_t nextHandle = 0x20000;
  ATOM nextAtom = 0xC000;
};

WindowTable& Table() {
  static WindowTable* table = new WindowTable;
  return *table;
}

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

// Class names may be given as an atom (MAKEINTATOM) instead of a string.
bool IsAtom(const void* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

const WindowClass* FindClassLocked(WindowTable& t, LPCWSTR name) {
  if (IsAtom(name)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    for (auto& [key, cls] : t.classes)
      if (cls.atom == atom) return &cls;
    return nullptr;
  }
  auto it = t.classes.find(Lower(name));
  return it == t.classes.end() ? nullptr : &it->second;
}

ATOM Register(LPCWSTR name, WNDPROC proc, UINT style, HINSTANCE instance) {
  if (name == nullptr || IsAtom(name) || proc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::wstring key = Lower(name);
  if (t.classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ATOM atom = t.nextAtom++;
  t.classes.emplace(key, WindowClass{name, proc, style, instance, atom});
  return atom;
}

BOOL Unregister(LPCWSTR name) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  const WindowClass* cls = FindClassLocked(t, name);
  if (cls == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  t.classes.erase(Lower(cls->name));
  return TRUE;
}

bool IsTopLevel(const Window& w) { return w.parent == nullptr && (w.style & WS_CHILD) == 0; }

// Narrow-string arguments of an A call, kept alive for the CREATESTRUCTA.
struct NarrowNames {
  std::string className;
  std::string title;
};

HWND Create(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y, int width, int height,
            HWND parent, HMENU menu, HINSTANCE instance, LPVOID param, const NarrowNames* narrow) {
  auto queue = MessageQueue::Current();
  if (!queue || className == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto window = std::make_shared<Window>();
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const WindowClass* cls = FindClassLocked(t, className);
    if (cls == nullptr) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    window->className = cls->name;
    window->proc = cls->proc;
    window->title = title ? title : L"";
    window->parent = parent == HWND_MESSAGE ? nullptr : parent;
    window->style = style;
    window->id = reinterpret_cast<LONG_PTR>(menu);
    window->instance = instance;
    window->visible = (style & WS_VISIBLE) != 0;
    window->queue = queue;
    window->handle = reinterpret_cast<HWND>(t.nextHandle);
    t.nextHandle += 8;
    if (parent == HWND_MESSAGE) window->style |= WS_CHILD;  // message-only windows are not found by title
    t.windows.emplace(reinterpret_cast<uintptr_t>(window->handle), window);
  }
  HWND hwnd = window->handle;
  LPARAM create;
  CREATESTRUCTW csw{param, instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
                    title, className, exStyle};
  CREATESTRUCTA csa{};
  if (narrow) {
    csa = CREATESTRUCTA{param,
                        instance,
                        menu,
                        parent,
                        height,
                        width,
                        y,
                        x,
                        static_cast<LONG>(style),
                        narrow->title.c_str(),
                        narrow->className.c_str(),
                        exStyle};
    create = reinterpret_cast<LPARAM>(&csa);
  } else {
    create = reinterpret_cast<LPARAM>(&csw);
  }
  if (window->proc(hwnd, WM_NCCREATE, 0, create) == 0 || window->proc(hwnd, WM_CREATE, 0, create) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (IsTopLevel(*window) && !window->title.empty()) PublishWindows();
  return hwnd;
}

LONG_PTR GetLong(HWND hwnd, int index) {
  auto window = LookupWindow(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  switch (index) {
    case GWLP_USERDATA: return window->userData;
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(window->proc);
    case GWLP_ID: return window->id;
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(window->instance);
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
}

LONG_PTR SetLong(HWND hwnd, int index, LONG_PTR value) {
  auto window = LookupWindow(hwnd);
  if (!window || window->remotePid != 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  LONG_PTR previous = 0;
  switch (index) {
    case GWLP_USERDATA:
      previous = window->userData;
      window->userData = value;
      break;
    case GWLP_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(window->proc);
      window->proc = reinterpret_cast<WNDPROC>(value);
      break;
    case GWLP_ID:
      previous = window->id;
      window->id = value;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
  SetLastError(0);
  return previous;
}

BOOL SetTitle(HWND hwnd, std::wstring title) {
  auto window = LookupWindow(hwnd);
  if (!window || window->remotePid != 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    window->title = std::move(title);
  }
  if (IsTopLevel(*window)) PublishWindows();
  return TRUE;
}

std::wstring Title(HWND hwnd, bool* ok) {
  auto window = LookupWindow(hwnd);
  *ok = window != nullptr;
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return {};
  }
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return window->title;
}

LRESULT DefaultProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool unicode) {
  switch (message) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_SETTEXT:
      if (unicode) return SetTitle(hwnd, lParam ? reinterpret_cast<LPCWSTR>(lParam) : L"");
      return SetTitle(hwnd, AcpToWide(reinterpret_cast<LPCSTR>(lParam)));
    case WM_GETTEXTLENGTH: {
      bool ok;
      return static_cast<LRESULT>(Title(hwnd, &ok).size());
    }
    case WM_GETTEXT:
      if (unicode) return GetWindowTextW(hwnd, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
      return GetWindowTextA(hwnd, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_RESTORE) W32SetWindowIconic(hwnd, FALSE);
      if ((wParam & 0xFFF0) == SC_MINIMIZE) W32SetWindowIconic(hwnd, TRUE);
      if ((wParam & 0xFFF0) == SC_CLOSE) PostMessageW(hwnd, WM_CLOSE, 0, 0);
      return 0;
    default: return 0;
  }
}

}  // namespace

std::shared_ptr<Window> LookupWindow(HWND hwnd) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == t.windows.end() ? nullptr : it->second;
}

bool UpdateWindowState(HWND hwnd, int iconic, int visible, bool* wasVisible, bool* iconicChanged) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  if (it == t.windows.end() || !it->second->queue) return false;
  Window& w = *it->second;
  if (wasVisible) *wasVisible = w.visible;
  if (iconicChanged) *iconicChanged = iconic >= 0 && w.iconic != (iconic != 0);
  if (iconic >= 0) w.iconic = iconic != 0;
  if (visible >= 0) w.visible = visible != 0;
  return true;
}

bool WindowIsIconic(HWND hwnd) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it != t.windows.end() && it->second->iconic;
}

std::shared_ptr<MessageQueue> WindowQueue(HWND hwnd) {
  auto window = LookupWindow(hwnd);
  if (!window || !window->queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return window->queue;
}

LRESULT CallWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = LookupWindow(hwnd);
  if (!window || !window->queue || window->proc == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return window->proc(hwnd, message, wParam, lParam);
}

void DestroyThreadWindows(DWORD threadId) {
  std::vector<std::shared_ptr<Window>> doomed;  // released outside the lock
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (auto it = t.windows.begin(); it != t.windows.end();) {
      if (it->second->queue && it->second->queue->ThreadId() == threadId) {
        doomed.push_back(std::move(it->second));
        it = t.windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (!doomed.empty()) PublishWindows();
}

namespace {

// The innermost of `w`'s pop-ups still in the table; the table lock is held.
HWND InnermostPopupLocked(WindowTable& t, const Window& w) {
  for (auto it = w.popups.rbegin(); it != w.popups.rend(); ++it)
    if (t.windows.count(reinterpret_cast<uintptr_t>(*it)) != 0) return *it;
  return nullptr;
}

}  // namespace

std::vector<PublishedWindow> TitledTopLevelWindows() {
  std::vector<PublishedWindow> result;
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& [handle, w] : t.windows) {
    if (w->queue && IsTopLevel(*w) && !w->title.empty())
      result.push_back({handle, w->iconic, w->title, reinterpret_cast<uintptr_t>(InnermostPopupLocked(t, *w))});
  }
  return result;
}

bool SetActivePopup(HWND owner, HWND popup, bool open) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(owner));
  if (it == t.windows.end() || !it->second->queue) return false;
  std::vector<HWND>& popups = it->second->popups;
  popups.erase(std::remove(popups.begin(), popups.end(), popup), popups.end());
  // Pop-ups that are gone without being closed here are dropped as well.
  popups.erase(std::remove_if(popups.begin(), popups.end(),
                              [&](HWND p) { return t.windows.count(reinterpret_cast<uintptr_t>(p)) == 0; }),
               popups.end());
  if (open && popup != nullptr && popup != owner) popups.push_back(popup);
  return true;
}

HWND InnermostPopup(HWND owner) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(owner));
  return it == t.windows.end() ? nullptr : InnermostPopupLocked(t, *it->second);
}

HWND FindLocalWindow(const std::wstring* className, const std::wstring& title) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  HWND found = nullptr;
  for (auto& [handle, w] : t.windows) {
    if (!w->queue || !IsTopLevel(*w) || w->title != title) continue;
    if (className && Lower(w->className) != Lower(*className)) continue;
    if (found == nullptr || reinterpret_cast<uintptr_t>(w->handle) < reinterpret_cast<uintptr_t>(found))
      found = w->handle;  // the oldest window of that title
  }
  return found;
}

HWND RemoteWindowHandle(DWORD pid, uintptr_t remoteHandle, const std::wstring& title, bool iconic) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& [handle, w] : t.windows) {
    if (w->remotePid == pid && w->remoteHandle == remoteHandle) {
      w->title = title;
      w->iconic = iconic;
      return w->handle;
    }
  }
  auto window = std::make_shared<Window>();
  window->remotePid = pid;
  window->remoteHandle = remoteHandle;
  window->title = title;
  window->iconic = iconic;
  window->handle = reinterpret_cast<HWND>(t.nextHandle);
  t.nextHandle += 8;
  t.windows.emplace(reinterpret_cast<uintptr_t>(window->handle), window);
  return window->handle;
}

size_t LiveWindowCount() {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.windows.size();
}

}  // namespace w32

using namespace w32;

ATOM WINAPI RegisterClassW(const WNDCLASSW* c) {
  return c ? Register(c->lpszClassName, c->lpfnWndProc, c->style, c->hInstance) : 0;
}

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* c) {
  return c ? Register(c->lpszClassName, c->lpfnWndProc, c->style, c->hInstance) : 0;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* c) {
  if (!c || !c->lpszClassName) return Register(nullptr, nullptr, 0, nullptr);
  return Register(AcpToWide(c->lpszClassName).c_str(), c->lpfnWndProc, c->style, c->hInstance);
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* c) {
  if (!c || !c->lpszClassName) return Register(nullptr, nullptr, 0, nullptr);
  return Register(AcpToWide(c->lpszClassName).c_str(), c->lpfnWndProc, c->style, c->hInstance);
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE) { return Unregister(lpClassName); }

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
  if (IsAtom(lpClassName)) return Unregister(reinterpret_cast<LPCWSTR>(lpClassName));
  return Unregister(AcpToWide(lpClassName).c_str());
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  return Create(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu, hInstance,
                lpParam, nullptr);
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  NarrowNames narrow{IsAtom(lpClassName) ? std::string() : std::string(lpClassName ? lpClassName : ""),
                     lpWindowName ? lpWindowName : ""};
  std::wstring className = IsAtom(lpClassName) ? std::wstring() : AcpToWide(lpClassName);
  std::wstring title = AcpToWide(lpWindowName);
  LPCWSTR classArg = IsAtom(lpClassName) ? reinterpret_cast<LPCWSTR>(lpClassName) : className.c_str();
  return Create(dwExStyle, classArg, lpWindowName ? title.c_str() : nullptr, dwStyle, X, Y, nWidth, nHeight, hWndParent,
                hMenu, hInstance, lpParam, &narrow);
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  auto window = LookupWindow(hWnd);
  if (!window || !window->queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (window->proc) {
    window->proc(hWnd, WM_DESTROY, 0, 0);
    window->proc(hWnd, WM_NCDESTROY, 0, 0);
  }
  window->queue->KillWindowTimers(hWnd);
  bool published = IsTopLevel(*window) && !window->title.empty();
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.windows.erase(reinterpret_cast<uintptr_t>(hWnd));
  }
  if (published) PublishWindows();
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return LookupWindow(hWnd) ? TRUE : FALSE; }

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  auto window = LookupWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (lpdwProcessId) *lpdwProcessId = window->queue ? GetCurrentProcessId() : window->remotePid;
  return window->queue ? window->queue->ThreadId() : 0;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) { return GetLong(hWnd, nIndex); }
LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) { return GetLong(hWnd, nIndex); }
LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR v) { return SetLong(hWnd, nIndex, v); }
LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR v) { return SetLong(hWnd, nIndex, v); }

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) { return SetTitle(hWnd, lpString ? lpString : L""); }

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) { return SetTitle(hWnd, AcpToWide(lpString)); }

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  bool ok;
  std::wstring title = Title(hWnd, &ok);
  if (!ok || lpString == nullptr || nMaxCount <= 0) return 0;
  size_t n = std::min(title.size(), static_cast<size_t>(nMaxCount - 1));
  std::wmemcpy(lpString, title.data(), n);
  lpString[n] = 0;
  return static_cast<int>(n);
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  bool ok;
  std::string title = WideToAcp(Title(hWnd, &ok));
  if (!ok || lpString == nullptr || nMaxCount <= 0) return 0;
  size_t n = std::min(title.size(), static_cast<size_t>(nMaxCount - 1));
  std::memcpy(lpString, title.data(), n);
  lpString[n] = 0;
  return static_cast<int>(n);
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return DefaultProcedure(hWnd, Msg, wParam, lParam, true);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return DefaultProcedure(hWnd, Msg, wParam, lParam, false);
}

LRESULT WINAPI CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(lpPrevWndFunc, hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == nullptr) {  // a thread message to the calling thread
    auto queue = MessageQueue::Current();
    return queue && queue->Post(nullptr, Msg, wParam, lParam) ? TRUE : FALSE;
  }
  auto queue = WindowQueue(hWnd);
  return queue && queue->Post(hWnd, Msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return PostMessageW(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto queue = WindowQueue(hWnd);
  if (!queue) return 0;
  if (queue->ThreadId() == GetCurrentThreadId()) return CallWindowProcedure(hWnd, Msg, wParam, lParam);
  return queue->Send(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
  if (lpMsg == nullptr) return 0;
  if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
    auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
    proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
    return 0;
  }
  if (lpMsg->hwnd == nullptr) return 0;  // thread messages have no procedure
  return CallWindowProcedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) { return DispatchMessageW(lpMsg); }

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName != nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // only the executable itself is known
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(0x400000);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) { return GetModuleHandleW(lpModuleName ? L"?" : nullptr); }
