// Child processes: launching with a readiness pipe, exit tracking,
// CreateProcess, WaitForInputIdle, exit codes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "error_mapping.h"
#include "paths.h"
#include "process_launch.h"
#include "text.h"
#include "win32_ext.h"

extern char** environ;

namespace w32 {
namespace {

// How long WaitForInputIdle waits at most, even when asked to wait for ever:
// a Linux program, or Wine's server that inherits the pipe, may never close
// it, and a caller waiting on its window thread must not hang for long.
constexpr DWORD kInputIdleBound = 5000;

class ProcessObject : public Waitable {
 public:
  ~ProcessObject() override {
    if (readyFd >= 0) close(readyFd);
    if (pidFd >= 0) close(pidFd);
  }
  bool IsSignaledLocked() const override { return exited; }

  pid_t pid = 0;
  int pidFd = -1;    // readable once the child has exited
  int readyFd = -1;  // read end of the readiness pipe; -1 once the child closed it
  // Guarded by WaitLock().
  bool exited = false;
  DWORD exitCode = STILL_ACTIVE;
  bool terminated = false;
  DWORD terminateCode = 0;
};

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindInPath(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    // Only absolute folders: "." or an empty entry would name the current
    // folder, where a downloaded file could pass for a helper program.
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && dirs[start] == '/' && IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

namespace {

// Waits for the child in the background so that it never stays a zombie and
// its handle becomes signalled with its exit code.
void Reap(std::shared_ptr<ProcessObject> process) {
  int status = 0;
  while (waitpid(process->pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  process->exited = true;
  if (process->terminated) {
    process->exitCode = process->terminateCode;
  } else if (WIFEXITED(status)) {
    process->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
  } else {
    process->exitCode = 128u + static_cast<DWORD>(WTERMSIG(status));
  }
  NotifyWaiters();
}

}  // namespace

std::optional<std::vector<std::string>> CommandFor(const std::string& program, const std::vector<std::string>& args,
                                                   bool openDocuments, DWORD* error) {
  struct stat st {};
  if (stat(program.c_str(), &st) != 0) {
    *error = errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(errno);
    return std::nullopt;
  }
  std::vector<std::string> command;
  char head[4] = {0};
  if (S_ISREG(st.st_mode)) {
    int fd = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ssize_t n = read(fd, head, sizeof(head));
      (void)n;
      close(fd);
    }
    bool elf = std::memcmp(head,
                           "\x7f"
                           "ELF",
                           4) == 0;
    bool script = head[0] == '#' && head[1] == '!';
    if (elf || script || access(program.c_str(), X_OK) == 0) {
      // A downloaded program comes without the execute bit; running it is what was asked.
      if (access(program.c_str(), X_OK) != 0 && chmod(program.c_str(), st.st_mode | S_IXUSR) != 0) {
        *error = ERROR_ACCESS_DENIED;
        return std::nullopt;
      }
      command.push_back(program);
    } else if (head[0] == 'M' && head[1] == 'Z') {
      std::string wine = FindInPath("wine");
      if (wine.empty()) {
        *error = ERROR_NO_ASSOCIATION;
        return std::nullopt;
      }
      command = {wine, program};
    }
  }
  if (command.empty()) {
    std::string opener = openDocuments ? FindInPath("xdg-open") : std::string();
    if (opener.empty()) {
      *error = openDocuments ? ERROR_NO_ASSOCIATION : ERROR_BAD_EXE_FORMAT;
      return std::nullopt;
    }
    return std::vector<std::string>{opener, program};  // a document: no arguments
  }
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

HANDLE Launch(const std::vector<std::string>& command, const std::string& directory, DWORD* pidOut) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    FailWithErrno(errno);
    return nullptr;
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "MESHDROP_READY_FD=", 18) != 0) env.emplace_back(*e);
  // The child finds the pipe at descriptor 3, the first after the standard
  // ones: a single digit, which every shell can close with "exec 3>&-".
  constexpr int kChildReadyFd = 3;
  env.push_back("MESHDROP_READY_FD=" + std::to_string(kChildReadyFd));
  std::vector<char*> envp, argv;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = command;
  for (auto& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 (also onto itself) leaves the descriptor open across exec in the child only.
  posix_spawn_file_actions_adddup2(&actions, ready[1], kChildReadyFd);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // A new process starts as on Windows, with nothing of its parent's signal
  // handling: a parent that blocks its stop signals to watch them on a
  // thread of its own, or ignores SIGPIPE, must not pass that on.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, standard;
  sigemptyset(&none);
  sigemptyset(&standard);
  // The standard signals; the C library keeps the ones above for itself.
  for (int signal = 1; signal < 32; ++signal) sigaddset(&standard, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &standard);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (rc != 0) {
    close(ready[0]);
    SetLastError(rc == ENOENT ? ERROR_FILE_NOT_FOUND : rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : Win32ErrorFromErrno(rc));
    return nullptr;
  }
  auto process = std::make_shared<ProcessObject>();
  process->pid = pid;
  process->readyFd = ready[0];
  process->pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  std::thread(Reap, process).detach();
  if (pidOut) *pidOut = static_cast<DWORD>(pid);
  return InsertHandle(process);
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  std::vector<std::wstring> args;
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
      size_t slashes = 0;
      while (i < n && line[i] == L'\\') {
        ++slashes;
        ++i;
      }
      if (i < n && line[i] == L'"') {
        arg.append(slashes / 2, L'\\');
        if (slashes % 2) {
          arg += L'"';
        } else if (quoted && i + 1 < n && line[i + 1] == L'"') {
          arg += L'"';  // "" inside quotes is a literal quote
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, L'\\');
        if (i < n && (quoted || (line[i] != L' ' && line[i] != L'\t'))) arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

}  // namespace w32

using namespace w32;

namespace {

BOOL Create(const std::wstring* application, const std::wstring* commandLine, const std::wstring* directory,
            LPVOID environment, LPPROCESS_INFORMATION info) {
  if (environment != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::vector<std::wstring> words = commandLine ? SplitCommandLine(*commandLine) : std::vector<std::wstring>();
  std::wstring program = application ? *application : words.empty() ? L"" : words.front();
  if (program.empty() || info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto path = PosixArgument(program.c_str());
  if (!path) return FALSE;
  std::vector<std::string> args;
  for (size_t i = 1; i < words.size(); ++i) args.push_back(WideToUtf8(words[i]));
  DWORD error = 0;
  auto command = CommandFor(*path, args, false, &error);
  if (!command) {
    SetLastError(error);
    return FALSE;
  }
  std::string cwd;
  if (directory) {
    auto posix = PosixArgument(directory->c_str());
    if (!posix) return FALSE;
    cwd = *posix;
  }
  DWORD pid = 0;
  HANDLE process = Launch(*command, cwd, &pid);
  if (!process) return FALSE;
  info->hProcess = process;
  info->hThread = InsertHandle(LookupHandle(process));  // waits like the process
  info->dwProcessId = pid;
  info->dwThreadId = pid;
  return TRUE;
}

std::shared_ptr<ProcessObject> Process(HANDLE h) {
  auto process = LookupHandleAs<ProcessObject>(h);
  if (!process) SetLastError(ERROR_INVALID_HANDLE);
  return process;
}

}  // namespace

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW, LPPROCESS_INFORMATION lpProcessInformation) {
  std::wstring app = lpApplicationName ? lpApplicationName : L"";
  std::wstring line = lpCommandLine ? lpCommandLine : L"";
  std::wstring dir = lpCurrentDirectory ? lpCurrentDirectory : L"";
  return Create(lpApplicationName ? &app : nullptr, lpCommandLine ? &line : nullptr,
                lpCurrentDirectory ? &dir : nullptr, lpEnvironment, lpProcessInformation);
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  std::wstring app = AcpToWide(lpApplicationName);
  std::wstring line = AcpToWide(lpCommandLine);
  std::wstring dir = AcpToWide(lpCurrentDirectory);
  return Create(lpApplicationName ? &app : nullptr, lpCommandLine ? &line : nullptr,
                lpCurrentDirectory ? &dir : nullptr, lpEnvironment, lpProcessInformation);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = Process(hProcess);
  if (!process || lpExitCode == nullptr) return FALSE;
  std::lock_guard<std::mutex> lock(WaitLock());
  *lpExitCode = process->exitCode;
  return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto process = Process(hProcess);
  if (!process) return FALSE;
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    if (process->exited) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    process->terminated = true;
    process->terminateCode = uExitCode;
  }
  if (kill(process->pid, SIGKILL) != 0) return FailWithErrno(errno);
  return TRUE;
}

DWORD WINAPI GetProcessId(HANDLE Process) {
  auto process = LookupHandleAs<ProcessObject>(Process);
  return process ? static_cast<DWORD>(process->pid) : 0;
}

DWORD WINAPI WaitForInputIdle(HANDLE hProcess, DWORD dwMilliseconds) {
  auto process = Process(hProcess);
  if (!process) return WAIT_FAILED;
  DWORD bound = dwMilliseconds < kInputIdleBound ? dwMilliseconds : kInputIdleBound;
  if (process->readyFd < 0) return 0;
  uint64_t deadline = MonotonicMs() + bound;
  for (;;) {
    pollfd fds[2] = {{process->readyFd, POLLIN, 0}, {process->pidFd, POLLIN, 0}};
    uint64_t now = MonotonicMs();
    int timeout = now >= deadline ? 0 : static_cast<int>(deadline - now);
    // Without a pid descriptor, the exit is seen by polling the reaper's flag.
    if (process->pidFd < 0 && timeout > 100) timeout = 100;
    int n = poll(fds, process->pidFd >= 0 ? 2 : 1, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0 && fds[0].revents) return 0;  // closed (or written to): ready for input
    if (n > 0 && fds[1].revents) return 0;  // exited
    {
      std::lock_guard<std::mutex> lock(WaitLock());
      if (process->exited) return 0;
    }
    if (MonotonicMs() >= deadline) return WAIT_TIMEOUT;
  }
}

BOOL W32AskProcessToLeave(DWORD pid, DWORD dwMilliseconds) {
  if (pid == 0 || static_cast<pid_t>(pid) == getpid()) return w32::FailWithErrno(EINVAL);
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
  if (pidFd < 0) return errno == ESRCH ? TRUE : w32::FailWithErrno(errno);
  // Through the descriptor, so that the signal cannot reach another process
  // that took the number meanwhile.
  BOOL gone = FALSE;
  if (syscall(SYS_pidfd_send_signal, pidFd, SIGTERM, nullptr, 0) != 0 && errno != ESRCH) {
    w32::FailWithErrno(errno);
  } else {
    const uint64_t deadline = w32::MonotonicMs() + dwMilliseconds;
    for (;;) {
      pollfd exited{pidFd, POLLIN, 0};
      const uint64_t now = w32::MonotonicMs();
      const int n = poll(&exited, 1, now >= deadline ? 0 : static_cast<int>(deadline - now));
      if (n < 0 && errno == EINTR) continue;
      gone = n > 0 ? TRUE : FALSE;
      if (!gone) SetLastError(ERROR_TIMEOUT);
      break;
    }
  }
  close(pidFd);
  return gone;
}
