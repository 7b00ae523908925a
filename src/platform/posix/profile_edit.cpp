// Editing settings files: WritePrivateProfileStringA on POSIX systems, the change a write makes
// to a file's text. The file is then put in place by profile_replace.cpp.
//
// A write changes only the bytes it must: the value of an existing entry in place, a new entry
// after the last non-blank line of its section, a new section at the end of the file, with the
// file's own line ends (CR LF in a new file). A null value deletes the entry's line, a null key
// the first section of the name with its lines. Every other byte stays as it was (Wine, unlike
// Windows, rewrites the whole file in its own layout; tests/wine compares the two on files in
// that layout). A UTF-16 file stays UTF-16 with its mark: the new text is converted from UTF-8 (a
// byte that is not UTF-8 becomes U+FFFD) and put in place of the bytes it replaces, every other
// byte kept.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/profile_encoding.h"
#include "platform/posix/profile_read.h"
#include "platform/posix/profile_replace.h"
#include "platform/win32_api.h"

namespace platform::posix {
namespace {

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
}  // namespace platform::posix

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
