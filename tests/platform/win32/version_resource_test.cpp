// Version resources: a Windows program made by the mingw-w64 binutils at test
// time, and files cut or damaged anywhere.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <win32_ext.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "PeVersionResource.h"
#include "TempDir.h"

namespace {

const char kTables[] =
    "    BLOCK \"040404B0\"\n    BEGIN\n"
    "      VALUE \"FileVersion\", \"2.5.0.7\"\n"
    "      VALUE \"ProductName\", \"中文版\"\n"
    "    END\n";

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::MakePeWithVersionInfo(
        testsupport::VersionInfoStatement("2,5,0,7", kTables, "0x0404, 1200"), dir_.file("engine.exe")));
    path_ = W32PathFromPosixA(dir_.file("engine.exe"));
  }

  // The buffer GetFileVersionInfoA fills, or empty.
  std::vector<unsigned char> Block(const std::string& path) {
    DWORD handle = 7;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data())) block.clear();
    return block;
  }

  static std::string Text(std::vector<unsigned char>& block, const char* key, UINT* length = nullptr) {
    void* value = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(block.data(), key, &value, &size)) return "<none>";
    if (length != nullptr) *length = size;
    return static_cast<const char*>(value);
  }

  testsupport::TempDir dir_{"win32-version"};
  std::string path_;
};

TEST_F(VersionResource, AnswersFixedInfoTranslationAndStringsOfAWindowsProgram) {
  std::vector<unsigned char> block = Block(path_);
  ASSERT_FALSE(block.empty());

  void* value = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &size));
  ASSERT_EQ(size, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020005u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000007u);

  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &size));
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0404);
  EXPECT_EQ(static_cast<const WORD*>(value)[1], 0x04B0);

  UINT length = 0;
  EXPECT_EQ(Text(block, "\\stringfileinfo\\040404b0\\FILEVERSION", &length), "2.5.0.7");
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(Text(block, "\\StringFileInfo\\040404B0\\ProductName"), "中文版");
  setenv("MESHDROP_CODEPAGE", "950", 1);
  EXPECT_EQ(Text(block, "\\StringFileInfo\\040404B0\\ProductName"), "\xA4\xA4\xA4\xE5\xAA\xA9");
  unsetenv("MESHDROP_CODEPAGE");
  EXPECT_EQ(Text(block, "\\StringFileInfo\\040904B0\\FileVersion"), "<none>");
  EXPECT_EQ(Text(block, "\\StringFileInfo\\040404B0\\Comments"), "<none>");

  DWORD needed = GetFileVersionInfoSizeA(path_.c_str(), nullptr);
  std::vector<unsigned char> small(needed - 1);
  EXPECT_FALSE(GetFileVersionInfoA(path_.c_str(), 0, needed - 1, small.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(VersionResource, MissingCutOrDamagedFilesAnswerNoVersion) {
  EXPECT_EQ(GetFileVersionInfoSizeA(W32PathFromPosixA(dir_.file("none.exe")).c_str(), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(testsupport::writeFile(dir_.file("plain.txt"), "MZ but nothing more"));
  EXPECT_EQ(GetFileVersionInfoSizeA(W32PathFromPosixA(dir_.file("plain.txt")).c_str(), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));

  // Every cut of the program: either no version or the whole right one. The
  // cut copies live in memory, named by their descriptor.
  const std::string program = testsupport::readFile(dir_.file("engine.exe"));
  const int memory = memfd_create("cut", MFD_CLOEXEC);
  ASSERT_GE(memory, 0);
  const std::string cutPath = W32PathFromPosixA("/proc/self/fd/" + std::to_string(memory));
  auto store = [&](const std::string& bytes) {
    return ftruncate(memory, 0) == 0 && pwrite(memory, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
  };
  for (size_t length = 0; length < program.size(); ++length) {
    ASSERT_TRUE(store(program.substr(0, length)));
    std::vector<unsigned char> block = Block(cutPath);
    if (!block.empty()) {
      EXPECT_EQ(Text(block, "\\StringFileInfo\\040404B0\\FileVersion"), "2.5.0.7") << length;
    }
  }
  // Bytes changed anywhere: any answer, but no read outside the file or block.
  std::srand(11);
  for (int round = 0; round < 2000; ++round) {
    std::string damaged = program;
    for (int k = 0; k < 4; ++k) damaged[std::rand() % damaged.size()] = static_cast<char>(std::rand());
    ASSERT_TRUE(store(damaged));
    std::vector<unsigned char> block = Block(cutPath);
    if (!block.empty()) Text(block, "\\StringFileInfo\\040404B0\\FileVersion");
  }
  close(memory);
}

}  // namespace
