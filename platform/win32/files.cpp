// Files and directories on Windows paths, with Win32's error numbers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "error_mapping.h"
#include "handle_table.h"
#include "paths.h"
#include "test_switches.h"
#include "text.h"

namespace w32 {
namespace {

class FileObject : public KernelObject {
 public:
  explicit FileObject(int descriptor) : fd(descriptor) {}
  ~FileObject() override { close(fd); }
  const int fd;
};

bool Exists(const std::string& path, struct stat* st = nullptr) {
  struct stat local {};
  return stat(path.c_str(), st ? st : &local) == 0;
}

std::string Parent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
}

// ENOENT means "file not found" when its folder exists, else "path not found".
DWORD MissingError(const std::string& path) {
  struct stat st {};
  return stat(Parent(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

BOOL Fail(int err, const std::string& path) {
  SetLastError(err == ENOENT ? MissingError(path) : Win32ErrorFromErrno(err));
  return FALSE;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition, DWORD flagsAndAttributes) {
  int flags = O_CLOEXEC;
  const bool noFollow = (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
  if (noFollow) flags |= O_NOFOLLOW;
  bool read = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
  bool write = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  struct stat st {};
  bool existed = noFollow ? lstat(path.c_str(), &st) == 0 : Exists(path, &st);
  if (existed && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);  // directories are not opened as files here
    return INVALID_HANDLE_VALUE;
  }
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_TRUNC;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    if (errno == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else {
      Fail(errno, path);
    }
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = InsertHandle(std::make_shared<FileObject>(fd));
  // Win32 reports a replaced or reopened file through the last error.
  bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

std::shared_ptr<FileObject> File(HANDLE h) {
  auto file = LookupHandleAs<FileObject>(h);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

BOOL MakeDirectory(const std::optional<std::string>& path) {
  if (!path) return FALSE;
  if (mkdir(path->c_str(), 0777) != 0) return Fail(errno == ENOENT ? ENOTDIR : errno, *path);
  return TRUE;
}

BOOL RemoveFile(const std::optional<std::string>& path) {
  if (!path) return FALSE;
  struct stat st {};
  if (lstat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path->c_str()) != 0) return Fail(errno, *path);
  return TRUE;
}

BOOL RemoveDir(const std::optional<std::string>& path) {
  if (!path) return FALSE;
  if (rmdir(path->c_str()) != 0) return Fail(errno == ENOTDIR ? EINVAL : errno, *path);
  return TRUE;
}

BOOL Move(const std::optional<std::string>& from, const std::optional<std::string>& to) {
  if (!from || !to) return FALSE;
  if (Exists(*to)) {
    SetLastError(ERROR_ALREADY_EXISTS);  // MoveFile never replaces
    return FALSE;
  }
  if (rename(from->c_str(), to->c_str()) != 0) return Fail(errno, *from);
  return TRUE;
}

DWORD Attributes(const std::optional<std::string>& path) {
  if (!path) return INVALID_FILE_ATTRIBUTES;
  struct stat st {};
  if (stat(path->c_str(), &st) != 0) {
    Fail(errno, *path);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return access(path->c_str(), W_OK) == 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

}  // namespace
}  // namespace w32

using namespace w32;

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  auto path = PosixArgument(lpFileName);
  return path ? OpenFile(*path, dwDesiredAccess, dwCreationDisposition, dwFlagsAndAttributes) : INVALID_HANDLE_VALUE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  auto path = PosixArgument(lpFileName);
  return path ? OpenFile(*path, dwDesiredAccess, dwCreationDisposition, dwFlagsAndAttributes) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto file = File(hFile);
  if (!file) return FALSE;
  DWORD total = 0;
  while (total < nNumberOfBytesToRead) {
    ssize_t n = read(file->fd, static_cast<char*>(lpBuffer) + total, nNumberOfBytesToRead - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailWithErrno(errno == EIO ? EIO : errno);
    if (n == 0) break;  // end of file: success with fewer bytes
    total += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto file = File(hFile);
  if (!file) return FALSE;
  if (DiskFullForTesting()) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  DWORD total = 0;
  while (total < nNumberOfBytesToWrite) {
    ssize_t n = write(file->fd, static_cast<const char*>(lpBuffer) + total, nNumberOfBytesToWrite - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = total;
      return FailWithErrno(errno);
    }
    total += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = total;
  return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                             DWORD dwMoveMethod) {
  auto file = File(hFile);
  if (!file) return FALSE;
  int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
               : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
               : dwMoveMethod == FILE_END     ? SEEK_END
                                              : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  off_t base = whence == SEEK_SET ? 0 : lseek(file->fd, 0, whence);
  if (base < 0 || (liDistanceToMove.QuadPart < 0 && base + liDistanceToMove.QuadPart < 0)) {
    SetLastError(131);  // ERROR_NEGATIVE_SEEK
    return FALSE;
  }
  off_t pos = lseek(file->fd, base + liDistanceToMove.QuadPart, SEEK_SET);
  if (pos < 0) return FailWithErrno(errno);
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = pos;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  LARGE_INTEGER distance;
  if (lpDistanceToMoveHigh) {
    distance.QuadPart =
        static_cast<LONGLONG>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                              static_cast<uint32_t>(lDistanceToMove));
  } else {
    distance.QuadPart = lDistanceToMove;
  }
  LARGE_INTEGER result{};
  if (!SetFilePointerEx(hFile, distance, &result, dwMoveMethod)) return INVALID_SET_FILE_POINTER;
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = result.HighPart;
  SetLastError(ERROR_SUCCESS);  // INVALID_SET_FILE_POINTER can be a real low part
  return result.LowPart;
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  auto file = File(hFile);
  if (!file) return FALSE;
  struct stat st {};
  if (fstat(file->fd, &st) != 0) return FailWithErrno(errno);
  lpFileSize->QuadPart = st.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size.HighPart);
  SetLastError(ERROR_SUCCESS);
  return size.LowPart;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = File(hFile);
  if (!file) return FALSE;
  off_t pos = lseek(file->fd, 0, SEEK_CUR);
  if (pos < 0 || ftruncate(file->fd, pos) != 0) return FailWithErrno(errno);
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = File(hFile);
  if (!file) return FALSE;
  if (fsync(file->fd) != 0 && errno != EINVAL) return FailWithErrno(errno);
  return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  return MakeDirectory(PosixArgument(lpPathName));
}
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  return MakeDirectory(PosixArgument(lpPathName));
}
BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) { return RemoveDir(PosixArgument(lpPathName)); }
BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) { return RemoveDir(PosixArgument(lpPathName)); }
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) { return RemoveFile(PosixArgument(lpFileName)); }
BOOL WINAPI DeleteFileA(LPCSTR lpFileName) { return RemoveFile(PosixArgument(lpFileName)); }
BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to) { return Move(PosixArgument(from), PosixArgument(to)); }
BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) { return Move(PosixArgument(from), PosixArgument(to)); }
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) { return Attributes(PosixArgument(lpFileName)); }
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) { return Attributes(PosixArgument(lpFileName)); }
