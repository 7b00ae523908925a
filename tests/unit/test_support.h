// Shared fixtures for the unit tests: a fresh headless backend and module state per test, and
// a private temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "commands/commands.h"
#include "platform/headless/headless.h"
#include "watcher/f_mouse_watch.h"

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fMouseWatch::ResetDefault();
    headless::Reset();
    Commands::Reset();
  }
  void TearDown() override {
    fMouseWatch::ResetDefault();
    headless::Reset();
    Commands::Reset();
  }
};

// A folder of its own under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ozz-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};
