// Replacing a settings file safely: loading the file a write will change, and putting its new
// content in place whole or not at all.
//
// The new content goes into a hidden temporary file beside the old one, is synced and renamed
// over it, so the file is whole at every moment, and a write that cannot complete (a full disk, a
// failed sync) reports failure and leaves the old file as it was. Writes follow symbolic links,
// keep the file's permissions, and leave anything but a regular file alone. A save killed part
// way leaves its temporary file behind; the next save of the same file removes it, unless
// another save is running in that folder (saves hold a shared lock on the folder while their
// temporary file exists, the tidying an exclusive one).
#include "platform/posix/profile_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/posix/profile.h"
#include "platform/posix/profile_read.h"

namespace platform::posix {
namespace {

constexpr int kMaxLinkHops = 40;
constexpr std::size_t kTemporaryNameLimit = 200;
// mkostemp puts six letters or digits in place of the pattern's XXXXXX.
constexpr std::string_view kTemporarySuffix = ".XXXXXX";

std::function<void(ProfileWriteStep)>& WriteHook() {
  static std::function<void(ProfileWriteStep)> hook;
  return hook;
}

void Step(ProfileWriteStep step) {
  if (WriteHook()) WriteHook()(step);
}

int (*g_sync)(int) = fsync;

// The permissions a new file gets: read and write for all, less the process's umask. The umask
// is read where Linux shows it, so that it is never changed, even for a moment.
mode_t NewFileMode() {
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned int value = 0;
    while (std::fgets(line, sizeof line, status) != nullptr)
      if (std::sscanf(line, "Umask: %o", &value) == 1) mask = static_cast<mode_t>(value);
    std::fclose(status);
  }
  return 0666 & ~mask;
}

// A temporary file that removes itself unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pattern) : path_(std::move(pattern)) {
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
  }
  ~TemporaryFile() {
    const int error = errno;  // why the write failed, for whoever reports it
    if (fd_ >= 0) close(fd_);
    if (fd_ != kRenamed && fd_ != kFailed) unlink(path_.c_str());
    errno = error;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = kClosed;
    return close(fd) == 0;
  }
  bool RenameTo(const std::string& path) {
    if (rename(path_.c_str(), path.c_str()) != 0) return false;
    fd_ = kRenamed;
    return true;
  }

 private:
  static constexpr int kFailed = -1;  // mkostemp made no file
  static constexpr int kClosed = -2;
  static constexpr int kRenamed = -3;
  std::string path_;
  int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = write(fd, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

// The settings file's folder, opened to lock it: saves into it hold a shared lock while their
// temporary file exists; removing what killed saves left takes an exclusive one, so it never
// removes the temporary file of a save that runs. flock locks go with their process, so a save
// that was killed holds none. Where the folder cannot be opened or locked (a folder the user can
// write but not list, a file system without flock), saves go ahead unlocked and nothing is
// removed.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  int fd() const { return fd_; }
  // True when no other save holds the folder; the lock is then exclusive until Share.
  bool TryExclusive() { return fd_ >= 0 && Lock(LOCK_EX | LOCK_NB); }
  // Waits for the folder's tidying, if any, to end (it is short); then shares the folder with
  // other saves.
  void Share() {
    if (fd_ >= 0) Lock(LOCK_SH);
  }

 private:
  bool Lock(int operation) {
    int result;
    do {
      result = flock(fd_, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
  }

  int fd_;
};

bool IsTemporaryLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Removes from the folder the regular files named as a save of the file `name` names its
// temporary file: "." + name + "." + six letters or digits.
void RemoveLeftovers(int folder, const std::string& temporaryStem) {
  const int listing = dup(folder);
  if (listing < 0) return;
  DIR* entries = fdopendir(listing);
  if (entries == nullptr) {
    close(listing);
    return;
  }
  const std::size_t letters = kTemporarySuffix.size() - 1;
  while (const dirent* entry = readdir(entries)) {
    const std::string_view name(entry->d_name);
    if (name.size() != temporaryStem.size() + letters || !name.starts_with(temporaryStem)) continue;
    if (!std::all_of(name.end() - letters, name.end(), IsTemporaryLetter)) continue;
    struct stat info;
    if (fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
      unlinkat(folder, entry->d_name, 0);
  }
  closedir(entries);
}

}  // namespace

// The file a path names, symbolic links followed, so that a write replaces the link's target and
// keeps the link. The target need not exist yet.
std::optional<std::string> ResolveLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (target.front() != '/' && slash != std::string::npos)
      target = path.substr(0, slash + 1) + target;
    path = std::move(target);
  }
  return std::nullopt;
}

// The present content of the file, or empty text if there is none yet. Fails for anything that
// is not a regular file, for a file that cannot be read, and for one over the write limit.
bool LoadForWriting(const std::string& path, std::string& content, std::optional<mode_t>& mode,
                    std::optional<std::pair<uid_t, gid_t>>& owner) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT;
  const FileDescriptor file(fd);
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (static_cast<std::uint64_t>(info.st_size) > kProfileWriteLimit) {
    errno = EFBIG;
    return false;
  }
  // Room for one byte more than the file holds, to see it end (or grow past the limit).
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t size = 0;
  for (;;) {
    if (size == content.size()) {
      if (size > kProfileWriteLimit) {
        errno = EFBIG;
        return false;
      }
      content.resize(std::min(2 * size, kProfileWriteLimit + 1));
    }
    const ssize_t count = read(fd, content.data() + size, content.size() - size);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) break;
    size += static_cast<std::size_t>(count);
  }
  content.resize(size);
  mode = info.st_mode & 07777;
  owner = std::make_pair(info.st_uid, info.st_gid);
  return true;
}

// Replaces the file at `path` (links already followed) by `content`, whole or not at all.
bool ReplaceFile(const std::string& path, const std::string& content, std::optional<mode_t> mode,
                 std::optional<std::pair<uid_t, gid_t>> owner) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  // The temporary file is hidden and named after the settings file, cut so that its name stays
  // within the file system's 255 bytes.
  // Appended rather than "." + ...: GCC 12 at -O3 takes that for an overlapping copy.
  std::string stem = ".";
  stem += path.substr(slash + 1, kTemporaryNameLimit);
  stem += '.';
  FolderLock lock(folder);
  if (lock.TryExclusive()) RemoveLeftovers(lock.fd(), stem);
  lock.Share();
  TemporaryFile temporary((slash == std::string::npos ? std::string() : folder) + stem +
                          std::string(kTemporarySuffix.substr(1)));
  if (!temporary.created()) return false;
  Step(ProfileWriteStep::TemporaryCreated);
  for (std::size_t at = 0; at < content.size(); at += kProfileWriteChunk) {
    const std::size_t size = std::min(kProfileWriteChunk, content.size() - at);
    if (!WriteAll(temporary.fd(), content.data() + at, size)) return false;
    Step(ProfileWriteStep::ChunkWritten);
  }
  // The replacement keeps the old file's permissions and, where allowed, its owner. Only root
  // may give a file away; if even that is refused, the settings are better saved than lost.
  if (fchmod(temporary.fd(), mode ? *mode : NewFileMode()) != 0) return false;
  if (owner && geteuid() == 0 && fchown(temporary.fd(), owner->first, owner->second) != 0) {
    // Kept with the writer's ownership.
  }
  // Data that may not be on disk is no save: renamed into place, it could leave an empty or
  // torn file after a crash where the old one was whole.
  if (g_sync(temporary.fd()) != 0 || !temporary.Close()) return false;
  Step(ProfileWriteStep::Synced);
  Step(ProfileWriteStep::BeforeRename);
  if (!temporary.RenameTo(path)) return false;
  // Make the rename itself durable; the file is already whole whatever happens here.
  if (lock.fd() >= 0) fsync(lock.fd());
  return true;
}

void SetProfileWriteHook(std::function<void(ProfileWriteStep)> hook) {
  WriteHook() = std::move(hook);
}

void SetProfileSyncCall(int (*sync)(int fd)) { g_sync = sync != nullptr ? sync : fsync; }

}  // namespace platform::posix
