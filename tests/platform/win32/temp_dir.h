// A temporary folder for one test, removed with everything in it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/win32-test-XXXXXX";
    if (mkdtemp(templ) != nullptr) path_ = templ;
    EXPECT_FALSE(path_.empty());
  }
  ~TempDir() {
    if (!path_.empty()) {
      std::string cmd = "rm -rf '" + path_ + "'";
      EXPECT_EQ(system(cmd.c_str()), 0);
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
