// Commands: the environment record (the program's folder and name), long file names, and the
// settings file's name and accessors. The fields are module-wide and set once at start-up.
#pragma once

#include <string>

namespace Commands {

// The environment record.
inline std::string AppPath;  // folder of the executable, always ending in a separator
inline std::string ExeName;  // file name of the executable without folder and extension

// The settings names.
inline std::string IniSection;  // the product title, the section of the settings
inline std::string IniFile;     // full path of the settings file beside the executable

// Fills AppPath and ExeName. Resume-next mode.
void InitEnvironment();

// Appends the folder separator to `path` unless it already ends in one; returns the result.
// Passes failures on.
std::string AddTrailingBackslash(std::string& path);

// The long, correctly cased form of `path`; a title-cased form when the system cannot tell.
// Resume-next mode.
std::string LongFileName(const std::string& path);

// Sets IniSection and IniFile; needs AppPath and ExeName. Resume-next mode.
void InitProfile();

// The value stored under `key` in `section` of `file`, or `defaultValue` when it is missing
// or empty. Resume-next mode.
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& file, const std::string& defaultValue);

// Stores `value` under `key` in `section` of `file`; reports nothing. Resume-next mode.
void WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

// Empties the module's fields, as at process start. For tests.
void Reset();

}  // namespace Commands
