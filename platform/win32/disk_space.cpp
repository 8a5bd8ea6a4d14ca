// GetDiskFreeSpaceEx on the file system of the deepest existing folder of
// the path, where the files will actually land (not the drive's root).
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "paths.h"
#include "test_switches.h"
#include "text.h"

namespace {

BOOL FreeSpace(const std::optional<std::string>& path, PULARGE_INTEGER available, PULARGE_INTEGER total,
               PULARGE_INTEGER totalFree) {
  if (!path) return FALSE;
  std::string probe = *path;
  struct stat st {};
  while (stat(probe.c_str(), &st) != 0 && probe != "/") {
    while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
    size_t slash = probe.rfind('/');
    probe = slash == std::string::npos || slash == 0 ? "/" : probe.substr(0, slash);
  }
  struct statvfs vfs {};
  if (statvfs(probe.c_str(), &vfs) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const bool full = w32::DiskFullForTesting();
  if (available) available->QuadPart = full ? 0 : static_cast<ULONGLONG>(vfs.f_bavail) * vfs.f_frsize;
  if (total) total->QuadPart = static_cast<ULONGLONG>(vfs.f_blocks) * vfs.f_frsize;
  if (totalFree) totalFree->QuadPart = full ? 0 : static_cast<ULONGLONG>(vfs.f_bfree) * vfs.f_frsize;
  return TRUE;
}

}  // namespace

BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  return FreeSpace(w32::PosixArgument(lpDirectoryName ? lpDirectoryName : L"."), lpFreeBytesAvailableToCaller,
                   lpTotalNumberOfBytes, lpTotalNumberOfFreeBytes);
}

BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  return FreeSpace(w32::PosixArgument(lpDirectoryName ? lpDirectoryName : "."), lpFreeBytesAvailableToCaller,
                   lpTotalNumberOfBytes, lpTotalNumberOfFreeBytes);
}
