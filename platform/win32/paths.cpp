// Drive mapping in Wine's manner: C: is a folder of its own, Z: is /.
#include "paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <vector>

#include "runtime_dir.h"
#include "text.h"
#include "win32_ext.h"

namespace w32 {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirectories(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') mkdir(path.substr(0, pos).c_str(), 0755);
  }
}

std::string CurrentDirectory() {
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) return "/";
  return buf.data();
}

// $HOME, else the user's home from the password database; never a shared
// folder such as /tmp, where another user could prepare the C: drive. With
// no home at all, the user's private runtime folder holds it.
std::string Home() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  std::vector<char> buf(16384);
  passwd entry{}, *found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/' && std::strcmp(found->pw_dir, "/") != 0)
    return found->pw_dir;
  const std::string runtime = RuntimeDir();
  return runtime.empty() ? CurrentDirectory() : runtime + "/home";
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Splits on either separator and resolves "." and ".." (never above the root).
std::vector<std::string> Components(const std::string& path, char separator) {
  std::vector<std::string> parts;
  std::string current;
  auto flush = [&] {
    if (current.empty() || current == ".") {
    } else if (current == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(current);
    }
    current.clear();
  };
  for (char c : path) {
    if (c == separator || (separator == '\\' && c == '/')) {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return parts;
}

std::string NormalizePosix(const std::string& absolute) {
  std::string out;
  for (auto& part : Components(absolute, '/')) out += "/" + part;
  if (out.empty()) out = "/";
  if (absolute.size() > 1 && absolute.back() == '/' && out != "/") out += '/';
  return out;
}

wchar_t CurrentDrive() { return FromPosixPath(CurrentDirectory())[0]; }

}  // namespace

std::string DriveCRoot() {
  if (const char* configured = std::getenv("MESHDROP_DRIVE_C"); configured && *configured)
    return StripTrailingSlashes(configured);
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
    return StripTrailingSlashes(std::string(prefix) + "/drive_c");
  std::string wine = Home() + "/.wine/drive_c";
  if (IsDirectory(wine)) return wine;
  std::string own = Home() + "/.local/share/meshdrop/drive_c";
  if (!IsDirectory(own)) MakeDirectories(own);
  return own;
}

std::optional<std::string> ToPosixPath(const std::wstring& input) {
  std::wstring path = input;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') return std::nullopt;  // network paths
  wchar_t drive;
  std::wstring rest;
  bool hasDrive = path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0]);
  if (hasDrive) {
    drive = static_cast<wchar_t>(std::towupper(path[0]));
    rest = path.substr(2);
    if (rest.empty() || rest[0] != L'\\') {
      // "C:name" is relative to that drive's current folder: the current
      // directory when it is on that drive, else the drive's root.
      std::wstring cwd = FromPosixPath(CurrentDirectory());
      rest = (cwd[0] == drive ? cwd.substr(2) : std::wstring()) + L"\\" + rest;
    }
  } else if (!path.empty() && path[0] == L'\\') {
    drive = CurrentDrive();
    rest = path;
  } else {
    std::wstring cwd = FromPosixPath(CurrentDirectory());
    drive = cwd[0];
    rest = cwd.substr(2) + L"\\" + path;
  }
  std::string base;
  if (drive == L'C') {
    base = DriveCRoot();
    if (base == "/") base.clear();
  } else if (drive != L'Z') {
    return std::nullopt;
  }
  std::string out = base;
  for (auto& part : Components(WideToUtf8(rest), '\\')) out += "/" + part;
  if (out.empty()) out = "/";
  bool trailing = !rest.empty() && rest.back() == L'\\';
  if (trailing && out.back() != '/') out += '/';
  return out;
}

std::wstring FromPosixPath(const std::string& input) {
  std::string absolute = input.empty() || input[0] != '/' ? CurrentDirectory() + "/" + input : input;
  std::string path = NormalizePosix(absolute);
  std::string root = DriveCRoot();
  auto under = [&path](const std::string& folder) {
    return folder != "/" && (path == folder || path.rfind(folder + "/", 0) == 0);
  };
  if (!under(root)) {
    // The current directory comes back resolved: compare with C:'s real path too.
    char resolved[PATH_MAX];
    if (realpath(root.c_str(), resolved) != nullptr && under(resolved)) root = resolved;
  }
  std::wstring out;
  std::string tail;
  if (under(root)) {
    out = L"C:";
    tail = path.substr(root.size());
  } else {
    out = L"Z:";
    tail = path;
  }
  if (tail.empty()) tail = "/";
  for (auto& c : tail)
    if (c == '/') c = '\\';
  return out + Utf8ToWide(tail);
}

std::optional<std::string> PosixArgument(const wchar_t* windowsPath) {
  if (windowsPath == nullptr || *windowsPath == 0) {
    SetLastError(windowsPath ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  auto posix = ToPosixPath(windowsPath);
  if (!posix) SetLastError(ERROR_PATH_NOT_FOUND);
  return posix;
}

std::optional<std::string> PosixArgument(const char* windowsPath) {
  if (windowsPath == nullptr) return PosixArgument(static_cast<const wchar_t*>(nullptr));
  return PosixArgument(AcpToWide(windowsPath).c_str());
}

}  // namespace w32

using namespace w32;

DWORD W32PathToPosix(LPCWSTR windowsPath, LPSTR posixPath, DWORD posixSize) {
  auto posix = PosixArgument(windowsPath);
  return posix ? CopyOut(*posix, posixPath, posixSize) : 0;
}

DWORD W32PathToPosix(LPCSTR windowsPath, LPSTR posixPath, DWORD posixSize) {
  auto posix = PosixArgument(windowsPath);
  return posix ? CopyOut(*posix, posixPath, posixSize) : 0;
}

DWORD W32PathFromPosix(LPCSTR posixPath, LPWSTR windowsPath, DWORD windowsSize) {
  if (posixPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CopyOut(FromPosixPath(posixPath), windowsPath, windowsSize);
}

DWORD W32PathFromPosix(LPCSTR posixPath, LPSTR windowsPath, DWORD windowsSize) {
  if (posixPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CopyOut(WideToAcp(FromPosixPath(posixPath)), windowsPath, windowsSize);
}

std::string W32PathToPosix(std::wstring_view windowsPath) {
  auto posix = PosixArgument(std::wstring(windowsPath).c_str());
  return posix ? *posix : std::string();
}

std::string W32PathToPosix(std::string_view windowsPath) {
  auto posix = PosixArgument(std::string(windowsPath).c_str());
  return posix ? *posix : std::string();
}

std::string W32PathFromPosixA(std::string_view posixPath) { return WideToAcp(FromPosixPath(std::string(posixPath))); }

std::wstring W32PathFromPosixW(std::string_view posixPath) { return FromPosixPath(std::string(posixPath)); }

std::string W32DriveCRoot() { return DriveCRoot(); }

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  std::wstring path = FromPosixPath(buf.data());
  if (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return CopyOut(path, lpBuffer, nBufferLength);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::vector<wchar_t> wide(4096);
  if (GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data()) == 0) return 0;
  return CopyOut(WideToAcp(wide.data()), lpBuffer, nBufferLength);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
  auto posix = PosixArgument(lpPathName);
  if (!posix) return FALSE;
  if (chdir(posix->c_str()) != 0) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : errno == ENOTDIR ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  if (lpPathName == nullptr) return SetCurrentDirectoryW(nullptr);
  return SetCurrentDirectoryW(AcpToWide(lpPathName).c_str());
}

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const char* tmp = std::getenv("TMPDIR");
  std::wstring path = FromPosixPath(tmp && *tmp ? tmp : "/tmp");
  if (path.back() != L'\\') path += L'\\';
  return CopyOut(path, lpBuffer, nBufferLength);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::vector<wchar_t> wide(4096);
  if (GetTempPathW(static_cast<DWORD>(wide.size()), wide.data()) == 0) return 0;
  return CopyOut(WideToAcp(wide.data()), lpBuffer, nBufferLength);
}
