// Where the settings file can live, on POSIX systems. A settings write replaces the file by a
// temporary one renamed over it (profile_replace.cpp), so it needs the right to change the
// file's folder, not the file; but a file the user cannot write, or has marked read-only by
// taking away every write permission, is one the user means to keep, and counts as unwritable
// even for root (as Windows' read-only attribute stops even administrators).
#include "platform/settings_place.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/process.h"
#include "platform/posix/profile_replace.h"
#include "platform/terminal_text.h"

namespace platform {
namespace {

// The folders the last MakeSettingsFolder made, from the top down.
std::vector<std::string> madeFolders;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool MayWrite(const std::string& path, int mode) {
  return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : std::string();
}

}  // namespace

bool SettingsFileWritable(const std::string& path) {
  if (path.empty()) return false;
  const std::optional<std::string> target = posix::ResolveLinks(path);
  if (!target) return false;
  const std::string folder = FolderOf(*target);
  struct stat folderInfo;
  if (stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) return false;
  // Permissions, a read-only file system and an immutable folder all show here.
  if (!MayWrite(folder, W_OK | X_OK)) return false;
  struct stat info;
  if (stat(target->c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISREG(info.st_mode)) return false;
  if ((info.st_mode & 0222) == 0 || !MayWrite(*target, W_OK)) return false;
  // In a sticky folder (such as /tmp) only the file's or the folder's owner may replace it.
  const uid_t user = geteuid();
  if ((folderInfo.st_mode & S_ISVTX) != 0 && user != 0 && info.st_uid != user &&
      folderInfo.st_uid != user)
    return false;
  return true;
}

bool SettingsFileExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::string UserSettingsFolder() {
  std::string base = AbsoluteVariable("XDG_CONFIG_HOME");
  if (base.empty()) {
    std::string home = AbsoluteVariable("HOME");
    if (home.empty()) {
      const passwd* entry = getpwuid(geteuid());
      if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
        home = entry->pw_dir;
    }
    if (home.empty()) return {};
    base = home + (home.back() == '/' ? "" : "/") + ".config";
  }
  return base + (base.back() == '/' ? "" : "/") + "ozzlebeck";
}

bool MakeSettingsFolder(const std::string& folder) {
  madeFolders.clear();
  if (folder.empty() || folder[0] != '/') return false;
  for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
    const std::string part = folder.substr(0, at);
    if (!part.empty() && part.back() != '/') {
      if (mkdir(part.c_str(), 0700) == 0)
        madeFolders.push_back(part);
      else if (errno != EEXIST)
        return false;
    }
    if (at == std::string::npos) break;
  }
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void SaveFailed(const std::string& path) {
  const int error = errno;
  // Deepest first; a folder something else has put a file in since stays.
  for (auto folder = madeFolders.rbegin(); folder != madeFolders.rend(); ++folder)
    rmdir(folder->c_str());
  madeFolders.clear();
  if (posix::ExitStatus() != 0) return;  // said already: the rest of the save failed with it
  posix::SetExitStatus(1);
  const std::string reason = error != 0 ? std::strerror(error) : "the file could not be written";
  std::fprintf(stderr, "ozzlebeck: cannot save the place in %s: %s\n",
               TerminalQuoted(path, '"').c_str(), reason.c_str());
}

std::string ProfileServicePath(const std::string& path) { return path; }

DWORD LongPathName(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength) {
  return GetLongPathNameA(shortPath, longPath, bufferLength);
}

}  // namespace platform
