#include "platform/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/errors.h"

namespace {

using runtime::CLng;
using runtime::CSng;
using runtime::Failure;
using runtime::SingleText;
using runtime::Val;

struct ValCase {
  const char* text;
  double expected;
};

class ValTest : public ::testing::TestWithParam<ValCase> {};

TEST_P(ValTest, ReadsTheNumberAtTheStart) {
  EXPECT_DOUBLE_EQ(Val(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ValTest,
    ::testing::Values(ValCase{"1935", 1935}, ValCase{"-750", -750}, ValCase{"1935.5", 1935.5},
                      ValCase{"", 0}, ValCase{"abc", 0}, ValCase{"12abc", 12},
                      ValCase{"  12 34", 1234}, ValCase{"\t-\t5", -5}, ValCase{".5", 0.5},
                      ValCase{"1.5E+07", 1.5e7}, ValCase{"2d3", 2000}, ValCase{"1e", 1},
                      ValCase{"+8100", 8100}, ValCase{"-", 0}, ValCase{"1.2.3", 1.2},
                      ValCase{"&H10", 16}, ValCase{"&hFFFF", -1}, ValCase{"&O17", 15},
                      ValCase{"&HFFFFFFFF", -1}, ValCase{"&Hxyz", 0}, ValCase{"3.5E+38", 3.5e38},
                      ValCase{"0x10", 0}));

TEST(ValFailure, NumbersBeyondDoubleOverflow) {
  EXPECT_THROW(Val("1E400"), Failure);
  EXPECT_THROW(Val("-9e9999"), Failure);
}

TEST(ValFailure, AVeryLongNumberIsReadWithoutTrouble) {
  const std::string digits(100000, '7');
  EXPECT_THROW(Val(digits), Failure);  // 10^100000 is beyond double
  EXPECT_DOUBLE_EQ(Val("0." + digits), 0.7777777777777777);
}

struct RoundCase {
  double value;
  std::int32_t expected;
};

class CLngTest : public ::testing::TestWithParam<RoundCase> {};

TEST_P(CLngTest, RoundsHalvesToEven) { EXPECT_EQ(CLng(GetParam().value), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Values, CLngTest,
    ::testing::Values(RoundCase{0.5, 0}, RoundCase{1.5, 2}, RoundCase{2.5, 2}, RoundCase{-0.5, 0},
                      RoundCase{-1.5, -2}, RoundCase{28800, 28800}, RoundCase{1980.4, 1980},
                      RoundCase{2147483647.4, 2147483647}, RoundCase{-2147483648.5, -2147483648},
                      // Next to a half, and next to zero.
                      RoundCase{0.49999999999999994, 0}, RoundCase{-0.49999999999999994, 0},
                      RoundCase{2.5000000000000004, 3}, RoundCase{-2.4999999999999996, -2},
                      RoundCase{-3.5, -4}, RoundCase{-1e-300, 0},
                      RoundCase{1073741823.5, 1073741824}, RoundCase{1073741824.5, 1073741824}));

// The processor's own rounding (nearest, halves to even) agrees everywhere in range.
TEST(CLngRounding, AgreesWithTheDefaultRoundingMode) {
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const double scale = std::ldexp(1.0, static_cast<int>(state >> 59));  // up to 2^31
    double value = (static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0) * scale;
    if (i % 4 == 0) value = std::floor(value) + 0.5;  // plenty of exact halves
    if (std::fabs(value) >= 2147483647.0) continue;
    ASSERT_EQ(CLng(value), static_cast<std::int32_t>(std::nearbyint(value))) << value;
  }
}

TEST(CLngFailure, OutOfRangeOrNotANumber) {
  EXPECT_THROW(CLng(2147483647.5), Failure);
  EXPECT_THROW(CLng(-2147483649.0), Failure);
  EXPECT_THROW(CLng(std::nan("")), Failure);
  EXPECT_THROW(CLng(std::numeric_limits<double>::infinity()), Failure);
}

TEST(CSngFailure, BeyondSinglePrecision) {
  EXPECT_EQ(CSng(1935.0), 1935.0f);
  EXPECT_THROW(CSng(3.5e38), Failure);
  EXPECT_THROW(CSng(-1e39), Failure);
  EXPECT_THROW(CSng(std::nan("")), Failure);
}

struct TextCase {
  float value;
  const char* text;
};

class SingleTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(SingleTextTest, WritesDecimalText) {
  EXPECT_EQ(SingleText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, SingleTextTest,
                         ::testing::Values(TextCase{1935, "1935"}, TextCase{1935.5f, "1935.5"},
                                           TextCase{-750, "-750"}, TextCase{0, "0"},
                                           TextCase{13410, "13410"}, TextCase{750, "750"},
                                           TextCase{0.25f, "0.25"}, TextCase{1234567, "1234567"},
                                           TextCase{12345678, "1.234568E+07"},
                                           TextCase{1.5e7f, "1.5E+07"}, TextCase{0.0001f, "0.0001"},
                                           TextCase{0.00001f, "1E-05"}));

TEST(SingleTextRoundTrip, ValReadsBackWhatWasWritten) {
  for (float value : {1935.0f, -750.0f, 1935.5f, 13410.0f, 1.5e7f, -32768.0f, 491520.0f})
    EXPECT_EQ(CSng(Val(SingleText(value))), value) << SingleText(value);
}

struct ArithmeticCase {
  std::int32_t a;
  std::int32_t b;
  bool addOverflows;
  bool subOverflows;
};

class GuardedArithmeticTest : public ::testing::TestWithParam<ArithmeticCase> {};

TEST_P(GuardedArithmeticTest, OverflowIsAFailure) {
  const auto& c = GetParam();
  if (c.addOverflows)
    EXPECT_THROW(runtime::Add32(c.a, c.b), Failure);
  else
    EXPECT_EQ(runtime::Add32(c.a, c.b), std::int64_t{c.a} + c.b);
  if (c.subOverflows)
    EXPECT_THROW(runtime::Sub32(c.a, c.b), Failure);
  else
    EXPECT_EQ(runtime::Sub32(c.a, c.b), std::int64_t{c.a} - c.b);
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(Limits, GuardedArithmeticTest,
                         ::testing::Values(ArithmeticCase{1, 2, false, false},
                                           ArithmeticCase{kMax, 1, true, false},
                                           ArithmeticCase{kMax - 82, 82, false, false},
                                           ArithmeticCase{kMin, 1, false, true},
                                           ArithmeticCase{0, kMin, false, true},
                                           ArithmeticCase{-1, kMin, true, false},
                                           ArithmeticCase{kMin, -1, true, false}));

TEST(ResumeNext, SkipsTheFailingStatementAlone) {
  int reached = 0;
  runtime::ResumeNext([&] {
    runtime::Add32(kMax, 1);
    reached = 1;  // never: the statement was abandoned
  });
  runtime::ResumeNext([&] { reached += 10; });
  EXPECT_EQ(reached, 10);
}

}  // namespace
