#include "exchange/export_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "text/gbk.h"

namespace skjk::exchange {
namespace {

using namespace std::chrono;
using namespace text::literals;

TEST(ExportNumberTextTest, FifteenDigitsPlainOrScientific) {
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
    EXPECT_EQ(ExportNumberText(c.value), c.text) << c.value;
  }
}

TEST(ExportNumberTextTest, RateRoundsHalvesToEven) {
  const struct {
    std::optional<double> per_cent;
    const char* text;
  } cases[] = {
      {17, "0.17"},   {13, "0.13"},   {0, "0"},
      {12.5, "0.12"}, {13.5, "0.14"}, {std::nullopt, "0"},
      {16.6, "0.17"}, {-0.5, "0"},    {100, "1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RateText(c.per_cent), c.text) << c.per_cent.value_or(-1);
  }
}

TEST(ExportTextTest, DatesAndRanges) {
  const double day = text::DateTimeOf(year{2024} / January / 15);
  EXPECT_EQ(BusinessDateText(day), "20240115");
  EXPECT_EQ(BusinessDateText(day + 0.75), "20240115");
  EXPECT_EQ(BusinessDateText(std::nullopt), "18991230");
  EXPECT_EQ(DateRangeText(year{2024} / January / 15, year{2024} / January / 16),
            "2024年01月15日至2024年01月16日"_gbk);
  EXPECT_EQ(DateRangeText(year{987} / December / 1, year{2024} / March / 9),
            "0987年12月01日至2024年03月09日"_gbk);
}

}  // namespace
}  // namespace skjk::exchange
