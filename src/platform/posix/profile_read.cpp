// Reading settings files: GetPrivateProfileStringA on POSIX systems, and the rules of the
// Windows initialization-file (INI) format that reads and writes share. A file written by either
// build reads alike in the other.
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
// other line, except that key lists leave them out. A UTF-16 file reads as its UTF-8 text
// (profile_encoding.cpp).
//
// A read streams the file in large chunks (decoding UTF-16 as it goes) and stops as soon as it
// has its answer, so even a huge or binary file costs little time and no more memory than a chunk
// and its longest line.
#include "platform/posix/profile_read.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/profile.h"
#include "platform/posix/profile_encoding.h"

namespace platform::posix {

// How much a read takes in at a time. The fuzzing build makes it tiny, so that lines cross
// chunks all the time.
#ifndef OZZ_PROFILE_READ_CHUNK
#define OZZ_PROFILE_READ_CHUNK (std::size_t{64} << 10)
#endif
namespace {
constexpr std::size_t kReadChunk = OZZ_PROFILE_READ_CHUNK;
static_assert(kReadChunk >= 4, "a chunk holds at least a file's byte-order mark");
}  // namespace

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

namespace {
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  a = CString(a);
  b = CString(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

std::string_view Arg(LPCSTR text) { return text == nullptr ? std::string_view() : text; }

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

namespace {

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

}  // namespace
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
