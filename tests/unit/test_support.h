// Shared fixtures for the unit tests: a fresh headless backend and module state per test, a
// private temporary folder, and reading a file whole.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

// Runs `body` as a user whom file permissions bind. Root reads and writes whatever the
// permissions say, so as root the body runs in a child process that has become `nobody`
// (group `nogroup`, no other groups); the child's failures are printed where they happen and
// fail the test here. Otherwise the body simply runs.
inline void RunUnprivileged(const std::function<void()>& body) {
  if (geteuid() != 0) {
    body();
    return;
  }
  const passwd* user = getpwnam("nobody");
  const group* nogroup = getgrnam("nogroup");
  ASSERT_NE(user, nullptr) << "no user nobody to run as";
  const gid_t gid = nogroup != nullptr ? nogroup->gr_gid : user->pw_gid;
  const uid_t uid = user->pw_uid;
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0) << "fork failed";
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0 || geteuid() == 0)
      _exit(3);
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the unprivileged child ended with status " << status;
  ASSERT_NE(WEXITSTATUS(status), 3) << "the child could not become nobody";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged child failed (its output is above)";
}
