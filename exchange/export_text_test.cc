#include "exchange/export_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "text/gbk.h"

namespace skjk::exchange {
namespace {

using namespace std::chrono;
using namespace text::literals;

TEST(RateTextTest, RoundsHalvesToEven) {
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
