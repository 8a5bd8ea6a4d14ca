// SHGetFolderPath: the known folders inside C: with Wine's layout.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "paths.h"
#include "text.h"

namespace {

std::wstring UserName() {
  if (const char* user = std::getenv("USER"); user && *user) return w32::Utf8ToWide(user);
  // getpwuid_r: the library's worker and the caller's thread may both ask.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return w32::Utf8ToWide(found->pw_name);
  return L"user";
}

// The folder always exists on Windows, so it is made when missing.
void Ensure(const std::wstring& windowsPath) {
  auto posix = w32::ToPosixPath(windowsPath);
  if (!posix) return;
  for (size_t pos = 1; pos <= posix->size(); ++pos)
    if (pos == posix->size() || (*posix)[pos] == '/') mkdir(posix->substr(0, pos).c_str(), 0755);
}

HRESULT Folder(int csidl, std::wstring* out) {
  switch (csidl & 0xFF) {
    case CSIDL_PROGRAM_FILES: *out = L"C:\\Program Files"; break;
    case CSIDL_APPDATA: *out = L"C:\\users\\" + UserName() + L"\\AppData\\Roaming"; break;
    case CSIDL_LOCAL_APPDATA: *out = L"C:\\users\\" + UserName() + L"\\AppData\\Local"; break;
    default: return E_INVALIDARG;
  }
  Ensure(*out);
  return out->size() < MAX_PATH ? S_OK : E_FAIL;
}

}  // namespace

HRESULT WINAPI SHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, LPWSTR pszPath) {
  if (pszPath == nullptr) return E_INVALIDARG;
  pszPath[0] = 0;
  std::wstring folder;
  HRESULT hr = Folder(csidl, &folder);
  if (hr == S_OK) std::wmemcpy(pszPath, folder.c_str(), folder.size() + 1);
  return hr;
}

HRESULT WINAPI SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, LPSTR pszPath) {
  if (pszPath == nullptr) return E_INVALIDARG;
  pszPath[0] = 0;
  std::wstring folder;
  HRESULT hr = Folder(csidl, &folder);
  if (hr != S_OK) return hr;
  std::string narrow = w32::WideToAcp(folder);
  if (narrow.size() >= MAX_PATH) return E_FAIL;
  std::memcpy(pszPath, narrow.c_str(), narrow.size() + 1);
  return S_OK;
}
