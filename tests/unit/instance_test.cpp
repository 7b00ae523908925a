// One copy per executable, user and display, through a lock that goes with the process.
#include "platform/posix/instance.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

namespace {

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    setenv("DISPLAY", ":7", 1);
  }
  TempDir dir;
};

TEST_F(InstanceTest, TheFirstClaimWinsAndASecondIsRefused) {
  EXPECT_TRUE(platform::posix::ClaimInstance(dir / "a/ozzlebeck"));
  EXPECT_FALSE(platform::posix::ClaimInstance(dir / "a/ozzlebeck"));
  EXPECT_TRUE(std::filesystem::exists(
      platform::posix::InstanceLockPath(dir.path().string(), dir / "a/ozzlebeck", ":7")));
}

TEST_F(InstanceTest, OtherExecutablesAndOtherDisplaysAreOtherCopies) {
  EXPECT_TRUE(platform::posix::ClaimInstance(dir / "b/ozzlebeck"));
  EXPECT_TRUE(platform::posix::ClaimInstance(dir / "c/ozzlebeck"));
  setenv("DISPLAY", ":8", 1);
  EXPECT_TRUE(platform::posix::ClaimInstance(dir / "b/ozzlebeck"));
  setenv("DISPLAY", ":8.1", 1);  // another screen of the same display is the same session
  EXPECT_FALSE(platform::posix::ClaimInstance(dir / "b/ozzlebeck"));
}

TEST_F(InstanceTest, LinksToTheSameExecutableAreTheSameProgram) {
  std::filesystem::create_directories(dir.path() / "d");
  std::ofstream(dir / "d/ozzlebeck") << "x";
  std::filesystem::create_symlink(dir.path() / "d/ozzlebeck", dir.path() / "link");
  EXPECT_TRUE(platform::posix::ClaimInstance(dir / "d/ozzlebeck"));
  EXPECT_FALSE(platform::posix::ClaimInstance(dir / "link"));
}

TEST_F(InstanceTest, AClaimEndsWithItsProcess) {
  const std::string exe = dir / "e/ozzlebeck";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(platform::posix::ClaimInstance(exe) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(platform::posix::ClaimInstance(exe));  // the child is gone, and its claim too
}

}  // namespace
