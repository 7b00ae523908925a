// Where the settings file can live, on Windows. The program's paths are ANSI text, which the
// manifest makes UTF-8 on Windows 10 version 1903 and later; here they are widened and, for the
// file system, given the \\?\ form, so that any folder name and any depth works however
// Windows limits path lengths elsewhere. Writability is asked of the system itself: opening the
// existing file for writing (ACLs, sharing, a read-only volume) or creating a probe file in its
// folder that deletes itself when closed.
#include <cstring>
#include <string>
#include <vector>

#include "platform/settings_place.h"
#include "platform/win32_api.h"

namespace platform {
namespace {

// The folders the last MakeSettingsFolder made, from the top down.
std::vector<std::wstring> madeFolders;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// The ANSI text of a wide path; empty when the code page cannot spell it.
std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  BOOL lossy = FALSE;
  const bool utf8 = GetACP() == CP_UTF8;  // no default character: UTF-8 spells everything
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
  if (size <= 0 || lossy) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
         path.starts_with(L"\\\\");
}

// The path in the form that the file functions take at any length: \\?\C:\... or
// \\?\UNC\server\share\...; with backslashes only, since that form is taken literally.
std::wstring Extended(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.starts_with(L"\\\\?\\") || !IsAbsolute(path)) return path;
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

// The usual form of a path the system gave in the \\?\ form.
std::wstring Plain(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

std::size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

}  // namespace

bool SettingsFileWritable(const std::string& path) {
  const std::wstring wide = Widen(path);
  const std::size_t cut = LastSeparator(wide);
  if (wide.empty() || !IsAbsolute(wide) || cut == std::wstring::npos) return false;
  const std::wstring file = Extended(wide);
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
    // Opened for writing and closed again: nothing changes, not even its time.
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      // Held open by another program for the moment (an editor, a backup): still the user's
      // file to write.
      const DWORD busy = GetLastError();
      return busy == ERROR_SHARING_VIOLATION || busy == ERROR_LOCK_VIOLATION;
    }
    CloseHandle(handle);
    return true;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND) return false;
  // A probe of this process's own name, gone again when closed.
  const std::wstring probe = Extended(wide.substr(0, cut + 1)) + L"~ozzlebeck-probe-" +
                             std::to_wstring(GetCurrentProcessId()) + L".tmp";
  const HANDLE handle = CreateFileW(
      probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

bool SettingsFileExists(const std::string& path) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return false;
  return GetFileAttributesW(Extended(wide).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string UserSettingsFolder() {
  wchar_t buffer[1024];
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 1024);
  if (n == 0 || n >= 1024) return {};
  std::wstring folder(buffer, n);
  if (!IsAbsolute(folder)) return {};
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (folder.back() != L'\\') folder += L'\\';
  return Narrow(folder + L"Ozzlebeck");
}

bool MakeSettingsFolder(const std::string& folder) {
  madeFolders.clear();
  const std::wstring wide = Widen(folder);
  if (wide.empty() || !IsAbsolute(wide)) return false;
  const std::wstring extended = Extended(wide);
  // Each folder from the top down; those that exist already, and the drive or share itself,
  // refuse to be made, which is fine.
  const auto make = [](const std::wstring& part) {
    if (CreateDirectoryW(part.c_str(), nullptr)) madeFolders.push_back(part);
  };
  for (std::size_t at = extended.find(L'\\', 4); at != std::wstring::npos;
       at = extended.find(L'\\', at + 1))
    make(extended.substr(0, at));
  make(extended);
  const DWORD attributes = GetFileAttributesW(extended.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Silent: the program has no console. The folders made for the save go again.
void SaveFailed(const std::string& /*path*/) {
  for (auto folder = madeFolders.rbegin(); folder != madeFolders.rend(); ++folder)
    RemoveDirectoryW(folder->c_str());
  madeFolders.clear();
}

std::string ProfileServicePath(const std::string& path) {
  const std::wstring wide = Widen(path);
  const std::size_t cut = LastSeparator(wide);
  if (wide.size() < MAX_PATH || cut == std::wstring::npos) return path;
  const std::wstring folder = Extended(wide.substr(0, cut));
  const DWORD size = GetShortPathNameW(folder.c_str(), nullptr, 0);
  if (size == 0) return path;
  std::wstring shortFolder(size, L'\0');
  const DWORD n = GetShortPathNameW(folder.c_str(), shortFolder.data(), size);
  if (n == 0 || n >= size) return path;
  shortFolder.resize(n);
  const std::wstring result = Plain(shortFolder) + L"\\" + wide.substr(cut + 1);
  if (result.size() >= MAX_PATH) return path;
  const std::string narrow = Narrow(result);
  return narrow.empty() ? path : narrow;
}

DWORD LongPathName(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength) {
  if (shortPath == nullptr) return 0;
  const std::wstring wide = Widen(shortPath);
  if (wide.size() < MAX_PATH) return GetLongPathNameA(shortPath, longPath, bufferLength);
  // Plain first (Wine takes long paths so, and Windows does where long paths are enabled); in
  // the \\?\ form else, which Windows always takes.
  std::wstring result;
  for (const std::wstring& asked : {wide, Extended(wide)}) {
    const DWORD size = GetLongPathNameW(asked.c_str(), nullptr, 0);
    if (size == 0) continue;
    std::wstring buffer(size, L'\0');
    const DWORD n = GetLongPathNameW(asked.c_str(), buffer.data(), size);
    if (n == 0 || n >= size) continue;
    buffer.resize(n);
    result = Plain(buffer);
    break;
  }
  const std::string text = Narrow(result);
  if (text.empty()) return 0;
  if (longPath == nullptr || text.size() >= bufferLength)
    return static_cast<DWORD>(text.size() + 1);
  std::memcpy(longPath, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

}  // namespace platform
