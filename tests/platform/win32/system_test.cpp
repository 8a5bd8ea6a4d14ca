// Code pages, the registry file, the network state and the version query.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <win32_ext.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_dir.h"

namespace {

const wchar_t kChinese[] = L"至少需要 1.5 GB 容量。剩餘容量：下載";

std::string Narrow(UINT cp, const wchar_t* text) {
  int n = WideCharToMultiByte(cp, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(WideCharToMultiByte(cp, 0, text, -1, out.data(), n, nullptr, nullptr), n);
  out.pop_back();  // the converted terminator
  return out;
}

std::wstring Wide(UINT cp, const std::string& text) {
  int n = MultiByteToWideChar(cp, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  EXPECT_EQ(MultiByteToWideChar(cp, 0, text.c_str(), -1, out.data(), n), n);
  out.pop_back();
  return out;
}

TEST(CodePages, ChineseRoundTripsThroughUtf8AndBig5) {
  std::string utf8 = Narrow(CP_UTF8, kChinese);
  EXPECT_EQ(utf8, "至少需要 1.5 GB 容量。剩餘容量：下載");
  EXPECT_EQ(Wide(CP_UTF8, utf8), kChinese);

  std::string big5 = Narrow(950, kChinese);
  EXPECT_NE(big5, utf8);
  EXPECT_EQ(static_cast<unsigned char>(big5[0]), 0xA6u);  // 至 is A6DC in code page 950
  EXPECT_EQ(static_cast<unsigned char>(big5[1]), 0xDCu);
  EXPECT_EQ(Wide(950, big5), kChinese);

  setenv("MESHDROP_CODEPAGE", "950", 1);
  EXPECT_EQ(GetACP(), 950u);
  EXPECT_EQ(Narrow(CP_ACP, kChinese), big5);
  unsetenv("MESHDROP_CODEPAGE");
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST(CodePages, LengthContract) {
  // -1 counts the terminator; an explicit length does not add one.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "下載", -1, nullptr, 0), 3);
  wchar_t small[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"下載", -1, nullptr, 0, nullptr, nullptr), 7);

  // Invalid input: replaced, or refused when asked to be strict.
  const char bad[] =
      "a\xff"
      "b";
  wchar_t out[8];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, bad, 3, out, 8), 3);
  EXPECT_EQ(out[1], 0xFFFD);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, 3, out, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

  // A character code page 950 lacks becomes the default character.
  BOOL usedDefault = FALSE;
  char narrow[8];
  int n = WideCharToMultiByte(950, 0, L"a\U0001F600", 2, narrow, 8, nullptr, &usedDefault);
  EXPECT_EQ(std::string(narrow, static_cast<size_t>(n)), "a?");
  EXPECT_TRUE(usedDefault);
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = temp_.path() + "/meshdrop.reg";
    setenv("MESHDROP_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override { unsetenv("MESHDROP_REGISTRY"); }
  TempDir temp_;
  std::string file_;
};

const wchar_t kFolder[] = L"C:\\quorvik\\veilrune\\ \"下載\" \\\\x";

TEST_F(Registry, StringWrittenByOneProcessReadsBackUnchangedInAnother) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane Inc.\\DownloadPath", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, &disposition) != ERROR_SUCCESS)
      _exit(1);
    if (disposition != REG_CREATED_NEW_KEY) _exit(2);
    DWORD bytes = static_cast<DWORD>((wcslen(kFolder) + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key, L"veilrune", 0, REG_SZ, reinterpret_cast<const BYTE*>(kFolder), bytes) != ERROR_SUCCESS)
      _exit(3);
    DWORD number = 0x2a;
    RegSetValueExW(key, L"count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    RegCloseKey(key);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  std::ifstream in(file_);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().rfind("REGEDIT4\n", 0), 0u);
  EXPECT_NE(text.str().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Inc.\\DownloadPath]"), std::string::npos);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\orvane inc.\\downloadpath", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExW(key, L"veilrune", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, (wcslen(kFolder) + 1) * sizeof(wchar_t));
  std::wstring value(size / sizeof(wchar_t), L'\0');
  DWORD tooSmall = 4;
  EXPECT_EQ(RegQueryValueExW(key, L"veilrune", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &tooSmall),
            ERROR_MORE_DATA);
  ASSERT_EQ(RegQueryValueExW(key, L"veilrune", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value.c_str(), kFolder);
  DWORD number = 0;
  size = sizeof(number);
  ASSERT_EQ(RegQueryValueExW(key, L"count", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 0x2au);
  char narrow[128];
  size = sizeof(narrow);
  ASSERT_EQ(RegQueryValueExA(key, "veilrune", nullptr, &type, reinterpret_cast<BYTE*>(narrow), &size), ERROR_SUCCESS);
  EXPECT_STREQ(narrow, "C:\\quorvik\\veilrune\\ \"下載\" \\\\x");
  EXPECT_EQ(RegQueryValueExW(key, L"absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nothing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

namespace {

LSTATUS SetFolderValue(const wchar_t* keyPath, const wchar_t* text) {
  HKEY key = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                               &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, L"veilrune", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                      static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TEST_F(Registry, FileThatCannotBeReadIsKeptAndWritesFail) {
  // Over the bound: not taken for an empty registry.
  std::string big = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Keep]\n\"a\"=\"b\"\n" + std::string(17u << 20, ';');
  std::ofstream(file_, std::ios::binary) << big;
  EXPECT_NE(SetFolderValue(L"SOFTWARE\\Orvane Inc.\\DownloadPath", L"C:\\x\\"), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(file_).size(), big.size()) << "the file is left as it was";

  // Unreadable (here: not a file at all).
  ASSERT_EQ(std::remove(file_.c_str()), 0);
  ASSERT_EQ(mkdir(file_.c_str(), 0700), 0);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_NE(SetFolderValue(L"SOFTWARE\\Orvane Inc.\\DownloadPath", L"C:\\x\\"), ERROR_SUCCESS);
  struct stat st {};
  EXPECT_TRUE(stat(file_.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

TEST_F(Registry, KeyNamesCannotWriteLinesOfTheirOwn) {
  const wchar_t* forged = L"SOFTWARE\\a]\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Inc.\\DownloadPath";
  ASSERT_EQ(SetFolderValue(forged, L"C:\\planted\\"), ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane Inc.\\DownloadPath", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, forged, 0, KEY_READ, &key), ERROR_SUCCESS) << "the odd key reads back";
  RegCloseKey(key);
  EXPECT_NE(ReadFile(file_).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\a]%0D%0A[HKEY_LOCAL_MACHINE"), std::string::npos);
}

TEST(NetworkState, SwitchForcesTheAnswer) {
  DWORD flags = 0;
  W32SetInternetConnectedForTesting(0);
  EXPECT_FALSE(InternetGetConnectedState(&flags, 0));
  W32SetInternetConnectedForTesting(1);
  EXPECT_TRUE(InternetGetConnectedState(&flags, 0));
  EXPECT_EQ(flags & INTERNET_CONNECTION_LAN, static_cast<DWORD>(INTERNET_CONNECTION_LAN));
  W32SetInternetConnectedForTesting(-1);
  BOOL real = InternetGetConnectedState(&flags, 0);
  EXPECT_EQ(real != FALSE, (flags & INTERNET_CONNECTION_LAN) != 0);
}

TEST(Version, ReportsAnNtVersionAboveFive) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExW(&info));
  EXPECT_GT(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  OSVERSIONINFOEXA ex{};
  ex.dwOSVersionInfoSize = sizeof(ex);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, info.dwMajorVersion);
  EXPECT_EQ(SetErrorMode(SEM_FAILCRITICALERRORS), 0u);
  INITCOMMONCONTROLSEX icc{8, 0xFF};
  EXPECT_TRUE(InitCommonControlsEx(&icc));
  wchar_t exe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  EXPECT_EQ(std::wstring(exe).substr(0, 3), L"Z:\\");
}

}  // namespace
