// Text encodings of settings files, for reading and editing alike.
//
// A file that starts with a UTF-16 byte-order mark (FF FE, or FE FF for big endian) holds UTF-16
// text, as Notepad saves "Unicode"; Windows converts it to and from the ANSI code page for the A
// functions, and on POSIX systems that code page is UTF-8. So such a file reads exactly as the
// UTF-8 file of the same text would: a surrogate without its partner reads as U+FFFD, and so
// does a last odd byte. Any other file is ANSI text, its bytes taken as they are, UTF-16 without
// a mark included (as Wine reads it).
#include "platform/posix/profile_encoding.h"

namespace platform::posix {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

char32_t Utf16Unit(std::string_view bytes, Encoding encoding) {
  const auto first = static_cast<unsigned char>(bytes[0]);
  const auto second = static_cast<unsigned char>(bytes[1]);
  return encoding == Encoding::Utf16Be ? char32_t{first} << 8 | second
                                       : char32_t{second} << 8 | first;
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

}  // namespace

Encoding EncodingOf(std::string_view start) {
  if (start.substr(0, kUtf16MarkSize) == "\xFF\xFE") return Encoding::Utf16Le;
  if (start.substr(0, kUtf16MarkSize) == "\xFE\xFF") return Encoding::Utf16Be;
  return Encoding::Ansi;
}

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

}  // namespace platform::posix
