// Commands: the environment record (the program's folder and name), long file names, and the
// settings file's name and accessors. The fields are module-wide and set once at start-up.
//
// The settings file lives beside the program, named after it. Where that place cannot be written
// (a system-wide install, a read-only share, a file marked read-only), IniFile names the user's
// own settings file of the same name instead, and the file beside the program, if any, serves
// reads until the user's own file exists. A program installed system-wide by a package always
// takes the user's own file, even when run by root, who could write beside it. When the program
// cannot find its own path, there is no settings file at all: nothing is read and nothing
// written.
#pragma once

#include <string>

namespace Commands {

// The environment record.
inline std::string AppPath;  // folder of the executable, always ending in a separator
inline std::string ExeName;  // file name of the executable without folder and extension

// The settings names.
inline std::string IniSection;  // the product title, the section of the settings
inline std::string IniFile;     // full path of the settings file; empty when there is none
// The file beside the executable while IniFile names the user's own file instead; else empty.
inline std::string IniDefaultFile;

// Set (before InitProfile) when the program was installed by the system's package manager,
// which owns the program's folder: the settings are never written there, and without a folder
// of the user's own there is no settings file.
inline bool SystemInstall = false;

// Fills AppPath and ExeName. Resume-next mode.
void InitEnvironment();

// Appends the folder separator to `path` unless it already ends in one; returns the result.
// Passes failures on.
std::string AddTrailingBackslash(std::string& path);

// The long, correctly cased form of `path`; a title-cased form when the system cannot tell.
// Resume-next mode.
std::string LongFileName(const std::string& path);

// Sets IniSection, IniFile and IniDefaultFile; needs AppPath and ExeName. Decides once whether
// the file beside the program can be written. Resume-next mode.
void InitProfile();

// The value stored under `key` in `section` of `file`, or `defaultValue` when it is missing
// or empty, or when `file` is empty. While the user's own IniFile does not exist, a read of it
// reads IniDefaultFile. Resume-next mode.
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& file, const std::string& defaultValue);

// Stores `value` under `key` in `section` of `file` (none when `file` is empty), creating the
// user's settings folder first when IniFile is the user's own; reports nothing. Resume-next
// mode.
void WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

// Empties the module's fields and clears SystemInstall, as at process start. For tests.
void Reset();

}  // namespace Commands
