// Text from outside the program (arguments, environment variables, file names) as it may be
// shown on a terminal: control characters would move the cursor, ring the bell or restyle the
// terminal, so they are written as escapes instead.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` between two `quote` characters, with the quote itself and backslashes preceded by a
// backslash, newline and tab as \n and \t, and every other control character (and DEL) as
// \xHH. Bytes of 0x80 and above pass unchanged, so UTF-8 text stays readable.
inline std::string TerminalQuoted(std::string_view text, char quote) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string quoted(1, quote);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == quote) {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      quoted += "\\x";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 0xf];
    } else {
      quoted += c;
    }
  }
  return quoted + quote;
}

}  // namespace platform
