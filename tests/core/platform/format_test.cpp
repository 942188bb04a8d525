#include <gtest/gtest.h>

#include <cmath>

#include "core/platform/numbers.h"

namespace kestrum {
namespace {

TEST(FormatSize, UnitsCutNotRounded) {
  const std::pair<double, const char*> cases[] = {
      {0, "0 b"},
      {1023, "1023 b"},
      {1024, "1.0 kb"},
      {1099, "1.07 kb"},
      {1536, "1.5 kb"},
      {1048575, "1023.99 kb"},
      {1048576, "1.0 mb"},
      {1073741823, "1023.99 mb"},
      {1073741824, "1.0 gb"},
      {std::ldexp(1.0, 40), "1024.0 gb"},
      {-2048, "-2048 b"},
      {1024 * 1.05, "1.05 kb"},
      {1024 * 2.5 + 1, "2.5 kb"},
  };
  for (const auto& [bytes, want] : cases) EXPECT_EQ(FormatSize(bytes, "."), want) << bytes;
}

TEST(FormatSize, DecimalSeparatorIsTheCallers) {
  EXPECT_EQ(FormatSize(1536, ","), "1,5 kb");
  EXPECT_EQ(FormatSize(1023, ","), "1023 b");
}

TEST(FormatPercent, OneRoundedDecimal) {
  EXPECT_EQ(FormatPercent(0, "."), "0");
  EXPECT_EQ(FormatPercent(12.34f, "."), "12.3");
  EXPECT_EQ(FormatPercent(0.04f, "."), "0.0");
  EXPECT_EQ(FormatPercent(100, "."), "100.0");
  EXPECT_EQ(FormatPercent(99.96f, "."), "100.0");
  EXPECT_EQ(FormatPercent(12.34f, ","), "12,3");
}

TEST(FixedText, RoundedWithAPoint) {
  const struct {
    double value;
    int decimals;
    const char* want;
  } cases[] = {
      {0.0049, 3, "0.005"}, {16201.4, 0, "16201"}, {0.5, 2, "0.50"}, {-3.14159, 1, "-3.1"}};
  for (const auto& c : cases) EXPECT_EQ(FixedText(c.value, c.decimals), c.want) << c.value;
}

TEST(PlainNumber, WholeNumbersHaveNoDecimals) {
  EXPECT_EQ(PlainNumber(0), "0");
  EXPECT_EQ(PlainNumber(10737418240.0), "10737418240");
  EXPECT_EQ(PlainNumber(-5), "-5");
  EXPECT_EQ(PlainNumber(1.25), "1.25");
}

}  // namespace
}  // namespace kestrum
