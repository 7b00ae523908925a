# Writes a C++ source that embeds the picture and the icon as byte arrays, so the program
# needs nothing beside its executable. Run as: cmake -DPICTURE=... -DICON=... -DOUT=... -P embed.cmake
function(hex_bytes file out_var)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  set(${out_var} "${bytes}" PARENT_SCOPE)
endfunction()

hex_bytes("${PICTURE}" picture_bytes)
hex_bytes("${ICON}" icon_bytes)
file(SIZE "${ICON}" icon_size)
if(NOT icon_size EQUAL 4096)
  message(FATAL_ERROR "${ICON} must hold 32 x 32 pixels of 4 bytes, not ${icon_size} bytes")
endif()

file(WRITE "${OUT}.tmp" "// Generated from ${PICTURE} and ${ICON}; do not edit.
#include \"watcher/resources.h\"

namespace resources {
namespace {
const std::uint8_t kPicture[] = {
${picture_bytes}
};
const std::uint8_t kIconBytes[] = {
${icon_bytes}
};
}  // namespace

std::span<const std::uint8_t> PictureBmp() { return kPicture; }

std::span<const std::uint32_t> IconArgb() {
  // Bytes B, G, R, A per pixel: little-endian 0xAARRGGBB words, assembled portably.
  static const auto* const icon = [] {
    static std::uint32_t words[1024];
    for (int i = 0; i < 1024; ++i)
      words[i] = static_cast<std::uint32_t>(kIconBytes[4 * i]) |
                 static_cast<std::uint32_t>(kIconBytes[4 * i + 1]) << 8 |
                 static_cast<std::uint32_t>(kIconBytes[4 * i + 2]) << 16 |
                 static_cast<std::uint32_t>(kIconBytes[4 * i + 3]) << 24;
    return words;
  }();
  return {icon, 1024};
}

}  // namespace resources
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
