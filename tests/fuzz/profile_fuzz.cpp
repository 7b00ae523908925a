// libFuzzer target for the settings files: the input becomes a settings file, which is read
// with GetPrivateProfileStringA in every way the service offers and buffers of several sizes,
// and then written with WritePrivateProfileStringA.
//
// Besides not crashing, it checks:
// - every read NUL-terminates within the buffer and counts the bytes before that NUL;
// - a value read equals what a plain, whole-file reading of the same rules gives (the service
//   streams the file in chunks, which the fuzzing build makes a few bytes small), a UTF-16 file
//   decoded whole first;
// - a value written reads back as written, and the other values read as before;
// - a UTF-16 file stays UTF-16 with its byte-order mark, in whole units.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

// The UTF-16 byte-order mark a file starts with, if any.
std::string_view Utf16Mark(std::string_view bytes) {
  const std::string_view mark = bytes.substr(0, 2);
  return mark == "\xFF\xFE" || mark == "\xFE\xFF" ? mark : std::string_view();
}

void AppendUtf8(std::uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text the rules read: a UTF-16 file's in UTF-8, where a surrogate without its partner and
// a last odd byte are U+FFFD; an ANSI file's bytes after a UTF-8 byte-order mark.
std::string PlainText(std::string_view bytes) {
  const std::string_view mark = Utf16Mark(bytes);
  if (mark.empty()) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return std::string(bytes);
  }
  std::vector<std::uint32_t> units;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<std::uint8_t>(bytes[i]), b = static_cast<std::uint8_t>(bytes[i + 1]);
    units.push_back(mark[0] == '\xFE' ? a << 8 | b : b << 8 | a);
  }
  std::string text;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t unit = units[i];
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00), text);
      ++i;
    } else {
      AppendUtf8(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit, text);
    }
  }
  if (bytes.size() % 2 != 0) AppendUtf8(0xFFFD, text);
  return text;
}

// The value stored for section/key, if any.
std::optional<std::string> PlainLookup(std::string_view text, std::string_view section,
                                       std::string_view key) {
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
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckReads(file, PlainText(bytes));

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
    const std::string_view mark = Utf16Mark(bytes);
    if (!mark.empty()) {
      std::ifstream in(file, std::ios::binary);
      const std::string after((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      if (after.substr(0, 2) != mark || after.size() % 2 != 0) Fail("a UTF-16 file lost its form");
    }
  }

  // Deletions and lists must not trip either.
  WritePrivateProfileStringA("S", "Top", nullptr, file.c_str());
  WritePrivateProfileStringA("t", nullptr, nullptr, file.c_str());
  Read(file, "S", nullptr, 7);
  Read(file, nullptr, nullptr, 7);
  return 0;
}
