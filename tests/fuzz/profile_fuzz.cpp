// libFuzzer target for the settings files: the input becomes a settings file, which is read
// with GetPrivateProfileStringA in every way the service offers and buffers of several sizes,
// and then written with WritePrivateProfileStringA.
//
// Besides not crashing, it checks:
// - every read NUL-terminates within the buffer and counts the bytes before that NUL;
// - a value read equals what a plain, whole-file reading of the same rules gives (the service
//   streams the file in chunks, which the fuzzing build makes a few bytes small);
// - a value written reads back as written, and the other values read as before.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32_api.h"

namespace {

// Looked up in every input, and what the seeds use. "" is the section before the first header.
constexpr const char* kSections[] = {"Tavik's Ozzlebeck", "S", "", "t"};
constexpr const char* kKeys[] = {"Top", "Left", "k", ";c", ""};
constexpr DWORD kSizes[] = {1, 3, 2048};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "profile_fuzz: %s\n", what);
  std::abort();
}

// A folder of its own, in memory where the system offers one, since every write syncs. Plain
// arrays, so that they outlive the clean-up at exit.
char gFolder[64];
char gFile[96];

void RemoveFolder() {
  std::remove(gFile);
  rmdir(gFolder);
}

const char* SettingsFile() {
  if (gFile[0] == '\0') {
    struct stat info;
    std::snprintf(gFolder, sizeof gFolder, "%s/ozz-fuzz-XXXXXX",
                  stat("/dev/shm", &info) == 0 ? "/dev/shm" : "/tmp");
    if (mkdtemp(gFolder) == nullptr) Fail("no temporary folder");
    std::snprintf(gFile, sizeof gFile, "%s/settings.ini", gFolder);
    std::atexit(RemoveFolder);
  }
  return gFile;
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) Fail("cannot write the input");
}

// --- The rules, read plainly from the whole text ----------------------------------------------

bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == ' ' || c == '\x1a'; }

std::string_view Trim(std::string_view t) {
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  return t;
}

std::string_view UpToNul(std::string_view t) { return t.substr(0, t.find('\0')); }

bool Same(std::string_view a, std::string_view b) {
  a = UpToNul(a);
  b = UpToNul(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The value stored for section/key, if any.
std::optional<std::string> PlainLookup(std::string_view text, std::string_view section,
                                       std::string_view key) {
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") return std::nullopt;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool in = section.empty();
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = at;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    const std::string_view line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty()) continue;
    if (line[0] == '[' && line.rfind(']') != std::string_view::npos) {
      if (in) return std::nullopt;
      in = Same(Trim(line.substr(1, line.rfind(']') - 1)), section);
      continue;
    }
    if (!in) continue;
    const std::size_t equals = line.find('=');
    if (!Same(Trim(line.substr(0, equals)), key)) continue;
    if (equals == std::string_view::npos) return std::nullopt;
    return std::string(Trim(line.substr(equals + 1)));
  }
  return std::nullopt;
}

// What a buffer of `size` bytes receives for the value.
std::string Handed(std::string_view value, DWORD size) {
  value = UpToNul(value);
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, size - 1));
}

// --- The service --------------------------------------------------------------------------------

struct Result {
  DWORD count;
  std::string text;
};

Result Read(const std::string& file, const char* section, const char* key, DWORD size,
            const char* fallback = "dflt") {
  std::vector<char> buffer(size + 8, '#');
  const DWORD count =
      GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
  if (count >= size) Fail("count beyond the buffer");
  if (buffer[count] != '\0') Fail("no NUL after the count");
  for (std::size_t i = size; i < buffer.size(); ++i)
    if (buffer[i] != '#') Fail("wrote past the buffer");
  return Result{count, std::string(buffer.data(), count)};
}

void CheckReads(const std::string& file, std::string_view text) {
  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      const std::optional<std::string> stored = PlainLookup(text, section, key);
      for (const DWORD size : kSizes) {
        const Result got = Read(file, section, key, size);
        const std::string expected = Handed(stored ? *stored : "dflt", size);
        if (got.text != expected || got.count != expected.size()) Fail("value differs");
      }
      if (Read(file, section, key, 2048, nullptr).text != Handed(stored ? *stored : "", 2048))
        Fail("value differs with no default");
    }
    for (const DWORD size : kSizes) Read(file, section, nullptr, size);
  }
  for (const DWORD size : kSizes) Read(file, nullptr, nullptr, size);
}

// A value to write, made of the input's last bytes that need no quoting.
std::string ValueFrom(const std::uint8_t* data, std::size_t size) {
  std::string value;
  for (std::size_t i = size; i > 0 && value.size() < 12; --i) {
    const char c = static_cast<char>(data[i - 1]);
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' ||
        c == '-')
      value += c;
  }
  return value.empty() ? "1935" : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = SettingsFile();
  WriteBytes(file, data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckReads(file, text);

  // Write "k" in section "S", then every value reads as before but that one.
  const std::string value = ValueFrom(data, size);
  std::vector<std::string> before;
  for (const char* section : kSections)
    for (const char* key : kKeys) before.push_back(Read(file, section, key, 2048).text);
  if (WritePrivateProfileStringA("S", "k", value.c_str(), file.c_str())) {
    std::size_t index = 0;
    for (const char* section : kSections) {
      for (const char* key : kKeys) {
        const std::string now = Read(file, section, key, 2048).text;
        const bool written = std::strcmp(section, "S") == 0 && std::strcmp(key, "k") == 0;
        if (written && now != value) Fail("the value written does not read back");
        if (!written && now != before[index]) Fail("a write changed another value");
        ++index;
      }
    }
  }

  // Deletions and lists must not trip either.
  WritePrivateProfileStringA("S", "Top", nullptr, file.c_str());
  WritePrivateProfileStringA("t", nullptr, nullptr, file.c_str());
  Read(file, "S", nullptr, 7);
  Read(file, nullptr, nullptr, 7);
  return 0;
}
