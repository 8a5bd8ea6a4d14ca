// Any bytes as a program file: the version functions answer without reading
// outside the file or the caller's buffer.
#include <sys/mman.h>
#include <unistd.h>
#include <win32_ext.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The input lives in memory; the layer opens it by its descriptor's name.
int Memory() {
  static const int fd = memfd_create("version-fuzz", MFD_CLOEXEC);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (Memory() < 0 || ftruncate(Memory(), 0) != 0) abort();
  if (size > 0 && pwrite(Memory(), data, size, 0) != static_cast<ssize_t>(size)) abort();
  static const std::string path = W32PathFromPosixA("/proc/self/fd/" + std::to_string(Memory()));

  const DWORD needed = GetFileVersionInfoSizeA(path.c_str(), nullptr);
  if (needed == 0) return 0;
  std::vector<unsigned char> block(needed);
  if (!GetFileVersionInfoA(path.c_str(), 0, needed, block.data())) abort();
  for (const char* query : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040404B0\\FileVersion",
                            "\\StringFileInfo\\040904B0\\FileVersion", "\\StringFileInfo", "\\\\x\\"}) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, &value, &length)) continue;
    const auto* at = static_cast<const unsigned char*>(value);
    if (at < block.data() || at + length > block.data() + block.size()) abort();
  }
  return 0;
}
