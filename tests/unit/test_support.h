// Shared fixtures for the unit tests: a fresh headless backend and module state per test, a
// private temporary folder, and reading a file whole.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// The file's bytes as they are; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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
