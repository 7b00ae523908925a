// The Win32 backend's single instance: the executable's path, and a named mutex per executable
// that keeps one copy running. The state it goes through is described in win32_internal.h.
// This file calls the system's own window services, not the converting ones (win32_api.h).
#define OZZ_WIN32_BACKEND

#include <cstdint>
#include <string>

#include "platform/win32/win32_internal.h"

namespace win32 {
namespace {

// The executable's full path, in either spelling: the buffer grows until the path fits, so a
// path longer than MAX_PATH comes whole. Empty on failure.
template <typename Text, typename Get>
Text ModulePath(Get get) {
  Text path(MAX_PATH, typename Text::value_type{});
  for (;;) {
    const DWORD n = get(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: try again with more room
  }
}

// In UTF-16 for the instance name: the ANSI spelling may turn letters the code page lacks
// into '?', and two folders would then share one name.
std::wstring ExecutablePathWide() { return ModulePath<std::wstring>(GetModuleFileNameW); }

// The name of this executable's mutex in the session's namespace. Names cannot hold
// backslashes, so the case-folded long path is hashed (64-bit FNV-1a) into it.
std::string InstanceMutexName() {
  std::wstring path = ExecutablePathWide();
  const DWORD longLength = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (longLength > 0) {
    std::wstring longPath(longLength, L'\0');
    const DWORD n = GetLongPathNameW(path.c_str(), longPath.data(), longLength);
    if (n > 0 && n < longLength) path.assign(longPath.data(), n);
  }
  if (!path.empty()) CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (const wchar_t unit : path) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 1099511628211ull;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "Local\\TaviksOzzlebeck.";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xFu];
  return name;
}

}  // namespace
}  // namespace win32

using namespace win32;

namespace platform {

std::string ExecutablePath() { return ModulePath<std::string>(GetModuleFileNameA); }

bool IsPreviousInstanceRunning() {
  static const bool running = [] {
    const std::string name = InstanceMutexName();
    HANDLE claim = CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    // Kept open on purpose: the claim lasts as long as this process.
    State().instanceClaim = claim;
    if (claim == nullptr) return error == ERROR_ACCESS_DENIED;  // exists, but not ours to open
    return error == ERROR_ALREADY_EXISTS;
  }();
  return running;
}

}  // namespace platform
