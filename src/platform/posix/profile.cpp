// GetPrivateProfileStringA and WritePrivateProfileStringA on POSIX systems: settings files in
// the Windows initialization-file (INI) format, read and written as Windows' own profile code
// does, so that a file written by either build is read alike by the other.
//
// How a file reads. Lines end at a CR or an LF. White space (tab, LF, VT, FF, CR, space, and the
// DOS end-of-file mark ^Z) around a line, a name or a value does not count. A line whose first
// character is "[" and that holds a "]" starts a section named by the text between the "[" and
// the last "]"; any other line that is not blank is an entry, "name=value" split at the first
// "=", or a bare name without a value. Lines before the first section header belong to a section
// with an empty name. Names match without regard to the case of ASCII letters; names and values
// end at a NUL byte, as C strings do. Only the first section of a name counts, and in it the
// first entry of a name; a value read loses one pair of matching quotes (" or ') around it. A
// UTF-8 byte-order mark at the start is skipped. Comment lines (";...") are entries like any
// other line, except that key lists leave them out.
//
// Text encodings. A file that starts with a UTF-16 byte-order mark (FF FE, or FE FF for big
// endian) holds UTF-16 text, as Notepad saves "Unicode"; Windows converts it to and from the ANSI
// code page for the A functions, and on POSIX systems that code page is UTF-8. So such a file
// reads exactly as the UTF-8 file of the same text would: a surrogate without its partner reads
// as U+FFFD, and so does a last odd byte. Any other file is ANSI text, its bytes taken as they
// are, UTF-16 without a mark included (as Wine reads it).
//
// A read streams the file in large chunks (decoding UTF-16 as it goes) and stops as soon as it
// has its answer, so even a huge or binary file costs little time and no more memory than a chunk
// and its longest line.
//
// A write changes only the bytes it must: the value of an existing entry in place, a new entry
// after the last non-blank line of its section, a new section at the end of the file, with the
// file's own line ends (CR LF in a new file). A null value deletes the entry's line, a null key
// the first section of the name with its lines. Every other byte stays as it was (Wine, unlike
// Windows, rewrites the whole file in its own layout; tests/wine compares the two on files in
// that layout). The new content goes into a temporary file beside the old one, is synced and
// renamed over it, so the file is whole at every moment, and a write that cannot complete leaves
// the old file as it was. Writes follow symbolic links, keep the file's permissions, and leave
// anything but a regular file alone. A UTF-16 file stays UTF-16 with its mark: the new text is
// converted from UTF-8 (a byte that is not UTF-8 becomes U+FFFD) and put in place of the bytes it
// replaces, every other byte kept.
#include "platform/posix/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32_api.h"

namespace platform::posix {
namespace {

// How much a read takes in at a time. The fuzzing build makes it tiny, so that lines cross
// chunks all the time.
#ifndef OZZ_PROFILE_READ_CHUNK
#define OZZ_PROFILE_READ_CHUNK (std::size_t{64} << 10)
#endif
constexpr std::size_t kReadChunk = OZZ_PROFILE_READ_CHUNK;
static_assert(kReadChunk >= 4, "a chunk holds at least a file's byte-order mark");
constexpr int kMaxLinkHops = 40;
constexpr std::size_t kTemporaryNameLimit = 200;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::function<void(ProfileWriteStep)>& WriteHook() {
  static std::function<void(ProfileWriteStep)> hook;
  return hook;
}

void Step(ProfileWriteStep step) {
  if (WriteHook()) WriteHook()(step);
}

// ---------------------------------------------------------------------------------------------
// Text rules

// DOS files may carry ^Z (0x1A) as an end-of-file mark; Windows counts it as white space.
bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == ' ' || c == '\x1a'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimFront(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// Names and values end at the first NUL byte.
std::string_view CString(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  a = CString(a);
  b = CString(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

std::string_view Arg(LPCSTR text) { return text == nullptr ? std::string_view() : text; }

// ---------------------------------------------------------------------------------------------
// Text encodings

// How a file holds its text: ANSI (on POSIX systems UTF-8, or any bytes at all), or UTF-16 in
// either byte order, which its first two bytes, a byte-order mark, announce.
enum class Encoding { Ansi, Utf16Le, Utf16Be };

constexpr std::size_t kUtf16MarkSize = 2;
constexpr char32_t kReplacementCharacter = 0xFFFD;

Encoding EncodingOf(std::string_view start) {
  if (start.substr(0, kUtf16MarkSize) == "\xFF\xFE") return Encoding::Utf16Le;
  if (start.substr(0, kUtf16MarkSize) == "\xFE\xFF") return Encoding::Utf16Be;
  return Encoding::Ansi;
}

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

char32_t Utf16Unit(std::string_view bytes, Encoding encoding) {
  const auto first = static_cast<unsigned char>(bytes[0]);
  const auto second = static_cast<unsigned char>(bytes[1]);
  return encoding == Encoding::Utf16Be ? char32_t{first} << 8 | second
                                       : char32_t{second} << 8 | first;
}

// One character of UTF-16 text: its code point and the number of bytes it takes.
struct Utf16Char {
  char32_t codePoint;
  std::size_t size;
};

// The character that `bytes` (not empty, the rest of the text) starts with. A surrogate without
// its partner is U+FFFD, and so is a last odd byte, half a unit.
Utf16Char FirstUtf16Char(std::string_view bytes, Encoding encoding) {
  if (bytes.size() < 2) return {kReplacementCharacter, 1};
  const char32_t unit = Utf16Unit(bytes, encoding);
  if (!IsHighSurrogate(unit) && !IsLowSurrogate(unit)) return {unit, 2};
  if (IsHighSurrogate(unit) && bytes.size() >= 4) {
    const char32_t next = Utf16Unit(bytes.substr(2), encoding);
    if (IsLowSurrogate(next)) return {0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), 4};
  }
  return {kReplacementCharacter, 2};
}

// Whether FirstUtf16Char gives the same character however the text goes on after `bytes`: false
// while `bytes` may end inside a character.
bool FirstUtf16CharIsWhole(std::string_view bytes, Encoding encoding) {
  return bytes.size() >= 4 || (bytes.size() >= 2 && !IsHighSurrogate(Utf16Unit(bytes, encoding)));
}

// Puts the UTF-8 form of a code point at `out` (room for 4 bytes); returns its length.
std::size_t PutUtf8(char32_t codePoint, char* out) {
  auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (codePoint < 0x80) {
    out[0] = byte(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = byte(0xC0 | codePoint >> 6);
    out[1] = byte(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = byte(0xE0 | codePoint >> 12);
    out[1] = byte(0x80 | (codePoint >> 6 & 0x3F));
    out[2] = byte(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | codePoint >> 18);
  out[1] = byte(0x80 | (codePoint >> 12 & 0x3F));
  out[2] = byte(0x80 | (codePoint >> 6 & 0x3F));
  out[3] = byte(0x80 | (codePoint & 0x3F));
  return 4;
}

// The UTF-8 text of UTF-16 bytes (without their byte-order mark).
std::string DecodeUtf16(std::string_view bytes, Encoding encoding) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 2);
  char utf8[4];
  for (std::size_t at = 0; at < bytes.size();) {
    const Utf16Char c = FirstUtf16Char(bytes.substr(at), encoding);
    text.append(utf8, PutUtf8(c.codePoint, utf8));
    at += c.size;
  }
  return text;
}

// Where in UTF-16 bytes the character lies that starts at `position` in their UTF-8 text.
std::size_t Utf16Offset(std::string_view bytes, Encoding encoding, std::size_t position) {
  char utf8[4];
  std::size_t at = 0;
  for (std::size_t decoded = 0; decoded < position && at < bytes.size();) {
    const Utf16Char c = FirstUtf16Char(bytes.substr(at), encoding);
    decoded += PutUtf8(c.codePoint, utf8);
    at += c.size;
  }
  return at;
}

// The code point that UTF-8 text has at `at`, which moves past it. Each maximal piece that is not
// UTF-8 (a stray byte, a sequence cut short, an overlong form or a surrogate) is one U+FFFD, as
// Unicode recommends.
char32_t NextUtf8(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  std::size_t following;
  char32_t codePoint;
  unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
  if (lead >= 0xC2 && lead <= 0xDF) {
    following = 1;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    following = 2;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    following = 3;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return kReplacementCharacter;
  }
  for (; following > 0; --following) {
    if (at == text.size()) return kReplacementCharacter;
    const auto next = static_cast<unsigned char>(text[at]);
    if (next < low || next > high) return kReplacementCharacter;
    codePoint = codePoint << 6 | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
    ++at;
  }
  return codePoint;
}

// The UTF-16 bytes of UTF-8 text, in the byte order of `encoding`.
std::string EncodeUtf16(std::string_view text, Encoding encoding) {
  std::string bytes;
  bytes.reserve(2 * text.size());
  auto put = [&](char32_t unit) {
    const auto high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    if (encoding == Encoding::Utf16Be) {
      bytes += high;
      bytes += low;
    } else {
      bytes += low;
      bytes += high;
    }
  };
  for (std::size_t at = 0; at < text.size();) {
    const char32_t codePoint = NextUtf8(text, at);
    if (codePoint < 0x10000) {
      put(codePoint);
    } else {
      put(0xD800 + ((codePoint - 0x10000) >> 10));
      put(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    }
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Lines

// One line of a settings file, without its line end, taken apart. The views point into the line.
struct Line {
  enum class Kind { Blank, Section, Entry };
  Kind kind = Kind::Blank;
  std::string_view name;   // section or entry name, white space removed
  bool hasValue = false;   // the entry has an "="
  std::string_view value;  // white space removed; empty where it would start if none
};

Line ParseLine(std::string_view text) {
  Line line;
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty()) return line;
  if (trimmed.front() == '[') {
    const std::size_t close = trimmed.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Line::Kind::Section;
      line.name = Trim(trimmed.substr(1, close - 1));
      return line;
    }
  }
  line.kind = Line::Kind::Entry;
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) {
    line.name = trimmed;
    return line;
  }
  line.name = Trim(trimmed.substr(0, equals));
  line.hasValue = true;
  line.value = TrimFront(trimmed.substr(equals + 1));
  return line;
}

// Copies a value into the caller's buffer as Windows hands values out: cut at a NUL, one pair
// of matching quotes around it dropped, cut to bufferLength - 1 bytes, NUL-terminated. Returns
// the number of bytes copied.
DWORD CopyValue(std::string_view value, LPSTR buffer, DWORD bufferLength) {
  value = CString(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  const std::size_t count = std::min<std::size_t>(value.size(), bufferLength - 1);
  std::copy_n(value.data(), count, buffer);
  buffer[count] = '\0';
  return static_cast<DWORD>(count);
}

// The default as Windows uses it: trailing spaces removed, though never its first character.
std::string_view TrimDefault(LPCSTR defaultValue) {
  std::string_view text = Arg(defaultValue);
  while (text.size() > 1 && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// ---------------------------------------------------------------------------------------------
// Reading

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens a settings file for reading; -1 unless it is a regular file that can be read. The open
// does not block, so a FIFO or a device under the settings file's name is refused, not waited on.
int OpenRegularFile(const char* path, struct stat* info) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads what is there, up to `size` bytes; 0 at the end of the file, -1 on an error.
ssize_t ReadSome(int fd, char* into, std::size_t size) {
  ssize_t count;
  do {
    count = read(fd, into, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

// Hands out the lines of a file's text one at a time, reading it in large chunks. The text is
// the file's bytes after a UTF-8 byte-order mark, or the UTF-8 form of a UTF-16 file's. A line
// ends at the first CR or LF; blank lines may be left out.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd), buffer_(kReadChunk) {}

  // The next line, valid until the next call; false at the end of the file. A line longer than
  // kProfileLineLimit comes out empty.
  bool Next(std::string_view& line) {
    for (;;) {
      const std::size_t stop = std::min(Find(lf_, '\n'), Find(cr_, '\r'));
      if (stop < end_) {
        line = Take(stop);
        // The line ends that follow at once only make blank lines: pass over them here.
        begin_ = stop + 1;
        while (begin_ < end_ && (buffer_[begin_] == '\n' || buffer_[begin_] == '\r')) ++begin_;
        return true;
      }
      if (skipping_) {
        begin_ = end_;
      } else if (end_ - begin_ >= kProfileLineLimit) {
        skipping_ = true;
        begin_ = end_;
      }
      if (!Fill()) {
        if (begin_ == end_ && !skipping_) return false;
        line = Take(end_);
        begin_ = end_;
        return true;
      }
    }
  }

 private:
  // Where a byte was last looked for: its position if found, else how far the search got.
  struct Search {
    std::size_t position = 0;
    bool found = false;
  };

  // The position of the next `byte` at or after begin_, or end_ if the buffer holds none. Each
  // byte of the buffer is searched once, however the lines fall.
  std::size_t Find(Search& search, char byte) {
    if (search.found && search.position >= begin_) return search.position;
    const std::size_t from = std::max(begin_, search.found ? begin_ : search.position);
    const void* hit = std::memchr(buffer_.data() + from, byte, end_ - from);
    search.found = hit != nullptr;
    search.position = hit != nullptr
                          ? static_cast<std::size_t>(static_cast<const char*>(hit) - buffer_.data())
                          : end_;
    return search.position;
  }

  std::string_view Take(std::size_t stop) {
    const bool skipped = skipping_;
    skipping_ = false;
    if (skipped) return {};
    return std::string_view(buffer_.data() + begin_, stop - begin_);
  }

  // Moves the unread bytes to the front and reads more after them; false at the end.
  bool Fill() {
    if (eof_) return false;
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      for (Search* search : {&lf_, &cr_}) {
        if (search->position < begin_)
          *search = Search{};
        else
          search->position -= begin_;
      }
      end_ -= begin_;
      begin_ = 0;
    }
    if (!started_) return Start();
    if (encoding_ != Encoding::Ansi) return FillUtf16();
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const ssize_t count = ReadSome(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (count <= 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(count);
    return true;
  }

  // Reads the file's first bytes, which tell its encoding. A UTF-8 byte-order mark is dropped;
  // after a UTF-16 one, the bytes wait to be decoded.
  bool Start() {
    started_ = true;
    char start[kUtf8Mark.size()];
    std::size_t size = 0;
    while (size < sizeof start) {
      const ssize_t count = ReadSome(fd_, start + size, sizeof start - size);
      if (count <= 0) break;
      size += static_cast<std::size_t>(count);
    }
    const std::string_view first(start, size);
    encoding_ = EncodingOf(first);
    if (encoding_ != Encoding::Ansi) {
      raw_.resize(std::max<std::size_t>(kReadChunk, 8));
      held_ = size - kUtf16MarkSize;
      std::copy_n(start + kUtf16MarkSize, held_, raw_.data());
    } else if (first != kUtf8Mark) {
      std::copy_n(start, size, buffer_.data() + end_);
      end_ += size;
    }
    return true;
  }

  // Reads a chunk of a UTF-16 file and puts its UTF-8 text after the text read before. A
  // character that the chunk's end cuts waits for the next chunk.
  bool FillUtf16() {
    const ssize_t count = ReadSome(fd_, raw_.data() + held_, raw_.size() - held_);
    if (count <= 0) eof_ = true;  // what is held is decoded as the end of the text
    const std::size_t size = held_ + static_cast<std::size_t>(std::max<ssize_t>(count, 0));
    // UTF-8 takes at most two bytes for every byte of UTF-16 (three for a unit of two, four for
    // a surrogate pair), but three for a last odd byte.
    if (buffer_.size() - end_ < 2 * size + 1)
      buffer_.resize(std::max(2 * buffer_.size(), end_ + 2 * size + 1));
    std::size_t at = 0;
    while (at < size) {
      const std::string_view rest(raw_.data() + at, size - at);
      if (!eof_ && !FirstUtf16CharIsWhole(rest, encoding_)) break;
      const Utf16Char c = FirstUtf16Char(rest, encoding_);
      end_ += PutUtf8(c.codePoint, buffer_.data() + end_);
      at += c.size;
    }
    held_ = size - at;
    std::memmove(raw_.data(), raw_.data() + at, held_);
    return !eof_ || at > 0;
  }

  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // end of the bytes read
  Search lf_;
  Search cr_;
  bool skipping_ = false;  // inside a line too long to hold
  bool eof_ = false;
  bool started_ = false;  // the first bytes, which tell the encoding, are read
  Encoding encoding_ = Encoding::Ansi;
  std::vector<char> raw_;  // a UTF-16 file's bytes read and not yet decoded
  std::size_t held_ = 0;   // the number of them
};

// Whether a line can be a section header: its first byte that is not white space is a "[".
// Cheaper than taking the line apart, for the many lines a read passes over.
bool MayBeHeader(std::string_view text) {
  for (const char c : text)
    if (!IsBlank(c)) return c == '[';
  return false;
}

// Calls `visit` with every line of the settings file, taken apart, until it returns false. While
// `wantEntries` is false only section headers are passed on. A file that cannot be read is an
// empty one.
template <typename Visit>
void ScanFile(LPCSTR fileName, const bool& wantEntries, Visit visit) {
  if (fileName == nullptr) return;
  struct stat info;
  const FileDescriptor file(OpenRegularFile(fileName, &info));
  if (file.get() < 0) return;
  LineReader reader(file.get());
  std::string_view text;
  while (reader.Next(text)) {
    if (!wantEntries && !MayBeHeader(text)) continue;
    if (!visit(ParseLine(text))) return;
  }
}

DWORD ReadValue(std::string_view section, std::string_view key, std::string_view fallback,
                LPSTR buffer, DWORD bufferLength, LPCSTR fileName) {
  // The lines before the first header form the section with the empty name.
  bool inSection = section.empty();
  std::optional<DWORD> count;
  ScanFile(fileName, inSection, [&](const Line& line) {
    if (line.kind == Line::Kind::Section) {
      if (inSection) return false;  // only the first section of the name counts
      inSection = SameName(line.name, section);
      return true;
    }
    if (!inSection || line.kind != Line::Kind::Entry || !SameName(line.name, key)) return true;
    // The first entry of the name decides, even a bare name, which reads as missing.
    if (line.hasValue) count = CopyValue(line.value, buffer, bufferLength);
    return false;
  });
  return count ? *count : CopyValue(fallback, buffer, bufferLength);
}

// The names of the entries of the first section named `section`, each followed by a NUL, the
// list ended by one more NUL. Comments and bare names are left out. A list that does not fit is
// cut and still ends in two NULs; the count is then bufferLength - 2. An empty list gives the
// default instead. The section name is compared as given, without trimming, as Windows does.
DWORD ListKeys(std::string_view section, std::string_view fallback, LPSTR buffer,
               DWORD bufferLength, LPCSTR fileName) {
  bool inSection = CString(section).empty();
  bool found = inSection;
  std::size_t room = bufferLength;  // bytes left, counting the one at `out`
  LPSTR out = buffer;
  ScanFile(fileName, inSection, [&](const Line& line) {
    if (line.kind == Line::Kind::Section) {
      if (inSection) return false;
      inSection = SameName(line.name, section);
      found = found || inSection;
      return true;
    }
    if (!inSection) return true;
    if (room <= 2) return false;
    const std::string_view name = CString(line.name);
    if (line.kind != Line::Kind::Entry || !line.hasValue || name.substr(0, 1) == ";") return true;
    const std::size_t count = std::min(name.size(), room - 2);
    std::copy_n(name.data(), count, out);
    out[count] = '\0';
    out += count + 1;
    room -= count + 1;
    return room >= 2;
  });
  if (!found) return CopyValue(fallback, buffer, bufferLength);
  *out = '\0';
  if (buffer[0] == '\0') return CopyValue(fallback, buffer, bufferLength);
  if (room <= 1) {
    out[-1] = '\0';
    return bufferLength - 2;
  }
  return static_cast<DWORD>(out - buffer);
}

// The names of all sections, in file order and repeats included, each followed by a NUL, the
// list ended by one more NUL; cut as ListKeys cuts.
DWORD ListSections(LPSTR buffer, DWORD bufferLength, LPCSTR fileName) {
  if (bufferLength == 1) {
    buffer[0] = '\0';
    return 0;
  }
  constexpr bool kHeadersOnly = false;
  std::size_t room = bufferLength - 1;  // bytes left before the list's final NUL
  LPSTR out = buffer;
  bool cut = false;
  ScanFile(fileName, kHeadersOnly, [&](const Line& line) {
    const std::string_view name = CString(line.name);
    if (line.kind != Line::Kind::Section || name.empty()) return true;
    if (name.size() + 1 >= room) {
      std::copy_n(name.data(), room - 1, out);
      out += room - 1;
      *out++ = '\0';
      cut = true;
      return false;
    }
    std::copy_n(name.data(), name.size(), out);
    out[name.size()] = '\0';
    out += name.size() + 1;
    room -= name.size() + 1;
    return true;
  });
  *out = '\0';
  return cut ? bufferLength - 2 : static_cast<DWORD>(out - buffer);
}

// ---------------------------------------------------------------------------------------------
// Editing a file's content

// A line of the content being edited, with where it lies.
struct Span {
  std::size_t begin;  // first byte of the line
  std::size_t end;    // its line end (or the end of the content)
  std::size_t next;   // first byte after its line end
  Line line;
};

// A section of the content: its header line (none for the lines before the first header) and
// the lines up to the next header.
struct Section {
  std::string_view name;
  std::size_t begin;      // first byte of the header, or of the content for the nameless one
  std::size_t firstLine;  // index in the spans of the first line after the header
  std::size_t endLine;    // index of the next header (or the number of spans)
};

// The one change a write makes to a file's text: `length` bytes at `at` replaced by `text`.
struct Edit {
  std::size_t at;
  std::size_t length;
  std::string text;
};

// The text of a settings file (for a UTF-16 file, its UTF-8 form), and the edit that a write
// makes to it.
class Content {
 public:
  // `start`: where the lines begin, after a byte-order mark.
  Content(std::string_view text, std::size_t start) : text_(text), start_(start) { Parse(); }

  // The edit that deletes the first section of the name, the one reads see, with all its lines
  // up to the next header. None if nothing would change.
  std::optional<Edit> DeleteSection(std::string_view name) const {
    for (const Section& section : sections_) {
      if (!SameName(section.name, name)) continue;
      const std::size_t end = SectionEnd(section);
      if (end == section.begin) return std::nullopt;
      return Edit{section.begin, end - section.begin, {}};
    }
    return std::nullopt;
  }

  // The edit that deletes the first entry of the name found in any section of the name. None if
  // there is none.
  std::optional<Edit> DeleteEntry(std::string_view section, std::string_view key) const {
    for (const Section& s : sections_) {
      if (!SameName(s.name, section)) continue;
      for (std::size_t i = s.firstLine; i < s.endLine; ++i) {
        const Span& span = spans_[i];
        if (span.line.kind != Line::Kind::Entry || !SameName(span.line.name, key)) continue;
        return Edit{span.begin, span.next - span.begin, {}};
      }
    }
    return std::nullopt;
  }

  // The edit that sets the entry in the first section of the name, adding the entry or the
  // section as needed. None if the entry already has the value.
  std::optional<Edit> SetEntry(std::string_view section, std::string_view key,
                               std::string_view value) const {
    const auto found = std::find_if(sections_.begin(), sections_.end(),
                                    [&](const Section& s) { return SameName(s.name, section); });
    if (found == sections_.end()) {
      std::string added;
      if (text_.size() > start_ && !IsLineEndByte(text_.back())) added += eol_;
      added.append("[").append(section).append("]").append(eol_);
      added.append(key).append("=").append(value).append(eol_);
      return Edit{text_.size(), 0, std::move(added)};
    }
    std::optional<std::size_t> last;  // the section's last non-blank line
    for (std::size_t i = found->firstLine; i < found->endLine; ++i) {
      const Span& span = spans_[i];
      if (span.line.kind == Line::Kind::Blank) continue;
      last = i;
      if (!SameName(span.line.name, key)) continue;
      return ReplaceValue(span, value);
    }
    std::string entry = std::string(key) + "=" + std::string(value) + eol_;
    if (!last && found->firstLine > 0) last = found->firstLine - 1;  // just after the header
    if (!last) return Edit{start_, 0, std::move(entry)};
    if (spans_[*last].next == spans_[*last].end)  // the file's last line had no line end
      return Edit{spans_[*last].end, 0, eol_ + entry};
    return Edit{spans_[*last].next, 0, std::move(entry)};
  }

 private:
  static bool IsLineEndByte(char c) { return c == '\r' || c == '\n'; }

  void Parse() {
    sections_.push_back(Section{{}, start_, 0, 0});
    bool eolChosen = false;
    std::size_t at = start_;
    while (at < text_.size()) {
      std::size_t end = at;
      while (end < text_.size() && !IsLineEndByte(text_[end])) ++end;
      std::size_t next = end;
      if (next < text_.size()) next += text_.compare(next, 2, "\r\n") == 0 ? 2 : 1;
      if (!eolChosen && next > end) {
        // New lines take the file's own line end; only LF-only files differ from CR LF.
        eolChosen = true;
        eol_ = text_[end] == '\n' ? "\n" : "\r\n";
      }
      const Line line = ParseLine(text_.substr(at, end - at));
      if (line.kind == Line::Kind::Section) {
        sections_.back().endLine = spans_.size();
        sections_.push_back(Section{line.name, at, spans_.size() + 1, 0});
      }
      spans_.push_back(Span{at, end, next, line});
      at = next;
    }
    sections_.back().endLine = spans_.size();
  }

  std::size_t SectionEnd(const Section& section) const {
    return section.endLine < spans_.size() ? spans_[section.endLine].begin : text_.size();
  }

  std::optional<Edit> ReplaceValue(const Span& span, std::string_view value) const {
    const Line& line = span.line;
    if (line.hasValue && CString(line.value) == value) return std::nullopt;
    if (line.hasValue) return Edit{Offset(line.value), line.value.size(), std::string(value)};
    // Built by appending: GCC 12 at -O3 misreads "=" + std::string(...) as an overlapping copy.
    std::string text;
    text.reserve(value.size() + 1);
    text.append(1, '=').append(value);
    return Edit{Offset(line.name) + line.name.size(), 0, std::move(text)};
  }

  // Where a view into the text starts.
  std::size_t Offset(std::string_view part) const {
    return static_cast<std::size_t>(part.data() - text_.data());
  }

  std::string_view text_;
  std::size_t start_;
  std::string eol_ = "\r\n";
  std::vector<Span> spans_;
  std::vector<Section> sections_;  // the nameless one first
};

// A file's bytes with an edit of its text made, in the file's own encoding.
std::string Apply(std::string bytes, Encoding encoding, const Edit& edit) {
  if (encoding == Encoding::Ansi) return bytes.replace(edit.at, edit.length, edit.text);
  const std::string_view units = std::string_view(bytes).substr(kUtf16MarkSize);
  const std::size_t begin = kUtf16MarkSize + Utf16Offset(units, encoding, edit.at);
  const std::size_t end = kUtf16MarkSize + Utf16Offset(units, encoding, edit.at + edit.length);
  return bytes.replace(begin, end - begin, EncodeUtf16(edit.text, encoding));
}

// ---------------------------------------------------------------------------------------------
// Replacing a file

// The file a path names, symbolic links followed, so that a write replaces the link's target and
// keeps the link. The target need not exist yet.
std::optional<std::string> ResolveLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (target.front() != '/' && slash != std::string::npos)
      target = path.substr(0, slash + 1) + target;
    path = std::move(target);
  }
  return std::nullopt;
}

// The present content of the file, or empty text if there is none yet. Fails for anything that
// is not a regular file, for a file that cannot be read, and for one over the write limit.
bool LoadForWriting(const std::string& path, std::string& content, std::optional<mode_t>& mode,
                    std::optional<std::pair<uid_t, gid_t>>& owner) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT;
  const FileDescriptor file(fd);
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<std::uint64_t>(info.st_size) > kProfileWriteLimit) return false;
  // Room for one byte more than the file holds, to see it end (or grow past the limit).
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t size = 0;
  for (;;) {
    if (size == content.size()) {
      if (size > kProfileWriteLimit) return false;
      content.resize(std::min(2 * size, kProfileWriteLimit + 1));
    }
    const ssize_t count = read(fd, content.data() + size, content.size() - size);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) break;
    size += static_cast<std::size_t>(count);
  }
  content.resize(size);
  mode = info.st_mode & 07777;
  owner = std::make_pair(info.st_uid, info.st_gid);
  return true;
}

// The permissions a new file gets: read and write for all, less the process's umask. The umask
// is read where Linux shows it, so that it is never changed, even for a moment.
mode_t NewFileMode() {
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned int value = 0;
    while (std::fgets(line, sizeof line, status) != nullptr)
      if (std::sscanf(line, "Umask: %o", &value) == 1) mask = static_cast<mode_t>(value);
    std::fclose(status);
  }
  return 0666 & ~mask;
}

// A temporary file that removes itself unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pattern) : path_(std::move(pattern)) {
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
  }
  ~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (fd_ != kRenamed && fd_ != kFailed) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = kClosed;
    return close(fd) == 0;
  }
  bool RenameTo(const std::string& path) {
    if (rename(path_.c_str(), path.c_str()) != 0) return false;
    fd_ = kRenamed;
    return true;
  }

 private:
  static constexpr int kFailed = -1;  // mkostemp made no file
  static constexpr int kClosed = -2;
  static constexpr int kRenamed = -3;
  std::string path_;
  int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = write(fd, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

// Replaces the file at `path` (links already followed) by `content`, whole or not at all.
bool ReplaceFile(const std::string& path, const std::string& content, std::optional<mode_t> mode,
                 std::optional<std::pair<uid_t, gid_t>> owner) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  // The temporary file is hidden and named after the settings file, cut so that its name stays
  // within the file system's 255 bytes.
  const std::string name = path.substr(slash + 1, kTemporaryNameLimit);
  TemporaryFile temporary((slash == std::string::npos ? std::string() : folder) + "." + name +
                          ".XXXXXX");
  if (!temporary.created()) return false;
  Step(ProfileWriteStep::TemporaryCreated);
  for (std::size_t at = 0; at < content.size(); at += kProfileWriteChunk) {
    const std::size_t size = std::min(kProfileWriteChunk, content.size() - at);
    if (!WriteAll(temporary.fd(), content.data() + at, size)) return false;
    Step(ProfileWriteStep::ChunkWritten);
  }
  // The replacement keeps the old file's permissions and, where allowed, its owner. Only root
  // may give a file away; if even that is refused, the settings are better saved than lost.
  if (fchmod(temporary.fd(), mode ? *mode : NewFileMode()) != 0) return false;
  if (owner && geteuid() == 0 && fchown(temporary.fd(), owner->first, owner->second) != 0) {
    // Kept with the writer's ownership.
  }
  if (fsync(temporary.fd()) != 0 || !temporary.Close()) return false;
  Step(ProfileWriteStep::Synced);
  Step(ProfileWriteStep::BeforeRename);
  if (!temporary.RenameTo(path)) return false;
  // Make the rename itself durable; the file is already whole whatever happens here.
  const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
  return true;
}

bool WriteProfile(std::string_view section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  const std::optional<std::string> path = ResolveLinks(fileName);
  if (!path) return false;
  std::string bytes;
  std::optional<mode_t> mode;
  std::optional<std::pair<uid_t, gid_t>> owner;
  if (!LoadForWriting(*path, bytes, mode, owner)) return false;
  const Encoding encoding = EncodingOf(bytes);
  const bool ansi = encoding == Encoding::Ansi;
  if (!ansi && bytes.size() % 2 != 0) {
    // A last odd byte reads as U+FFFD: make it that character's unit, so that what a write puts
    // after it stays in step.
    bytes.pop_back();
    bytes += EncodeUtf16("\xEF\xBF\xBD", encoding);
  }
  const std::string decoded =
      ansi ? std::string() : DecodeUtf16(std::string_view(bytes).substr(kUtf16MarkSize), encoding);
  const std::string_view text = ansi ? std::string_view(bytes) : std::string_view(decoded);
  const bool utf8Mark = ansi && text.substr(0, kUtf8Mark.size()) == kUtf8Mark;
  const Content content(text, utf8Mark ? kUtf8Mark.size() : 0);
  std::optional<Edit> edit;
  if (key == nullptr) {
    edit = content.DeleteSection(section);
  } else if (value == nullptr) {
    edit = content.DeleteEntry(section, key);
  } else {
    edit = content.SetEntry(Trim(section), Trim(key), TrimFront(value));
  }
  return !edit || ReplaceFile(*path, Apply(std::move(bytes), encoding, *edit), mode, owner);
}

}  // namespace

void SetProfileWriteHook(std::function<void(ProfileWriteStep)> hook) {
  WriteHook() = std::move(hook);
}

}  // namespace platform::posix

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD bufferLength, LPCSTR fileName) {
  using namespace platform::posix;
  if (buffer == nullptr || bufferLength == 0) return 0;
  try {
    if (section == nullptr) return ListSections(buffer, bufferLength, fileName);
    const std::string_view fallback = TrimDefault(defaultValue);
    if (key == nullptr) return ListKeys(section, fallback, buffer, bufferLength, fileName);
    return ReadValue(Trim(section), Trim(key), fallback, buffer, bufferLength, fileName);
  } catch (...) {
    // Out of memory: nothing was found.
    buffer[0] = '\0';
    return 0;
  }
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  using namespace platform::posix;
  if (section == nullptr || fileName == nullptr || *fileName == '\0') return FALSE;
  try {
    return WriteProfile(section, key, value, fileName) ? TRUE : FALSE;
  } catch (...) {
    // Out of memory, or a test's hook stopping the write: the temporary file is gone and the
    // settings file is as it was.
    return FALSE;
  }
}
