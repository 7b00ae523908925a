// Shared helpers for the unit tests: a fresh headless backend and module state per test, the
// areas a form hands its backend, BMP file images, a private temporary folder, files read and
// written whole, running as an unprivileged user, and the names and printing of parameterised
// cases.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "platform/form.h"
#include "platform/headless/headless.h"
#include "watcher/f_mouse_watch.h"

// Puts the program's state back as a fresh process has it: no default form, the headless
// backend's first state, the Commands module's variables empty.
inline void ResetProgramState() {
  fMouseWatch::ResetDefault();
  headless::Reset();
  Commands::Reset();
}

// Names the settings files as start-up does for a program at `exe`.
inline void NameTheSettingsFor(const std::string& exe) {
  headless::SetExecutablePath(exe);
  Commands::InitEnvironment();
  Commands::InitProfile();
}

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
  void TearDown() override { ResetProgramState(); }
};

// Moves a window's outer top-left corner to (x, y), screen pixels, keeping its size.
inline void MoveWindowTo(HWND window, int x, int y) {
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The areas the form hands its backend to copy (Form::TakeDirty), taken; never more than
// kMaxDirty of them.
inline std::vector<runtime::PixelRect> TakeDirty(runtime::Form& form) {
  std::array<runtime::PixelRect, runtime::Form::kMaxDirty> dirty;
  const int count = form.TakeDirty(dirty);
  EXPECT_TRUE(count >= 0 && count <= runtime::Form::kMaxDirty) << count << " dirty areas";
  return {dirty.begin(), dirty.begin() + std::clamp(count, 0, runtime::Form::kMaxDirty)};
}

namespace runtime {
inline void PrintTo(const PixelRect& r, std::ostream* out) {
  *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
}  // namespace runtime

// A 24-bit BMP file image of `pixels` (0x00BBGGRR, top row first); the file stores rows
// bottom-up, padded to 4 bytes.
inline std::vector<std::uint8_t> MakeBmp(int width, int height,
                                         const std::vector<COLORREF>& pixels) {
  const int stride = (width * 3 + 3) & ~3;
  const std::uint32_t size = 54 + static_cast<std::uint32_t>(stride * height);
  std::vector<std::uint8_t> file(size, 0);
  auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      file[at + static_cast<std::size_t>(i)] = (value >> (8 * i)) & 0xFF;
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(width), 4);
  put(22, static_cast<std::uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < height; ++y) {
    const std::size_t row = 54 + static_cast<std::size_t>(stride) * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const COLORREF c = pixels[static_cast<std::size_t>(y) * width + x];
      file[row + 3 * x] = (c >> 16) & 0xFF;
      file[row + 3 * x + 1] = (c >> 8) & 0xFF;
      file[row + 3 * x + 2] = c & 0xFF;
    }
  }
  return file;
}

// The file's bytes as they are, or nothing when it cannot be read.
inline std::optional<std::string> ReadFileIfAny(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The file's bytes as they are; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) { return ReadFileIfAny(path).value_or(""); }

// Makes `bytes` the whole file, and then gives it `mode` if one is given.
inline void WriteFile(const std::string& path, const std::string& bytes,
                      std::optional<mode_t> mode = std::nullopt) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  if (mode) {
    ASSERT_EQ(chmod(path.c_str(), *mode), 0) << path;
  }
}

// The permission bits of the file at `path`; nothing when it cannot be looked at.
inline std::optional<mode_t> ModeOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return info.st_mode & 07777;
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

// The user whom file permissions bind when the tests run as root (root reads and writes whatever
// the permissions say): nobody, in group nogroup, or nobody's own group where there is none.
struct Account {
  uid_t uid;
  gid_t gid;
};
inline std::optional<Account> Nobody() {
  const passwd* user = getpwnam("nobody");
  if (user == nullptr) return std::nullopt;
  const group* nogroup = getgrnam("nogroup");
  return Account{user->pw_uid, nogroup != nullptr ? nogroup->gr_gid : user->pw_gid};
}

// Runs `job` in a child process and returns what it returned, or nothing when the child failed.
// Run as root, the child first becomes nobody (no other groups, for good) unless `keepUser`.
inline std::optional<std::string> RunInChild(const std::function<std::string()>& job,
                                             bool keepUser = false) {
  const bool drop = !keepUser && geteuid() == 0;
  const std::optional<Account> nobody = Nobody();
  if (drop && !nobody) {
    ADD_FAILURE() << "no user nobody to run as";
    return std::nullopt;
  }
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    close(fds[0]);
    if (drop &&
        (setgroups(0, nullptr) != 0 || setresgid(nobody->gid, nobody->gid, nobody->gid) != 0 ||
         setresuid(nobody->uid, nobody->uid, nobody->uid) != 0 || geteuid() == 0))
      _exit(2);
    const std::string result = job();
    std::fflush(nullptr);
    const bool written =
        write(fds[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
    _exit(written ? 0 : 3);
  }
  close(fds[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::nullopt;
  return result;
}

// Runs `body` as a user whom file permissions bind: as root, in a child process that has become
// nobody (see RunInChild), whose failures are printed where they happen and fail the test here;
// otherwise simply here.
inline void RunUnprivileged(const std::function<void()>& body) {
  if (geteuid() != 0) return body();
  const std::optional<std::string> failed = RunInChild([&] {
    body();
    return std::string(::testing::Test::HasFailure() ? "failed" : "passed");
  });
  EXPECT_EQ(failed, "passed") << "the unprivileged child failed (its output is above) or could "
                                 "not become nobody";
}

// Names each parameterised case after its parameter's `name` (INSTANTIATE_TEST_SUITE_P's last
// argument).
struct ParamNameOf {
  template <class Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    return info.param.name;
  }
};
inline constexpr ParamNameOf ParamName{};

// Prints a case by its name in gtest's messages. A test file's own namespace brings it in with
// `using ::PrintTo;`, so that it is found beside the case types declared there.
template <class Case>
requires requires(const Case& c) {
  { c.name } -> std::convertible_to<const char*>;
}
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
