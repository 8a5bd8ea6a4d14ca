// $MESHDROP_RUNTIME_DIR, else $XDG_RUNTIME_DIR/meshdrop, else /tmp/meshdrop-<uid>.
#include "runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "win32_ext.h"

namespace w32 {

std::string RuntimeDir() {
  std::string dir;
  if (const char* configured = std::getenv("MESHDROP_RUNTIME_DIR"); configured && *configured) {
    dir = configured;
  } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    dir = std::string(xdg) + "/meshdrop";
  } else {
    dir = "/tmp/meshdrop-" + std::to_string(getuid());
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return dir;
}

}  // namespace w32

std::string W32RuntimeDir() { return w32::RuntimeDir(); }
