// Text encodings of settings files (profile_encoding.cpp): telling a UTF-16 file by its mark,
// and converting between its UTF-16 bytes and the UTF-8 text that reads and edits work on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::posix {

// How a file holds its text: ANSI (on POSIX systems UTF-8, or any bytes at all), or UTF-16 in
// either byte order, which its first two bytes, a byte-order mark, announce.
enum class Encoding { Ansi, Utf16Le, Utf16Be };

inline constexpr std::size_t kUtf16MarkSize = 2;
inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

Encoding EncodingOf(std::string_view start);

// One character of UTF-16 text: its code point and the number of bytes it takes.
struct Utf16Char {
  char32_t codePoint;
  std::size_t size;
};

// The character that `bytes` (not empty, the rest of the text) starts with. A surrogate without
// its partner is U+FFFD, and so is a last odd byte, half a unit.
Utf16Char FirstUtf16Char(std::string_view bytes, Encoding encoding);

// Whether FirstUtf16Char gives the same character however the text goes on after `bytes`: false
// while `bytes` may end inside a character.
bool FirstUtf16CharIsWhole(std::string_view bytes, Encoding encoding);

// Puts the UTF-8 form of a code point at `out` (room for 4 bytes); returns its length.
std::size_t PutUtf8(char32_t codePoint, char* out);

// The UTF-8 text of UTF-16 bytes (without their byte-order mark).
std::string DecodeUtf16(std::string_view bytes, Encoding encoding);

// Where in UTF-16 bytes the character lies that starts at `position` in their UTF-8 text.
std::size_t Utf16Offset(std::string_view bytes, Encoding encoding, std::size_t position);

// The UTF-16 bytes of UTF-8 text, in the byte order of `encoding`. Each maximal piece that is
// not UTF-8 becomes one U+FFFD.
std::string EncodeUtf16(std::string_view text, Encoding encoding);

}  // namespace platform::posix
