// profile_probe: runs a script of private-profile calls and prints what they return, so the same
// script can be run through Windows' own profile functions (built with MinGW, run under Wine or on
// Windows) and through the POSIX implementation, and the two outputs compared line by line.
//
// Usage: profile_probe SCRIPT
// The script has one command a line, fields separated by tabs; empty lines and lines starting
// with '#' are skipped. File names are relative to the current folder (they are made absolute
// before the call, since Windows looks for a bare file name in its own folder). In a field,
// "<NULL>" passes a null pointer, and the escapes \\ \t \n \r \s (space) \0 and \xHH stand for
// one byte each.
//
//   file   NAME CONTENT                     writes CONTENT as the file's bytes
//   fill   NAME PREFIX COUNT BYTE SUFFIX    writes PREFIX, COUNT copies of BYTE, SUFFIX
//   utf16  NAME ORDER TEXT                  writes TEXT, which must be UTF-8, as UTF-16 in byte
//                                           order ORDER (le or be); a byte-order mark is the
//                                           text's own U+FEFF (\xEF\xBB\xBF) at its start
//   read   NAME SECTION KEY DEFAULT SIZE    GetPrivateProfileStringA with a SIZE-byte buffer
//   write  NAME SECTION KEY VALUE           WritePrivateProfileStringA
//   dump   NAME                             prints the file's bytes (or "missing")
//   mkdir  NAME                             creates a folder
//
// Output: one line per command, "LINE: result", with bytes escaped as in the input; a read shows
// the count and the buffer's first count + 2 bytes (a list's closing NULs), the rest of the
// buffer having been filled with '#'. File names must avoid the names Windows keeps for devices
// (NUL, CON, AUX, PRN, COM1, LPT1, ... with any extension).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32_api.h"

#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr char kNullField[] = "<NULL>";

struct Field {
  bool null = false;
  std::string text;
  const char* c_str() const { return null ? nullptr : text.c_str(); }
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The escapes a field may hold and the byte each stands for, both ways; a space, which a reader
// may not see, is also read as \s, and \xHH stands for any byte.
constexpr std::pair<char, char> kEscapes[] = {
    {'\\', '\\'}, {'t', '\t'}, {'n', '\n'}, {'r', '\r'}, {'0', '\0'}};

Field Unescape(const std::string& raw) {
  Field field;
  if (raw == kNullField) {
    field.null = true;
    return field;
  }
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      field.text += raw[i];
      continue;
    }
    const char e = raw[++i];
    const auto escape = std::ranges::find(kEscapes, e, &std::pair<char, char>::first);
    if (escape != std::end(kEscapes)) {
      field.text += escape->second;
    } else if (e == 's') {
      field.text += ' ';
    } else if (e != 'x') {
      field.text += e;
    } else if (i + 2 < raw.size() && HexDigit(raw[i + 1]) >= 0 && HexDigit(raw[i + 2]) >= 0) {
      field.text += static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
      i += 2;
    } else {
      field.text += "\\x";
    }
  }
  return field;
}

std::string Escape(const char* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    const auto escape = std::ranges::find(kEscapes, data[i], &std::pair<char, char>::second);
    if (escape != std::end(kEscapes)) {
      out += '\\';
      out += escape->first;
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Escape(const std::string& text) { return Escape(text.data(), text.size()); }

// The folder the script's names are relative to, with a separator at its end.
std::string BaseFolder() {
#if defined(_WIN32)
  char buffer[1024];
  const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  std::string base(buffer, n < sizeof buffer ? n : 0);
  if (base.empty() || base.back() != '\\') base += '\\';
#else
  char buffer[4096];
  std::string base = getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
  if (base.back() != '/') base += '/';
#endif
  return base;
}

Field FullName(const std::string& base, const Field& name) {
  if (name.null) return name;
  Field full{false, base + name.text};
#if defined(_WIN32)
  for (char& c : full.text)
    if (c == '/') c = '\\';
#endif
  return full;
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? "ok" : "failed";
}

// The length of the UTF-8 sequence that starts with `lead`; 0 if none can.
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

// The UTF-16 bytes of UTF-8 text, in byte order "le" or "be".
std::string Utf16(const std::string& text, const std::string& order) {
  if (order != "le" && order != "be") throw std::string("byte order must be le or be");
  std::string bytes;
  auto put = [&](unsigned unit) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += order == "le" ? low : high;
    bytes += order == "le" ? high : low;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(lead);
    if (length == 0 || i + length > text.size()) throw std::string("text is not UTF-8");
    unsigned code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) throw std::string("text is not UTF-8");
      code = code << 6 | (next & 0x3F);
    }
    i += length;
    if (code < 0x10000) {
      put(code);
    } else {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return bytes;
}

std::string Dump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "missing";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::string dump = "[";  // appended: GCC 12 at -O3 misreads "[" + std::string as an overlap
  dump += Escape(bytes.str());
  dump += ']';
  return dump;
}

std::string Run(const std::string& base, const std::vector<Field>& f) {
  const std::string& command = f[0].text;
  auto need = [&](std::size_t count) {
    if (f.size() != count + 1) throw std::string("expects ") + std::to_string(count) + " fields";
  };
  if (command == "file") {
    need(2);
    return WriteFile(FullName(base, f[1]).text, f[2].text);
  }
  if (command == "fill") {
    need(5);
    const long count = std::strtol(f[3].text.c_str(), nullptr, 10);
    const std::string bytes =
        f[2].text + std::string(static_cast<std::size_t>(count), f[4].text.at(0)) + f[5].text;
    return WriteFile(FullName(base, f[1]).text, bytes);
  }
  if (command == "utf16") {
    need(3);
    return WriteFile(FullName(base, f[1]).text, Utf16(f[3].text, f[2].text));
  }
  if (command == "read") {
    need(5);
    const DWORD size = static_cast<DWORD>(std::strtoul(f[5].text.c_str(), nullptr, 10));
    std::vector<char> buffer(size + 1, '#');
    const DWORD n = GetPrivateProfileStringA(f[2].c_str(), f[3].c_str(), f[4].c_str(),
                                             size == 0 ? nullptr : buffer.data(), size,
                                             FullName(base, f[1]).c_str());
    // The bytes the call may have written: the text, its NUL and the NUL ending a list.
    const std::size_t shown = n + 2 < size ? n + 2 : size;
    return std::to_string(n) + " [" + Escape(buffer.data(), shown) + "]";
  }
  if (command == "write") {
    need(4);
    const BOOL ok = WritePrivateProfileStringA(f[2].c_str(), f[3].c_str(), f[4].c_str(),
                                               FullName(base, f[1]).c_str());
    return ok ? "TRUE" : "FALSE";
  }
  if (command == "dump") {
    need(1);
    return Dump(FullName(base, f[1]).text);
  }
  if (command == "mkdir") {
    need(1);
#if defined(_WIN32)
    return _mkdir(FullName(base, f[1]).text.c_str()) == 0 ? "ok" : "failed";
#else
    return mkdir(FullName(base, f[1]).text.c_str(), 0777) == 0 ? "ok" : "failed";
#endif
  }
  throw std::string("unknown command");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: profile_probe SCRIPT\n";
    return 2;
  }
  std::ifstream script(argv[1], std::ios::binary);
  if (!script) {
    std::cerr << "profile_probe: cannot read " << argv[1] << "\n";
    return 2;
  }
#if defined(_WIN32)
  // Line ends as on every other system, so that the outputs compare byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::string base = BaseFolder();
  std::string line;
  int number = 0;
  int status = 0;
  while (std::getline(script, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<Field> fields;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(Unescape(line.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    std::string result;
    try {
      result = Run(base, fields);
    } catch (const std::string& error) {
      result = "error: " + error;
      status = 2;
    } catch (const std::exception& error) {
      result = std::string("error: ") + error.what();
      status = 2;
    }
    std::cout << number << ": " << fields[0].text << " " << result << "\n";
  }
  return status;
}
