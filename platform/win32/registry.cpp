// The registry subset on a REGEDIT4 text file (registry_file.h):
// $MESHDROP_REGISTRY, else meshdrop.reg beside the C: folder (as a Wine
// prefix keeps system.reg).
// Every call reads the file afresh and every change rewrites it whole (under
// an flock, through a rename), so several processes share it safely.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "paths.h"
#include "registry_file.h"
#include "text.h"

namespace w32 {
namespace {

constexpr size_t kMaxFileSize = 16u << 20;

using Value = RegistryValue;
using Hive = RegistryHive;

std::wstring Lower(std::wstring s) { return LowerName(std::move(s)); }

std::string FilePath() {
  if (const char* configured = std::getenv("MESHDROP_REGISTRY"); configured && *configured) return configured;
  std::string root = DriveCRoot();
  size_t slash = root.rfind('/');
  return (slash == std::string::npos || slash == 0 ? std::string() : root.substr(0, slash)) + "/meshdrop.reg";
}

// Holds the registry file's lock for the duration of one call.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(open((path + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600)) {
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// The file's keys and values: an empty hive when there is no file yet.
// ERROR_ACCESS_DENIED, ERROR_BADDB (over the bound) or ERROR_CANTREAD when
// the file is there but cannot be read whole; then nothing may be written,
// or the next save would replace the file with the one key being set.
LSTATUS Load(const std::string& path, Hive& hive) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ERROR_SUCCESS;
    return errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
  }
  std::string text;
  LSTATUS rc = ERROR_SUCCESS;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      rc = ERROR_CANTREAD;
      break;
    }
    if (n == 0) break;
    if (text.size() + static_cast<size_t>(n) > kMaxFileSize) {
      rc = ERROR_BADDB;  // not a file of ours
      break;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (rc == ERROR_SUCCESS) hive = ParseRegistryText(text);
  return rc;
}

bool Save(const std::string& path, const Hive& hive) {
  const std::string text = RegistryText(hive);
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

struct Handles {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::wstring> paths;
  uintptr_t next = 0x5000;
};

Handles& OpenKeys() {
  static Handles* h = new Handles;
  return *h;
}

std::optional<std::wstring> KeyPath(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (key == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (key == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (key == HKEY_USERS) return L"HKEY_USERS";
  Handles& h = OpenKeys();
  std::lock_guard<std::mutex> lock(h.mutex);
  auto it = h.paths.find(reinterpret_cast<uintptr_t>(key));
  if (it == h.paths.end()) return std::nullopt;
  return it->second;
}

std::wstring Join(const std::wstring& base, const wchar_t* sub) {
  std::wstring path = base;
  if (sub == nullptr) return path;
  std::wstring part = sub;
  while (!part.empty() && part.front() == L'\\') part.erase(0, 1);
  while (!part.empty() && part.back() == L'\\') part.pop_back();
  return part.empty() ? path : path + L"\\" + part;
}

HKEY NewHandle(const std::wstring& path) {
  Handles& h = OpenKeys();
  std::lock_guard<std::mutex> lock(h.mutex);
  uintptr_t value = h.next;
  h.next += 4;
  h.paths[value] = path;
  return reinterpret_cast<HKEY>(value);
}

// Runs f(hive, keyPath, save) on the file's contents under its lock, where
// keyPath is the path `handle` names; writes the file back when f set `save`.
template <typename F>
LSTATUS WithHive(HKEY handle, F f) {
  auto path = KeyPath(handle);
  if (!path) return ERROR_INVALID_HANDLE;
  std::string file = FilePath();
  FileLock lock(file);
  Hive hive;
  if (LSTATUS loaded = Load(file, hive); loaded != ERROR_SUCCESS) return loaded;
  bool save = false;
  LSTATUS rc = f(hive, *path, save);
  if (rc == ERROR_SUCCESS && save && !Save(file, hive)) return ERROR_CANTWRITE;
  return rc;
}

LSTATUS CreateKey(HKEY parent, const wchar_t* sub, bool create, PHKEY result, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  std::wstring path;
  bool existed = false;
  LSTATUS rc = WithHive(parent, [&](Hive& hive, const std::wstring& base, bool& save) -> LSTATUS {
    path = Join(base, sub);
    existed = hive.count(Lower(path)) != 0 || path == base;
    if (existed) return ERROR_SUCCESS;
    if (!create) return ERROR_FILE_NOT_FOUND;
    hive[Lower(path)].path = path;
    save = true;
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = NewHandle(path);
  return ERROR_SUCCESS;
}

LSTATUS SetValue(HKEY key, const std::wstring& name, DWORD type, const BYTE* data, DWORD size) {
  if (size > 1u << 20 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  return WithHive(key, [&](Hive& hive, const std::wstring& path, bool& save) -> LSTATUS {
    RegistryKey& k = hive[Lower(path)];
    if (k.path.empty()) k.path = path;
    Value v;
    v.name = name;
    v.type = type;
    if (size) v.data.assign(data, data + size);
    k.values[Lower(name)] = std::move(v);
    save = true;
    return ERROR_SUCCESS;
  });
}

// Finds a value of an existing key, or nullptr.
Value* FindValue(Hive& hive, const std::wstring& path, const std::wstring& name) {
  auto k = hive.find(Lower(path));
  if (k == hive.end()) return nullptr;
  auto v = k->second.values.find(Lower(name));
  return v == k->second.values.end() ? nullptr : &v->second;
}

LSTATUS QueryValue(HKEY key, const std::wstring& name, Value* out) {
  return WithHive(key, [&](Hive& hive, const std::wstring& path, bool&) -> LSTATUS {
    Value* v = FindValue(hive, path, name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    *out = *v;
    return ERROR_SUCCESS;
  });
}

LSTATUS Deliver(const Value& v, const std::vector<BYTE>& bytes, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (type) *type = v.type;
  if (size == nullptr) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(bytes.size());
  if (data == nullptr) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS DeleteValue(HKEY key, const std::wstring& name) {
  return WithHive(key, [&](Hive& hive, const std::wstring& path, bool& save) -> LSTATUS {
    if (FindValue(hive, path, name) == nullptr) return ERROR_FILE_NOT_FOUND;
    hive[Lower(path)].values.erase(Lower(name));
    save = true;
    return ERROR_SUCCESS;
  });
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace
}  // namespace w32

using namespace w32;

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
  return CreateKey(hKey, lpSubKey, true, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
  std::wstring sub = AcpToWide(lpSubKey);
  return CreateKey(hKey, lpSubKey ? sub.c_str() : nullptr, true, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  return CreateKey(hKey, lpSubKey, false, phkResult, nullptr);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  std::wstring sub = AcpToWide(lpSubKey);
  return CreateKey(hKey, lpSubKey ? sub.c_str() : nullptr, false, phkResult, nullptr);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return SetValue(hKey, lpValueName ? lpValueName : L"", dwType, lpData, cbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  std::wstring name = AcpToWide(lpValueName);
  if (!IsStringType(dwType) || lpData == nullptr) return SetValue(hKey, name, dwType, lpData, cbData);
  // Narrow strings are stored wide, as Windows does.
  std::string narrow(reinterpret_cast<const char*>(lpData), cbData);
  bool terminated = !narrow.empty() && narrow.back() == '\0';
  if (terminated) narrow.pop_back();
  std::wstring wide = ToWide(CP_ACP, narrow);
  DWORD bytes = static_cast<DWORD>((wide.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
  return SetValue(hKey, name, dwType, reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  Value v;
  LSTATUS rc = QueryValue(hKey, lpValueName ? lpValueName : L"", &v);
  if (rc != ERROR_SUCCESS) return rc;
  return Deliver(v, v.data, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  Value v;
  LSTATUS rc = QueryValue(hKey, AcpToWide(lpValueName), &v);
  if (rc != ERROR_SUCCESS) return rc;
  if (!IsStringType(v.type)) return Deliver(v, v.data, lpType, lpData, lpcbData);
  bool terminated = v.data.size() >= sizeof(wchar_t) &&
                    std::all_of(v.data.end() - sizeof(wchar_t), v.data.end(), [](BYTE b) { return b == 0; });
  std::string narrow = WideToAcp(AsString(v));
  std::vector<BYTE> bytes(narrow.begin(), narrow.end());
  if (terminated) bytes.push_back(0);
  return Deliver(v, bytes, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return DeleteValue(hKey, lpValueName ? lpValueName : L"");
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) { return DeleteValue(hKey, AcpToWide(lpValueName)); }

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (KeyPath(hKey) && reinterpret_cast<uintptr_t>(hKey) >= 0x80000000u) return ERROR_SUCCESS;  // a root
  Handles& h = OpenKeys();
  std::lock_guard<std::mutex> lock(h.mutex);
  return h.paths.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
