#include "commands/commands.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "platform/errors.h"
#include "platform/form.h"
#include "platform/settings_place.h"
#include "platform/win32_api.h"

namespace Commands {
namespace {

using runtime::ResumeNext;

// Windows separates folders with a backslash. Elsewhere a backslash is an ordinary file-name
// character, so the native separator takes its place.
#if defined(_WIN32)
constexpr char kSeparator = '\\';
constexpr const char* kSeparators = "\\/";
#else
constexpr char kSeparator = '/';
constexpr const char* kSeparators = "/";
#endif

constexpr DWORD kLongNameBuffer = 260;
constexpr DWORD kProfileBuffer = 2048;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsTitleSeparator(char c) {
  return c == ' ' || c == '-' || c == '(' || c == '_' || c == '\\' || c == kSeparator;
}

// The title-cased form of a path: upper case after a separator and at the start, lower case
// elsewhere.
std::string TitleCase(std::string s) {
  for (std::size_t i = 1; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    s[i] = static_cast<char>(IsTitleSeparator(s[i - 1]) ? std::toupper(c) : std::tolower(c));
  }
  if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  return s;
}

}  // namespace

void InitEnvironment() {
  // Two statements: if the folder cannot be had, AppPath still ends in a separator.
  ResumeNext([&] { AppPath = runtime::App::Path(); });
  ResumeNext([&] { AddTrailingBackslash(AppPath); });
  ResumeNext([&] { ExeName = runtime::App::EXEName(); });
}

std::string AddTrailingBackslash(std::string& path) {
  if (path.empty() || path.back() != kSeparator) path += kSeparator;
  return path;
}

std::string LongFileName(const std::string& path) {
  std::string result;
  ResumeNext([&] {
    const std::string s = path;
    std::vector<char> buffer(kLongNameBuffer, '\0');
    const DWORD n = platform::LongPathName(s.c_str(), buffer.data(), kLongNameBuffer);
    if (n > kLongNameBuffer) {
      // The long form does not fit: the service reports the size it needs (with its NUL)
      // and wrote nothing. Ask again with room for all of it rather than cut the name.
      buffer.assign(n, '\0');
      const DWORD again = platform::LongPathName(s.c_str(), buffer.data(), n);
      result = again != 0 && again < n ? std::string(buffer.data(), again) : TitleCase(s);
    } else if (n != 0) {
      // Up to the first NUL, or the whole buffer when there is none.
      const auto* nul = static_cast<const char*>(std::memchr(buffer.data(), '\0', buffer.size()));
      const char* begin = buffer.data();
      result = std::string(begin, nul != nullptr ? nul : begin + buffer.size());
    } else {
      result = TitleCase(s);
    }
  });
  return result;
}

void InitProfile() {
  ResumeNext([&] { IniSection = "Tavik's Ozzlebeck"; });
  // Without its own path the program would name a file in a folder it does not know (the root
  // of the file system, or the current folder): better no settings than those.
  if (ExeName.empty()) return;
  std::string beside;
  ResumeNext([&] {
    const std::string full = LongFileName(AppPath + ExeName + ".exe");
    if (full.size() < 3) runtime::Fail(runtime::ErrorCode::InvalidCall);
    beside = full.substr(0, full.size() - 3) + "ini";
  });
  if (beside.empty()) return;
  IniFile = beside;
  ResumeNext([&] {
    if (!SystemInstall && platform::SettingsFileWritable(beside)) return;
    const std::string folder = platform::UserSettingsFolder();
    if (folder.empty()) {
      // Nowhere better: the file beside the program stays, unless the system owns that folder.
      if (SystemInstall) IniFile.clear();
      return;
    }
    const std::size_t cut = beside.find_last_of(kSeparators);
    IniFile = folder + kSeparator + beside.substr(cut + 1);
    IniDefaultFile = beside;
  });
}

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& file, const std::string& defaultValue) {
  std::string result = defaultValue;
  if (file.empty()) return result;
  ResumeNext([&] {
    std::string source = file;
    if (file == IniFile && !IniDefaultFile.empty() && !platform::SettingsFileExists(file))
      source = IniDefaultFile;
    source = platform::ProfileServicePath(source);
    std::vector<char> buffer(kProfileBuffer, ' ');
    const DWORD count = GetPrivateProfileStringA(Upper(section).c_str(), Upper(key).c_str(), "",
                                                 buffer.data(), kProfileBuffer, source.c_str());
    const std::int16_t n = runtime::CInt16(count);
    if (n > 0) result = std::string(buffer.data(), static_cast<std::size_t>(n));
  });
  return result;
}

void WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
  if (file.empty()) return;
  ResumeNext([&] {
    if (file == IniFile && !IniDefaultFile.empty()) {
      const std::size_t cut = file.find_last_of(kSeparators);
      platform::MakeSettingsFolder(file.substr(0, cut));
    }
  });
  ResumeNext([&] {
    if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    platform::ProfileServicePath(file).c_str()))
      platform::SaveFailed(file);
  });
}

void Reset() {
  AppPath.clear();
  ExeName.clear();
  IniSection.clear();
  IniFile.clear();
  IniDefaultFile.clear();
  SystemInstall = false;
}

}  // namespace Commands
