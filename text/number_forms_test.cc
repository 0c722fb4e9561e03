#include "text/number_forms.h"

#include <gtest/gtest.h>

#include <limits>

namespace skjk::text {
namespace {

TEST(ExchangeNumberTextTest, FifteenDigitsPlainOrScientific) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {450, "450"},
      {137.5, "137.5"},
      {0.0005, "0.0005"},
      {0.00005, "5E-5"},
      {0.000015, "1.5E-5"},
      {2e15, "2E15"},
      {1e15, "1E15"},
      {999999999999999, "999999999999999"},
      {123456789012345, "123456789012345"},
      {-0.1, "-0.1"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},
      {123456789012345678.0, "1.23456789012346E17"},
      // Rounding to 15 digits carries into a new power of ten.
      {9999999999999999.0, "1E16"},
      {99999.99999999999, "100000"},
      {0.000999999999999999999, "0.001"},
      {0.0000999999999999999999, "0.0001"},
      {-2.5e-7, "-2.5E-7"},
      {1e300, "1E300"},
      {1e-300, "1E-300"},
      {12345.678, "12345.678"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExchangeNumberText(c.value), c.text) << c.value;
  }
}

TEST(GridNumberTextTest, TrailingZerosDropped) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {12, "12"},
      {2.5, "2.5"},
      {0.1234567, "0.123457"},
      {-0.0000001, "0"},
      {-3.25, "-3.25"},
      {std::numeric_limits<double>::infinity(), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GridNumberText(c.value), c.text) << c.value;
  }
}

}  // namespace
}  // namespace skjk::text
