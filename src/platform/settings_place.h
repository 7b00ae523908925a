// Where the settings file can live. The program keeps its settings beside itself; where that
// place cannot be written (a system-wide install, a read-only share, a file marked read-only),
// it keeps them in the user's own settings folder instead. These services tell the two apart and
// prepare the user's folder; each system has its own (posix/settings_place.cpp,
// win32/win32_settings_place.cpp). Paths are full paths in the program's own spelling (the ANSI
// code page on Windows, which the manifest makes UTF-8).
#pragma once

#include <string>

#include "platform/win32_api.h"

namespace platform {

// Whether a write of the settings file at `path` would succeed, as far as the system can tell
// without writing: an existing file that the user may change (permissions, a read-only file
// system, an immutable or read-only-marked file, Windows' ACLs), or a missing one that can be
// created in its folder. Leaves nothing behind.
bool SettingsFileWritable(const std::string& path);

// Whether a file exists at `path`.
bool SettingsFileExists(const std::string& path);

// The user's own settings folder for this program, without a trailing separator:
// $XDG_CONFIG_HOME/ozzlebeck (or $HOME/.config/ozzlebeck) on POSIX systems,
// %LOCALAPPDATA%\Ozzlebeck on Windows. Empty when it cannot be named.
std::string UserSettingsFolder();

// Creates `folder` and any missing folders above it (only the user may enter those made on
// POSIX systems). True when the folder exists afterwards. The folders it made are remembered
// until the next call, for SaveFailed.
bool MakeSettingsFolder(const std::string& folder);

// The settings file at `path` could not be written (call it straight after the failed write,
// while the system's reason still stands). Removes the folders the last MakeSettingsFolder
// made, which would otherwise be left empty. On POSIX systems it also says so, once, in one line
// on stderr naming the file and the system's reason, and the program's exit status becomes 1 (a
// user who ran it from a terminal learns that the place was lost). A Windows program has no
// console to say it on.
void SaveFailed(const std::string& path);

// The spelling of `path` to hand to the profile services. On Windows they fail on a path of
// MAX_PATH characters or more, so such a path reaches its file through its folder's short (8.3)
// name when the file system has one; elsewhere, and when it fits, the path itself.
std::string ProfileServicePath(const std::string& path);

// GetLongPathNameA with its contract, for paths of any length: Windows' A function refuses a
// path of MAX_PATH characters or more, so such a path goes through the wide function there.
// Elsewhere GetLongPathNameA itself.
DWORD LongPathName(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength);

}  // namespace platform
