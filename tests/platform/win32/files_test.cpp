// Drive mapping, path conversion, files, directories, free space and known folders.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <win32_ext.h>
#include <windows.h>

#include <string>

#include "temp_dir.h"

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path() + "/drive_c";
    ASSERT_EQ(mkdir(root_.c_str(), 0755), 0);
    setenv("MESHDROP_DRIVE_C", root_.c_str(), 1);
    char cwd[4096];
    oldCwd_ = getcwd(cwd, sizeof(cwd));
  }
  void TearDown() override {
    W32SetDiskFullForTesting(FALSE);
    chdir(oldCwd_.c_str());
    unsetenv("MESHDROP_DRIVE_C");
  }

  TempDir temp_;
  std::string root_, oldCwd_;
};

TEST_F(Files, DrivesMapBothWays) {
  EXPECT_EQ(W32DriveCRoot(), root_);
  EXPECT_EQ(W32PathToPosix(std::wstring_view(L"C:\\quorvik\\veilrune\\")), root_ + "/quorvik/veilrune/");
  EXPECT_EQ(W32PathToPosix(std::string_view("c:/quorvik/./old/../veilrune")), root_ + "/quorvik/veilrune");
  EXPECT_EQ(W32PathToPosix(std::string_view("Z:\\tmp\\x")), "/tmp/x");
  EXPECT_EQ(W32PathToPosix(std::string_view("Z:\\")), "/");
  EXPECT_EQ(W32PathToPosix(std::string_view("C:\\..\\..")), root_);  // never above the drive
  EXPECT_EQ(W32PathToPosix(std::wstring_view(L"C:\\下載\\檔案.txt")), root_ + "/下載/檔案.txt");

  EXPECT_EQ(W32PathFromPosixW(root_ + "/quorvik/veilrune/"), L"C:\\quorvik\\veilrune\\");
  EXPECT_EQ(W32PathFromPosixW(root_), L"C:\\");
  EXPECT_EQ(W32PathFromPosixA("/tmp/x"), "Z:\\tmp\\x");
  EXPECT_EQ(
      W32PathFromPosixA(root_ + "-other/x"), "Z:" + [&] {
        std::string s = root_ + "-other/x";
        for (auto& c : s)
          if (c == '/') c = '\\';
        return s;
      }());

  char small[4];
  EXPECT_EQ(W32PathToPosix("Z:\\tmp\\x", small, sizeof(small)), 7u);  // size needed with terminator
  EXPECT_EQ(W32PathToPosix("D:\\x", small, sizeof(small)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(W32PathToPosix("\\\\server\\share", small, sizeof(small)), 0u);
}

TEST_F(Files, DrivelessAndRelativePathsFollowTheCurrentDirectory) {
  ASSERT_TRUE(CreateDirectoryW(L"C:\\work", nullptr));
  ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\work"));
  wchar_t cwd[MAX_PATH];
  ASSERT_EQ(GetCurrentDirectoryW(MAX_PATH, cwd), 7u);
  EXPECT_STREQ(cwd, L"C:\\work");
  EXPECT_EQ(W32PathToPosix(std::string_view("\\foo")), root_ + "/foo");
  EXPECT_EQ(W32PathToPosix(std::string_view("rel\\file")), root_ + "/work/rel/file");
  EXPECT_EQ(W32PathToPosix(std::string_view("C:file")), root_ + "/work/file");
  EXPECT_EQ(W32PathFromPosixW("sub"), L"C:\\work\\sub");
  ASSERT_TRUE(SetCurrentDirectoryA("Z:\\tmp"));
  EXPECT_EQ(W32PathToPosix(std::string_view("\\foo")), "/foo");
  EXPECT_EQ(W32PathToPosix(std::string_view("C:file")), root_ + "/file");  // another drive: its root
  // C: reached through a symbolic link still maps back to C:.
  std::string link = temp_.path() + "/link";
  ASSERT_EQ(symlink(root_.c_str(), link.c_str()), 0);
  setenv("MESHDROP_DRIVE_C", link.c_str(), 1);
  ASSERT_EQ(chdir((link + "/work").c_str()), 0);
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  EXPECT_STREQ(cwd, L"C:\\work");
  EXPECT_FALSE(SetCurrentDirectoryW(L"C:\\missing"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, CreateAlwaysReplacesAnExistingFileAndReports183) {
  HANDLE h = CreateFileA("C:\\data.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &written, nullptr));
  EXPECT_EQ(written, 10u);
  CloseHandle(h);

  h = CreateFileA("C:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);  // replaced
  WriteFile(h, "abcdef", 6, &written, nullptr);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
  char buf[8] = {0};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(h, buf, sizeof(buf), &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_STREQ(buf, "cdef");
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_END), 5u);
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_CURRENT), 5u);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(SetFilePointer(h, -10, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  CloseHandle(h);

  EXPECT_EQ(CreateFileW(L"C:\\data.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  h = CreateFileW(L"C:\\data.bin", GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  EXPECT_EQ(CreateFileW(L"C:\\missing.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(L"C:\\no\\such\\file", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(CreateFileW(L"C:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Files, FullDiskSwitchFailsWritesWith112AndReportsNoSpace) {
  HANDLE h = CreateFileA("C:\\full.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ULARGE_INTEGER available{}, total{}, free{};
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
  EXPECT_GT(free.QuadPart, 0u);
  W32SetDiskFullForTesting(TRUE);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(written, 0u);
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
  EXPECT_EQ(free.QuadPart, 0u);
  EXPECT_EQ(available.QuadPart, 0u);
  W32SetDiskFullForTesting(FALSE);
  EXPECT_TRUE(WriteFile(h, "x", 1, &written, nullptr));
  CloseHandle(h);
}

TEST_F(Files, OpenReparsePointRefusesToCreateThroughALink) {
  ASSERT_EQ(symlink((root_ + "/target.txt").c_str(), (root_ + "/link.bin").c_str()), 0);
  HANDLE h =
      CreateFileA("C:\\link.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));
  EXPECT_NE(access((root_ + "/target.txt").c_str(), F_OK), 0);  // nothing created through the link
  h = CreateFileA("C:\\plain.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  // Without the flag a link is followed, as Win32 does.
  h = CreateFileA("C:\\link.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(access((root_ + "/target.txt").c_str(), F_OK), 0);
}

TEST_F(Files, FreeSpaceIsAskedOfTheDeepestExistingFolder) {
  ULARGE_INTEGER available{}, total{}, free{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\not\\yet\\created\\", &available, &total, &free));
  struct statvfs vfs {};
  ASSERT_EQ(statvfs(root_.c_str(), &vfs), 0);
  EXPECT_EQ(total.QuadPart, static_cast<ULONGLONG>(vfs.f_blocks) * vfs.f_frsize);
  // /dev/shm is another file system: its size is reported, not that of /.
  if (access("/dev/shm", W_OK) == 0) {
    struct statvfs shm {};
    statvfs("/dev/shm", &shm);
    ASSERT_TRUE(GetDiskFreeSpaceExA("Z:\\dev\\shm\\missing\\deeper", &available, &total, &free));
    EXPECT_EQ(total.QuadPart, static_cast<ULONGLONG>(shm.f_blocks) * shm.f_frsize);
  }
}

TEST_F(Files, DirectoriesAttributesAndDeletion) {
  EXPECT_TRUE(CreateDirectoryA("C:\\quorvik", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\quorvik", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\a\\b", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\quorvik"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesA("C:\\nothing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE h = CreateFileW(L"C:\\quorvik\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW(L"C:\\quorvik\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(DeleteFileW(L"C:\\quorvik"));
  EXPECT_TRUE(MoveFileW(L"C:\\quorvik\\f.txt", L"C:\\quorvik\\g.txt"));
  EXPECT_TRUE(DeleteFileW(L"C:\\quorvik\\g.txt"));
  EXPECT_FALSE(DeleteFileW(L"C:\\quorvik\\g.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(RemoveDirectoryW(L"C:\\quorvik"));
}

TEST_F(Files, KnownFoldersLieInsideDriveC) {
  wchar_t path[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
  EXPECT_STREQ(path, L"C:\\Program Files");
  EXPECT_EQ(GetFileAttributesW(path), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  char narrow[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, narrow), S_OK);
  std::string appData = narrow;
  EXPECT_EQ(appData.rfind("C:\\users\\", 0), 0u);
  EXPECT_EQ(appData.substr(appData.size() - 16), "\\AppData\\Roaming");
  EXPECT_EQ(GetFileAttributesA(narrow), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_NE(SHGetFolderPathW(nullptr, 0x7F, nullptr, 0, path), S_OK);
}

}  // namespace
