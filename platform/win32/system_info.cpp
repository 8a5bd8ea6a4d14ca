// Version query, module file name, and the calls that exist only because of
// Windows (error modes, common-control registration), which do nothing.
#include <unistd.h>

#include <algorithm>
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

// Copies a path into a caller's buffer with GetModuleFileName's truncation rule.
template <typename Char>
DWORD CopyTruncated(const std::basic_string<Char>& path, Char* out, DWORD size) {
  if (out == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD n = static_cast<DWORD>(std::min<size_t>(path.size(), size - 1));
  std::copy(path.begin(), path.begin() + n, out);
  out[n] = 0;
  SetLastError(n < path.size() ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
  return n < path.size() ? size : n;
}

template <typename Info, typename InfoEx>
BOOL FillVersionEx(Info* info) {
  BOOL ok = FillVersion(info);
  if (ok && info->dwOSVersionInfoSize >= sizeof(InfoEx)) {
    auto* ex = reinterpret_cast<InfoEx*>(info);
    ex->wServicePackMajor = 1;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = 1;  // VER_NT_WORKSTATION
  }
  return ok;
}

}  // namespace

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  return FillVersionEx<OSVERSIONINFOW, OSVERSIONINFOEXW>(lpVersionInformation);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  return FillVersionEx<OSVERSIONINFOA, OSVERSIONINFOEXA>(lpVersionInformation);
}

DWORD WINAPI GetVersion(void) { return kMajor | (kMinor << 8) | (kBuild << 16); }

// Error-mode dialogs do not exist on Linux: nothing to change.
UINT WINAPI SetErrorMode(UINT) { return 0; }

// Windows' own control classes are not used: nothing to register.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return TRUE; }
void WINAPI InitCommonControls(void) {}

DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
  return CopyTruncated(ExecutablePath(), lpFilename, nSize);
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
  return CopyTruncated(w32::WideToAcp(ExecutablePath()), lpFilename, nSize);
}
