// FindWindow across the processes of this program, and the restore and
// activate requests that reach a window of another process.
//
// Each process that has titled top-level windows writes them to
// <runtime>/windows-<pid>.txt (one line per window: handle, iconic flag,
// handle of its innermost open modal pop-up or 0, class and title, escaped) and answers requests on
// <runtime>/proc-<pid>.sock: a line "restore <handle>" or "activate <handle>" is turned into WM_SYSCOMMAND(SC_RESTORE)
// or WM_ACTIVATE(WA_ACTIVE) posted to that window, and answered with "ok".
#include "window_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "runtime_dir.h"
#include "text.h"
#include "win32_ext.h"
#include "window_table.h"

namespace w32 {
namespace {

constexpr size_t kMaxRequest = 128;

std::string Escape(const std::wstring& text) {
  std::string out;
  for (char c : WideToUtf8(text)) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::wstring Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char n = text[++i];
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += text[i];
    }
  }
  return Utf8ToWide(out);
}

std::string ListPath(const std::string& dir, long pid) { return dir + "/windows-" + std::to_string(pid) + ".txt"; }
std::string SocketPath(const std::string& dir, long pid) { return dir + "/proc-" + std::to_string(pid) + ".sock"; }

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

struct Published {
  std::mutex mutex;
  std::string dir;  // where this process published, empty until the first time
  bool listening = false;
};

Published& State() {
  static Published* state = new Published;
  return *state;
}

void RemovePublished() {
  Published& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.dir.empty()) return;
  unlink(ListPath(s.dir, getpid()).c_str());
  unlink(SocketPath(s.dir, getpid()).c_str());
}

void Serve(int listener) {
  for (;;) {
    int conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    timeval tv{2, 0};
    setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    char buf[kMaxRequest + 1];
    size_t got = 0;
    while (got < kMaxRequest) {
      ssize_t n = read(conn, buf + got, kMaxRequest - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (std::memchr(buf, '\n', got)) break;
    }
    buf[got] = 0;
    char verb[16] = {0};
    unsigned long long handle = 0;
    bool ok = false;
    if (std::sscanf(buf, "%15s %llx", verb, &handle) == 2) {
      HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
      if (std::strcmp(verb, "restore") == 0) ok = PostMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
      if (std::strcmp(verb, "activate") == 0) ok = PostMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
    }
    const char* reply = ok ? "ok\n" : "no\n";
    ssize_t n = send(conn, reply, std::strlen(reply), MSG_NOSIGNAL);  // a vanished client raises no SIGPIPE
    (void)n;
    close(conn);
  }
}

// Starts the request listener once; `s.mutex` is held.
void ListenLocked(Published& s) {
  if (s.listening) return;
  std::string path = SocketPath(s.dir, getpid());
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return;
  }
  s.listening = true;
  std::atexit(RemovePublished);
  // Lives as long as the process: it only waits in accept().
  std::thread(Serve, fd).detach();
}

struct RemoteEntry {
  long pid;
  uintptr_t handle;
  bool iconic;
  uintptr_t popup;
  std::wstring className;
  std::wstring title;
};

bool ProcessAlive(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

std::vector<RemoteEntry> ReadList(const std::string& dir, long pid) {
  std::vector<RemoteEntry> entries;
  std::ifstream in(ListPath(dir, pid));
  std::string line;
  size_t lines = 0;
  while (std::getline(in, line) && ++lines <= 4096) {
    std::istringstream fields(line);
    std::string handle, iconic, popup, rest;
    if (!(fields >> handle >> iconic >> popup)) continue;
    std::getline(fields, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    size_t tab = rest.find('\t');
    if (tab == std::string::npos) continue;
    RemoteEntry e{pid,
                  static_cast<uintptr_t>(std::strtoull(handle.c_str(), nullptr, 16)),
                  iconic == "1",
                  static_cast<uintptr_t>(std::strtoull(popup.c_str(), nullptr, 16)),
                  Unescape(rest.substr(0, tab)),
                  Unescape(rest.substr(tab + 1))};
    entries.push_back(std::move(e));
  }
  return entries;
}

// Published windows of other live processes; lists of dead ones are removed.
std::vector<RemoteEntry> RemoteWindows() {
  std::vector<RemoteEntry> all;
  std::string dir = RuntimeDir();
  if (dir.empty()) return all;
  DIR* d = opendir(dir.c_str());
  if (!d) return all;
  while (dirent* ent = readdir(d)) {
    long pid = 0;
    char tail[8] = {0};
    if (std::sscanf(ent->d_name, "windows-%ld.%7s", &pid, tail) != 2 || std::strcmp(tail, "txt") != 0) continue;
    if (pid <= 0 || pid == static_cast<long>(getpid())) continue;
    if (!ProcessAlive(pid)) {
      unlink(ListPath(dir, pid).c_str());
      unlink(SocketPath(dir, pid).c_str());
      continue;
    }
    for (auto& e : ReadList(dir, pid)) all.push_back(std::move(e));
  }
  closedir(d);
  return all;
}

bool SendRequest(DWORD pid, uintptr_t handle, const char* verb) {
  std::string dir = RuntimeDir();
  sockaddr_un addr;
  if (dir.empty() || !FillAddress(SocketPath(dir, pid), &addr)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  bool ok = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    char line[64];
    int n = std::snprintf(line, sizeof(line), "%s %llx\n", verb, static_cast<unsigned long long>(handle));
    if (send(fd, line, static_cast<size_t>(n), MSG_NOSIGNAL) == n) {
      char reply[4] = {0};
      ok = recv(fd, reply, 3, MSG_WAITALL) == 3 && std::memcmp(reply, "ok\n", 3) == 0;
    }
  }
  close(fd);
  return ok;
}

}  // namespace

void PublishWindows() {
  std::vector<PublishedWindow> windows = TitledTopLevelWindows();
  Published& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.dir.empty()) {
    if (windows.empty()) return;
    s.dir = RuntimeDir();
    if (s.dir.empty()) return;
  }
  std::string path = ListPath(s.dir, getpid());
  if (windows.empty()) {
    unlink(path.c_str());
    return;
  }
  ListenLocked(s);
  std::string text;
  for (auto& w : windows) {
    auto window = LookupWindow(reinterpret_cast<HWND>(w.handle));
    std::wstring cls = window ? window->className : std::wstring();
    char head[80];
    std::snprintf(head, sizeof(head), "%llx %d %llx ", static_cast<unsigned long long>(w.handle), w.iconic ? 1 : 0,
                  static_cast<unsigned long long>(w.popup));
    text += head + Escape(cls) + '\t' + Escape(w.title) + '\n';
  }
  // Written beside the list and renamed over it; never through a link.
  std::string tmp = path + ".tmp";
  int fd = OpenPrivateFile(tmp, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return;
  bool written = static_cast<size_t>(write(fd, text.data(), text.size())) == text.size();
  close(fd);
  if (written) rename(tmp.c_str(), path.c_str());
}

}  // namespace w32

using namespace w32;

namespace {

HWND Find(const std::wstring* className, const std::wstring* title) {
  if (title == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);  // windows are found by title here
    return nullptr;
  }
  if (HWND local = FindLocalWindow(className, *title)) return local;
  for (auto& e : RemoteWindows()) {
    if (e.title != *title) continue;
    if (className && e.className != *className) continue;
    return RemoteWindowHandle(static_cast<DWORD>(e.pid), e.handle, e.title, e.iconic);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

// Posts to a window of this process or asks the owning process to.
BOOL Request(HWND hwnd, const char* verb, UINT message, WPARAM wParam) {
  auto window = LookupWindow(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (window->queue) return PostMessageW(hwnd, message, wParam, 0);
  if (!SendRequest(window->remotePid, window->remoteHandle, verb)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  std::wstring cls = lpClassName ? lpClassName : L"";
  std::wstring title = lpWindowName ? lpWindowName : L"";
  return Find(lpClassName ? &cls : nullptr, lpWindowName ? &title : nullptr);
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  std::wstring cls = AcpToWide(lpClassName);
  std::wstring title = AcpToWide(lpWindowName);
  return Find(lpClassName ? &cls : nullptr, lpWindowName ? &title : nullptr);
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  auto window = LookupWindow(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!window->queue) {  // another process's window: only a restore can be asked for
    if (nCmdShow == SW_RESTORE) Request(hWnd, "restore", WM_SYSCOMMAND, SC_RESTORE);
    return TRUE;
  }
  bool minimise = nCmdShow == SW_MINIMIZE || nCmdShow == SW_SHOWMINIMIZED || nCmdShow == SW_SHOWMINNOACTIVE;
  bool wasVisible = false, iconicChanged = false;
  UpdateWindowState(hWnd, minimise ? 1 : -1, nCmdShow == SW_HIDE ? 0 : 1, &wasVisible, &iconicChanged);
  if (iconicChanged) PublishWindows();
  if (nCmdShow == SW_RESTORE) Request(hWnd, "restore", WM_SYSCOMMAND, SC_RESTORE);
  return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) { return Request(hWnd, "activate", WM_ACTIVATE, WA_ACTIVE); }

BOOL WINAPI IsIconic(HWND hWnd) {
  auto window = LookupWindow(hWnd);
  if (!window) return FALSE;
  if (window->queue) return WindowIsIconic(hWnd) ? TRUE : FALSE;
  std::string dir = RuntimeDir();
  for (auto& e : ReadList(dir, window->remotePid))
    if (e.handle == window->remoteHandle) return e.iconic ? TRUE : FALSE;
  return FALSE;
}

HWND WINAPI GetLastActivePopup(HWND hWnd) {
  auto window = LookupWindow(hWnd);
  if (!window) return nullptr;
  if (window->queue) {
    HWND popup = InnermostPopup(hWnd);
    return popup ? popup : hWnd;
  }
  // Another process's window: the pop-up it published, which is activated
  // through that process like the window itself.
  for (auto& e : ReadList(RuntimeDir(), window->remotePid)) {
    if (e.handle == window->remoteHandle && e.popup != 0)
      return RemoteWindowHandle(window->remotePid, e.popup, std::wstring(), false);
  }
  return hWnd;
}

BOOL W32SetActivePopup(HWND hWndOwner, HWND hWndPopup, BOOL open) {
  if (!SetActivePopup(hWndOwner, hWndPopup, open != FALSE)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  PublishWindows();
  return TRUE;
}

BOOL W32SetWindowIconic(HWND hWnd, BOOL iconic) {
  bool changed = false;
  if (!UpdateWindowState(hWnd, iconic ? 1 : 0, -1, nullptr, &changed)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (changed) PublishWindows();
  return TRUE;
}
