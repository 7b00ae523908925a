// GetLongPathNameA on POSIX systems. Their file systems have no short (8.3) names and keep the
// case of every letter, so the long form of a path is the path itself, unchanged. The call
// fails only when it cannot say anything about the path: no path at all, or a folder that does
// not exist. A file that does not exist in an existing folder still has its long form, so that
// the name of the program's "ozzlebeck.exe", which on these systems is called "ozzlebeck", gives
// the settings file beside the program.
#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "platform/win32_api.h"

namespace {

bool FolderExists(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  std::string folder;
  if (slash == std::string_view::npos) {
    folder = ".";
  } else if (slash == 0) {
    folder = "/";
  } else {
    folder = std::string(path.substr(0, slash));
  }
  // A folder removed while it is still someone's current folder can be looked at, but holds no
  // names any more: it has no links left.
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_nlink > 0;
}

}  // namespace

// As on Windows: the number of characters written without the NUL; when the buffer is too small,
// the size it needs with the NUL, and nothing written; 0 on failure. The buffer may be the path's.
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength) {
  if (shortPath == nullptr || *shortPath == '\0') return 0;
  const std::string_view path(shortPath);
  if (path.size() >= std::numeric_limits<DWORD>::max() || !FolderExists(path)) return 0;
  if (longPath == nullptr || path.size() >= bufferLength)
    return static_cast<DWORD>(path.size() + 1);
  std::memmove(longPath, path.data(), path.size());
  longPath[path.size()] = '\0';
  return static_cast<DWORD>(path.size());
}
