// A second process for the tests: "second-instance <mutex> <title>" checks
// that the named mutex already exists, finds the first instance's window by
// its title, checks its published minimised state, asks it to restore and its
// open pop-up (which must not be the window itself) to come to the front. The
// exit code tells which step failed (0: all done).
#include <win32_ext.h>
#include <windows.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "second-instance") == 0) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[2]);
    if (mutex == nullptr) return 2;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 3;
    HWND first = FindWindowA(nullptr, argv[3]);
    if (first == nullptr) return 4;
    if (!IsIconic(first)) return 5;
    HWND popup = GetLastActivePopup(first);
    if (popup == nullptr || popup == first) return 8;
    if (!ShowWindow(first, SW_RESTORE)) return 6;
    if (!SetForegroundWindow(popup)) return 7;
    CloseHandle(mutex);
    return 0;
  }
  return 100;
}
