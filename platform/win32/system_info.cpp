// Version query, module file name, and the calls that exist only because of
// Windows (error modes, common-control registration), which do nothing.
#include <unistd.h>

#include <cstring>
#include <vector>

#include "paths.h"
#include "text.h"

namespace {

constexpr DWORD kMajor = 6, kMinor = 1, kBuild = 7601;

template <typename Info>
BOOL FillVersion(Info* info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(DWORD) * 5) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = kMajor;
  info->dwMinorVersion = kMinor;
  info->dwBuildNumber = kBuild;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = 0;
  return TRUE;
}

std::wstring ExecutablePath() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  buf[static_cast<size_t>(n)] = 0;
  return w32::FromPosixPath(buf.data());
}

}  // namespace

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  BOOL ok = FillVersion(lpVersionInformation);
  if (ok && lpVersionInformation->dwOSVersionInfoSize >= sizeof(OSVERSIONINFOEXW)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation);
    ex->wServicePackMajor = 1;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = 1;  // VER_NT_WORKSTATION
  }
  return ok;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  BOOL ok = FillVersion(lpVersionInformation);
  if (ok && lpVersionInformation->dwOSVersionInfoSize >= sizeof(OSVERSIONINFOEXA)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
    ex->wServicePackMajor = 1;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = 1;
  }
  return ok;
}

DWORD WINAPI GetVersion(void) { return kMajor | (kMinor << 8) | (kBuild << 16); }

// Error-mode dialogs do not exist on Linux: nothing to change.
UINT WINAPI SetErrorMode(UINT) { return 0; }

// Windows' own control classes are not used: nothing to register.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return TRUE; }
void WINAPI InitCommonControls(void) {}

DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
  std::wstring path = ExecutablePath();
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD n = static_cast<DWORD>(std::min<size_t>(path.size(), nSize - 1));
  std::wmemcpy(lpFilename, path.c_str(), n);
  lpFilename[n] = 0;
  SetLastError(n < path.size() ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
  return n < path.size() ? nSize : n;
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
  std::string path = w32::WideToAcp(ExecutablePath());
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD n = static_cast<DWORD>(std::min<size_t>(path.size(), nSize - 1));
  std::memcpy(lpFilename, path.c_str(), n);
  lpFilename[n] = 0;
  SetLastError(n < path.size() ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
  return n < path.size() ? nSize : n;
}
