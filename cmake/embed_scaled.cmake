# Writes a C++ source that embeds the picture drawn at each display scale the program shows it
# at (src/watcher/resources/scaled/picture-NNN.bmp, NNN the scale in percent), and the function
# that finds one by its scale in quarters.
# Run as: cmake -DSCALED=<folder> -DOUT=... -P embed_scaled.cmake
#
# On ELF systems the arrays go to a section of their own, which the linker places after the
# read-only data the program uses: only the one picture a scaled desktop needs is then ever
# read into memory, and at 1x none, not even pages of them next to data the program reads.
file(GLOB pictures "${SCALED}/picture-*.bmp")
list(SORT pictures)
set(arrays "")
set(cases "")
foreach(picture IN LISTS pictures)
  get_filename_component(name "${picture}" NAME_WE)
  string(REGEX REPLACE "^picture-([0-9]+)$" "\\1" percent "${name}")
  math(EXPR quarters "${percent} / 25")
  math(EXPR rest "${percent} % 25")
  if(NOT rest EQUAL 0 OR quarters LESS 5)
    message(FATAL_ERROR "${picture}: the scale must be a quarter above 1 (125, 150, ...)")
  endif()
  file(READ "${picture}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const std::uint8_t kPicture${percent}[] OZZ_SCALED_SECTION = {\n${bytes}\n};\n")
  string(APPEND cases "    case ${quarters}:\n      return kPicture${percent};\n")
endforeach()

file(WRITE "${OUT}.tmp" "// Generated from ${SCALED}; do not edit.
#include \"watcher/resources.h\"

#if defined(__ELF__)
#define OZZ_SCALED_SECTION __attribute__((section(\".ozz_scaled_pictures\")))
#else
#define OZZ_SCALED_SECTION
#endif

namespace resources {
namespace {
${arrays}}  // namespace

std::span<const std::uint8_t> ScaledPictureBmp(int quarters) {
  switch (quarters) {
${cases}    default:
      return {};
  }
}

}  // namespace resources
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
