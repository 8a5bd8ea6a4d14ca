// CreateMutex. A named mutex is a lock file per hashed name in the runtime
// folder: every process holding a handle keeps a shared flock on it, so the
// first creator is the one that could take it exclusively, and the name lives
// while any holder does. A guard lock makes "try exclusive, then share"
// atomic between processes.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "error_mapping.h"
#include "mutex_object.h"
#include "runtime_dir.h"
#include "text.h"

namespace w32 {

MutexObject::~MutexObject() {
  if (lockFd >= 0) close(lockFd);
}

namespace {

struct NameTable {
  std::mutex mutex;
  std::unordered_map<std::string, std::weak_ptr<MutexObject>> byName;  // this process's named mutexes
};

NameTable& Names() {
  static NameTable* table = new NameTable;
  return *table;
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

int OpenLockFile(const std::string& path) { return OpenPrivateFile(path, O_CREAT | O_RDWR); }

// Takes the shared lock of the name's lock file; tells whether another
// process already held it. Returns the descriptor, or -1.
int JoinName(const std::string& name, bool* existed) {
  std::string dir = RuntimeDir();
  if (dir.empty()) return -1;
  char hex[17];
  std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(Fnv1a(name)));
  std::string base = dir + "/mutex-" + hex;
  int guard = OpenLockFile(base + ".guard");
  if (guard < 0) return -1;
  while (flock(guard, LOCK_EX) != 0 && errno == EINTR) {
  }
  int fd = OpenLockFile(base + ".lock");
  if (fd >= 0) {
    *existed = flock(fd, LOCK_EX | LOCK_NB) != 0;
    while (flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
  }
  close(guard);
  return fd;
}

HANDLE Create(BOOL initialOwner, const std::wstring* name) {
  if (name == nullptr) {
    auto mutex = std::make_shared<MutexObject>();
    if (initialOwner) {
      mutex->owner = GetCurrentThreadId();
      mutex->count = 1;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(mutex);
  }
  std::string key = WideToUtf8(*name);
  NameTable& t = Names();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (auto existing = t.byName[key].lock()) {
    HANDLE h = InsertHandle(existing);
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  bool existed = false;
  auto mutex = std::make_shared<MutexObject>();
  mutex->lockFd = JoinName(key, &existed);
  if (initialOwner && !existed) {
    mutex->owner = GetCurrentThreadId();
    mutex->count = 1;
  }
  t.byName[key] = mutex;
  HANDLE h = InsertHandle(mutex);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

}  // namespace
}  // namespace w32

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  std::wstring name = lpName ? lpName : L"";
  return w32::Create(bInitialOwner, lpName ? &name : nullptr);
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
  std::wstring name = w32::AcpToWide(lpName);
  return w32::Create(bInitialOwner, lpName ? &name : nullptr);
}
