// The program's icon file holds the dog at each of Windows' icon sizes: 32-bit images up to
// 64 px, the 256 px one as PNG. (scripts/make_picture.py, which draws them, checks the pixels.)
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::uint32_t Little(const std::string& bytes, std::size_t at, int size = 4) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | std::uint8_t(bytes.at(at + i));
  return value;
}

TEST(ProgramIcon, HoldsEachSize) {
  std::ifstream in(OZZ_ICON, std::ios::binary);
  const std::string ico{std::istreambuf_iterator<char>(in), {}};
  const std::uint32_t sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};
  ASSERT_EQ(Little(ico, 0), 0x10000u) << "not an icon file";
  ASSERT_EQ(Little(ico, 4, 2), std::size(sizes));
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::uint32_t size = sizes[i], entry = 6 + 16 * i, at = Little(ico, entry + 12);
    SCOPED_TRACE(std::to_string(size) + " px");
    EXPECT_EQ(Little(ico, entry, 2), size % 256 * 0x101);  // width, height; 0 for 256
    EXPECT_EQ(Little(ico, entry + 6, 2), 32u);             // bits per pixel
    ASSERT_LE(at + Little(ico, entry + 8), ico.size());
    if (size == 256) {
      EXPECT_EQ(ico.substr(at, 8), "\x89PNG\r\n\x1a\n");
    } else {  // BITMAPINFOHEADER: the colour rows and the mask rows, at 32 bits a pixel
      EXPECT_EQ(Little(ico, at + 4), size);
      EXPECT_EQ(Little(ico, at + 8), 2 * size);
      EXPECT_EQ(Little(ico, at + 14, 2), 32u);
      EXPECT_EQ(Little(ico, entry + 8), 40 + 4 * size * size + (size + 31) / 32 * 4 * size);
    }
  }
}

}  // namespace
