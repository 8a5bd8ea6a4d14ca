// Shell execution, processes and their readiness, the named mutex and
// FindWindow across processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <win32_ext.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

class Processes : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    setenv("MESHDROP_DRIVE_C", (dir_ + "/drive_c").c_str(), 1);
    setenv("MESHDROP_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    mkdir((dir_ + "/drive_c").c_str(), 0755);
  }
  void TearDown() override {
    W32SetElevationDeclinedForTesting(FALSE);
    unsetenv("MESHDROP_DRIVE_C");
  }

  // Writes a script under C:\ without the execute bit; returns its Windows path.
  std::wstring Script(const char* name, const std::string& body) {
    std::string path = dir_ + "/drive_c/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0644);
    return L"C:\\" + std::wstring(name, name + std::strlen(name));
  }
  // A request that returns the process handle.
  static SHELLEXECUTEINFOW Request(const wchar_t* verb, const std::wstring& file) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    return info;
  }
  std::string Read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  TempDir temp_;
  std::string dir_;
};

TEST_F(Processes, ShellExecuteRunsAScriptThatSignalsReadiness) {
  std::string out = dir_ + "/out.txt";
  std::wstring script = Script("installer.sh",
                               "echo \"ran $1\" > \"$2\"\n"
                               "eval \"exec ${MESHDROP_READY_FD}>&-\"\n"
                               "exec sleep 30\n");
  std::wstring params = L"first \"" + std::wstring(out.begin(), out.end()) + L"\"";
  SHELLEXECUTEINFOW info = Request(L"runas", script);
  info.lpParameters = params.c_str();
  info.nShow = SW_SHOWNORMAL;
  // A busy program holds many descriptors, so the pipe's own number is high;
  // the script's shell can still close what it is given.
  std::vector<int> busy;
  for (int i = 0; i < 16; ++i) busy.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const bool started = ShellExecuteExW(&info);
  for (int fd : busy) close(fd);
  ASSERT_TRUE(started) << GetLastError();
  ASSERT_NE(info.hProcess, nullptr);
  EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
  EXPECT_EQ(WaitForInputIdle(info.hProcess, 20000), 0u);
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running
  EXPECT_EQ(Read(out), "ran first\n");
  struct stat st {};
  stat((dir_ + "/drive_c/installer.sh").c_str(), &st);
  EXPECT_TRUE(st.st_mode & S_IXUSR);  // made executable to run it
  ASSERT_TRUE(TerminateProcess(info.hProcess, 9));
  ASSERT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 9u);
  CloseHandle(info.hProcess);
}

TEST_F(Processes, WaitForInputIdleReturnsWithinItsBoundWhenNeverSignalled) {
  std::wstring script = Script("silent.sh", "exec sleep 30\n");
  SHELLEXECUTEINFOW info = Request(L"open", script);
  ASSERT_TRUE(ShellExecuteExW(&info));
  DWORD start = GetTickCount();
  EXPECT_EQ(WaitForInputIdle(info.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 290u);
  EXPECT_LT(elapsed, 10000u);
  TerminateProcess(info.hProcess, 1);
  // A process that ends counts as idle: the wait returns at its exit.
  EXPECT_EQ(WaitForInputIdle(info.hProcess, INFINITE), 0u);
  CloseHandle(info.hProcess);
}

TEST_F(Processes, DeclinedElevationFailsWith1223AndOpenStillRuns) {
  std::wstring script = Script("engine.sh", "exit 0\n");
  W32SetElevationDeclinedForTesting(TRUE);
  SHELLEXECUTEINFOW info = Request(L"runas", script);
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
  info.lpVerb = L"open";
  ASSERT_TRUE(ShellExecuteExW(&info));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(info.hProcess);

  SHELLEXECUTEINFOA missing{};
  missing.cbSize = sizeof(missing);
  missing.lpVerb = "open";
  missing.lpFile = "C:\\no\\such.exe";
  EXPECT_FALSE(ShellExecuteExA(&missing));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_LE(reinterpret_cast<INT_PTR>(missing.hInstApp), 32);
}

TEST_F(Processes, WindowsProgramsGoThroughWineAndDocumentsThroughXdgOpen) {
  // Stand-ins for wine and xdg-open record how they were called.
  std::string bin = dir_ + "/bin";
  mkdir(bin.c_str(), 0755);
  for (const char* tool : {"wine", "xdg-open"}) {
    std::string path = bin + "/" + tool;
    std::ofstream(path) << "#!/bin/sh\necho \"" << tool << " $*\" > \"" << dir_ << "/" << tool << ".txt\"\n";
    chmod(path.c_str(), 0755);
  }
  std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  std::ofstream(dir_ + "/drive_c/setup.exe") << "MZ\x90\x00 not really";
  std::ofstream(dir_ + "/drive_c/notes.txt") << "text";

  std::wstring setup = L"C:\\setup.exe";
  SHELLEXECUTEINFOW info = Request(L"open", setup);
  info.lpParameters = L"/S";
  ASSERT_TRUE(ShellExecuteExW(&info)) << GetLastError();
  ASSERT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(info.hProcess);
  EXPECT_EQ(Read(dir_ + "/wine.txt"), "wine " + dir_ + "/drive_c/setup.exe /S\n");

  info.lpFile = L"C:\\notes.txt";
  info.lpParameters = nullptr;
  ASSERT_TRUE(ShellExecuteExW(&info)) << GetLastError();
  ASSERT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(info.hProcess);
  EXPECT_EQ(Read(dir_ + "/xdg-open.txt"), "xdg-open " + dir_ + "/drive_c/notes.txt\n");

  setenv("PATH", "/nonexistent", 1);
  EXPECT_FALSE(ShellExecuteExW(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));

  // Relative entries name the current folder, where a download could lie
  // under a helper's name: never searched.
  std::remove((dir_ + "/xdg-open.txt").c_str());
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(chdir(bin.c_str()), 0);
  for (const char* relative : {".", "", "./"}) {
    setenv("PATH", (std::string(relative) + ":/nonexistent").c_str(), 1);
    EXPECT_FALSE(ShellExecuteExW(&info)) << "PATH entry '" << relative << "'";
  }
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(Read(dir_ + "/xdg-open.txt"), "");
  setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(Processes, CreateProcessSplitsTheCommandLineAndReportsTheExitCode) {
  std::string out = dir_ + "/args.txt";
  std::wstring script = Script("args.sh", "printf '%s|' \"$@\" > \"$1\"\nexit 7\n");
  std::string line = "\"C:\\args.sh\" " + out + " \"two words\" a\\\\b \\\"q\\\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      << GetLastError();
  EXPECT_NE(pi.dwProcessId, 0u);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(Read(out), out + "|two words|a\\\\b|\"q\"|");
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  std::ofstream(dir_ + "/drive_c/readme.txt") << "not a program";
  std::string text = "C:\\readme.txt";
  EXPECT_FALSE(CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(Processes, ChildStartsWithNoBlockedOrIgnoredSignalOfItsParent) {
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  struct sigaction ignore {
  }, pipeBefore{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &pipeBefore);

  std::string out = dir_ + "/signals.txt";
  Script("signals.sh", "exec grep -E '^Sig(Blk|Ign):' /proc/self/status > \"$1\"\n");
  std::string line = "C:\\signals.sh " + out;
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  sigaction(SIGPIPE, &pipeBefore, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(started) << GetLastError();
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  // Masks of the standard signals 1 to 31; the C library keeps the ones
  // above for itself.
  std::istringstream masks(Read(out));
  std::string name, blocked, ignored;
  masks >> name >> blocked >> name >> ignored;
  ASSERT_FALSE(ignored.empty());
  EXPECT_EQ(std::stoull(blocked, nullptr, 16) & 0x7FFFFFFFull, 0u) << blocked;
  EXPECT_EQ(std::stoull(ignored, nullptr, 16) & 0x7FFFFFFFull, 0u) << ignored;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST_F(Processes, NamedMutexIsSeenTwiceInOneProcessAndFreedWithItsLastHandle) {
  HANDLE first = CreateMutexW(nullptr, FALSE, L"QLS-Downloader::test-one");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexW(nullptr, FALSE, L"QLS-Downloader::test-one");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(first);
  CloseHandle(second);
  HANDLE again = CreateMutexW(nullptr, FALSE, L"QLS-Downloader::test-one");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(again);
}

struct Restored {
  bool restore = false;
  bool activate = false;
  bool popupActivated = false;
};
Restored* g_restored = nullptr;

LRESULT CALLBACK FirstInstanceProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (g_restored && msg == WM_SYSCOMMAND && w == SC_RESTORE) g_restored->restore = true;
  if (g_restored && msg == WM_ACTIVATE && LOWORD(w) == WA_ACTIVE) g_restored->activate = true;
  return DefWindowProcW(hwnd, msg, w, l);
}

LRESULT CALLBACK FirstInstanceBoxProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (g_restored && msg == WM_ACTIVATE && LOWORD(w) == WA_ACTIVE) g_restored->popupActivated = true;
  return DefWindowProcW(hwnd, msg, w, l);
}

TEST_F(Processes, SecondProcessRestoresTheFirstWindowAndActivatesItsOpenBox) {
  Restored restored;
  g_restored = &restored;
  std::string name = "QLS-Downloader::http://127.0.0.1/filelist.txt";
  std::string title = "Brightholm DownLoader " + std::to_string(getpid());
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  WNDCLASSA wc{};
  wc.lpfnWndProc = FirstInstanceProc;
  wc.lpszClassName = "FirstInstanceWindow";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "FirstInstanceWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  W32SetWindowIconic(hwnd, TRUE);
  EXPECT_EQ(FindWindowA(nullptr, title.c_str()), hwnd);
  EXPECT_EQ(GetLastActivePopup(hwnd), hwnd) << "no box open yet";
  // A message box of the first window, open while the second process starts.
  wc.lpfnWndProc = FirstInstanceBoxProc;
  wc.lpszClassName = "FirstInstanceBox";
  RegisterClassA(&wc);
  HWND box = CreateWindowExA(0, "FirstInstanceBox", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(W32SetActivePopup(hwnd, box, TRUE));
  EXPECT_EQ(GetLastActivePopup(hwnd), box);

  std::string line =
      "\"" + W32PathFromPosixA(WIN32_TEST_HELPER) + "\" second-instance \"" + name + "\" \"" + title + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      << GetLastError();
  SetTimer(hwnd, 1, 50, nullptr);
  DWORD start = GetTickCount();
  MSG m;
  while (!(restored.restore && restored.popupActivated) && GetTickCount() - start < 20000 &&
         GetMessageW(&m, nullptr, 0, 0) > 0)
    DispatchMessageW(&m);
  EXPECT_TRUE(restored.restore);
  EXPECT_TRUE(restored.popupActivated) << "the box, not the window behind it, comes to the front";
  EXPECT_FALSE(restored.activate);
  EXPECT_FALSE(IsIconic(hwnd));  // default handling of SC_RESTORE
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u) << "the helper's failed step";
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  W32SetActivePopup(hwnd, box, FALSE);
  EXPECT_EQ(GetLastActivePopup(hwnd), hwnd);
  DestroyWindow(box);
  DestroyWindow(hwnd);
  CloseHandle(mutex);
  g_restored = nullptr;
}

}  // namespace

namespace {

// The runtime folder in the shared temporary directory, as a user without
// XDG_RUNTIME_DIR gets it.
class SharedRuntimeFolder : public Processes {
 protected:
  void SetUp() override {
    Processes::SetUp();
    unsetenv("MESHDROP_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
  }
  // The folder this user's processes share under `tmp`.
  static std::string UseTemp(const std::string& tmp) {
    mkdir(tmp.c_str(), 0755);
    setenv("TMPDIR", tmp.c_str(), 1);
    return tmp + "/meshdrop-" + std::to_string(geteuid());
  }
  static bool IsPrivateFolder(const std::string& dir) {
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 07777) == 0700;
  }
  // The runtime folder now, checked private, and a named mutex made in it.
  static std::string RuntimeAndMutex() {
    std::string dir = W32RuntimeDir();
    EXPECT_TRUE(IsPrivateFolder(dir)) << dir;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"QLS-Downloader::runtime-folder-test");
    EXPECT_NE(mutex, nullptr);
    CloseHandle(mutex);
    return dir;
  }
};

TEST_F(SharedRuntimeFolder, IsMadePrivateAndRefusedWhenSomeoneElsePreparedIt) {
  // Made by the first process, 0700.
  std::string shared = UseTemp(dir_ + "/clean");
  EXPECT_EQ(RuntimeAndMutex(), shared);

  // A link planted where the folder goes: not followed, nothing written there.
  std::string victim = dir_ + "/victim";
  mkdir(victim.c_str(), 0700);
  shared = UseTemp(dir_ + "/linked");
  ASSERT_EQ(symlink(victim.c_str(), shared.c_str()), 0);
  std::string own = RuntimeAndMutex();
  EXPECT_NE(own, shared);
  EXPECT_EQ(own.rfind(shared + "-", 0), 0u) << own;
  EXPECT_EQ(W32RuntimeDir(), own) << "the fresh folder stays this process's";
  EXPECT_EQ(system(("test -z \"$(ls -A '" + victim + "')\"").c_str()), 0) << "the link's target stays empty";

  // A folder that others may enter.
  shared = UseTemp(dir_ + "/open");
  mkdir(shared.c_str(), 0755);
  chmod(shared.c_str(), 0755);
  EXPECT_NE(RuntimeAndMutex(), shared);

  // A folder of another user (only root can make one here).
  if (geteuid() == 0) {
    shared = UseTemp(dir_ + "/foreign");
    mkdir(shared.c_str(), 0700);
    ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
    EXPECT_NE(RuntimeAndMutex(), shared);
  }
  unsetenv("TMPDIR");
}

}  // namespace
