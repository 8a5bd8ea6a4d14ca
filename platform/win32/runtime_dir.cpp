// $MESHDROP_RUNTIME_DIR, else $XDG_RUNTIME_DIR/meshdrop, else
// ${TMPDIR:-/tmp}/meshdrop-<uid>. The folder in the shared temporary
// directory is used only when it is a real folder (not a link) owned by the
// user with mode 0700: another local user who made it first could otherwise
// plant links there, hold the single-instance lock or publish fake windows.
// When it is not, this process works in a fresh private folder of its own.
#include "runtime_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "win32_ext.h"

namespace w32 {
namespace {

std::string StripTrailingSlashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool IsPrivateFolder(const std::string& dir) {
  struct stat st {};
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 07777) == 0700;
}

// The shared-directory folder when it is (or could be made) private, else a
// fresh private folder beside it, made once per process and base.
std::string PrivateFolderIn(const std::string& base) {
  static std::mutex mutex;
  static std::map<std::string, std::string> fresh;
  const std::string dir = base + "/meshdrop-" + std::to_string(geteuid());
  if (mkdir(dir.c_str(), 0700) == 0) chmod(dir.c_str(), 0700);  // whatever the umask left
  if (IsPrivateFolder(dir)) return dir;
  std::lock_guard<std::mutex> lock(mutex);
  std::string& own = fresh[base];
  if (own.empty() || !IsPrivateFolder(own)) {
    std::string pattern = dir + "-XXXXXX";
    own = mkdtemp(pattern.data()) ? pattern : std::string();  // mkdtemp makes it 0700
  }
  return own;
}

}  // namespace

std::string RuntimeDir() {
  if (const char* configured = std::getenv("MESHDROP_RUNTIME_DIR"); configured && *configured) {
    std::string dir = StripTrailingSlashes(configured);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : std::string();
  }
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    // The session's own folder, private by definition; ours inside it too.
    std::string dir = StripTrailingSlashes(xdg) + "/meshdrop";
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsPrivateFolder(dir) ? dir : std::string();
  }
  const char* tmp = std::getenv("TMPDIR");
  return PrivateFolderIn(StripTrailingSlashes(tmp && *tmp ? tmp : "/tmp"));
}

int OpenPrivateFile(const std::string& path, int flags) {
  return open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
}

}  // namespace w32

std::string W32RuntimeDir() { return w32::RuntimeDir(); }
