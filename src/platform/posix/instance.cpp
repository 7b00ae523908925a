#include "platform/posix/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace platform::posix {
namespace {

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The display without its screen number: ":1.0" and ":1" are the same session.
std::string SessionOf(const char* display) {
  std::string session = display != nullptr ? display : "";
  const std::size_t colon = session.rfind(':');
  const std::size_t dot = session.find('.', colon == std::string::npos ? 0 : colon);
  if (colon != std::string::npos && dot != std::string::npos) session.resize(dot);
  return session;
}

// A folder only this user can use: $XDG_RUNTIME_DIR, else one of our own under /tmp.
std::string RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (xdg != nullptr && xdg[0] == '/' && stat(xdg, &info) == 0 && S_ISDIR(info.st_mode) &&
      info.st_uid == getuid())
    return xdg;
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
  folder += "/ozzlebeck-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // Someone else's folder or a link planted in our way is not ours to use.
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
    return {};
  return folder;
}

}  // namespace

std::string InstanceLockPath(const std::string& folder, const std::string& exePath,
                             const std::string& display) {
  char name[64];
  std::snprintf(
      name, sizeof name, "/ozzlebeck-%016llx.lock",
      static_cast<unsigned long long>(Fnv1a(exePath + '\n' + SessionOf(display.c_str()))));
  return folder + name;
}

bool ClaimInstance(const std::string& exePath) {
  char real[PATH_MAX];
  const std::string key = realpath(exePath.c_str(), real) != nullptr ? real : exePath;
  const std::string folder = RuntimeFolder();
  if (folder.empty()) return true;
  const char* display = std::getenv("DISPLAY");
  const std::string path = InstanceLockPath(folder, key, display != nullptr ? display : "");
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // held until this process ends
  const bool held = errno == EWOULDBLOCK;
  close(fd);
  return !held;
}

}  // namespace platform::posix
