#include "text/forms.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "gtest/gtest.h"
#include "text/gbk.h"

namespace skjk::text {
namespace {

using namespace std::chrono;
using text::literals::operator""_gbk;

TEST(DateFormsTest, DateTimeValuesAndTheirTexts) {
  struct Case {
    double value;
    std::optional<Day> day;
    const char* iso;
    const char* compact;
  } cases[] = {
      {0, year{1899} / 12 / 30, "1899-12-30", "18991230"},
      {37491, year{2002} / 8 / 23, "2002-08-23", "20020823"},
      {37491.99, year{2002} / 8 / 23, "2002-08-23", "20020823"},  // 23:45
      {-0.5, year{1899} / 12 / 29, "1899-12-29", "18991229"},     // floor
      {36585, year{2000} / 2 / 29, "2000-02-29", "20000229"},
      {2958465, year{9999} / 12 / 31, "9999-12-31", "99991231"},
      {-693593, year{1} / 1 / 1, "0001-01-01", "00010101"},
      {2958466, std::nullopt, "", ""},
      {-693594, std::nullopt, "", ""},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt, "", ""},
      {std::numeric_limits<double>::infinity(), std::nullopt, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::optional<Day> day = DayOf(c.value);
    EXPECT_EQ(day, c.day);
    if (!day) continue;
    EXPECT_EQ(IsoDate(*day), c.iso);
    EXPECT_EQ(CompactDate(*day), c.compact);
    EXPECT_EQ(DateTimeOf(*day), std::floor(c.value));
    EXPECT_EQ(ParseIsoDate(c.iso), day);
  }
  // Days outside the years 0..9999 keep the printed form.
  EXPECT_EQ(IsoDate(year{-1} / 1 / 2), "-001-01-02");
  EXPECT_EQ(CompactDate(year{10000} / 12 / 3), "100001203");
  EXPECT_EQ(IsoDate(year{0} / 1 / 1), "0000-01-01");
}

TEST(DateFormsTest, OnlyExactRealDatesParse) {
  for (const char* text :
       {"2002-8-23", "2002-08-23 ", " 2002-08-23", "2002/08/23", "20020823",
        "2002-02-29", "2002-13-01", "2002-00-10", "2002-04-31", "0000-01-01",
        "2002-08-2x", "+002-08-23", ""}) {
    EXPECT_EQ(ParseIsoDate(text), std::nullopt) << text;
  }
  EXPECT_EQ(ParseIsoDate("2004-02-29"), Day{year{2004} / 2 / 29});
}

TEST(NameFormsTest, CaseIsIgnoredForAsciiLettersOnly) {
  struct Case {
    std::string a, b;
    bool equal;
  } cases[] = {
      {"ClientDataSet1", "clientdataset1", true},
      {"DHAO00", "dhao00", true},
      {"DHAO00", "DHAO0", false},
      {"[", "{", false},  // not letters: 0x5B and 0x7B
      {"", "", true},
      {"名称"_gbk, "名称"_gbk, true},
      // Trail bytes 0x41 'A' and 0x61 'a' of two different characters.
      {"\x81\x41", "\x81\x61", false},
      // The same bytes as two single-byte characters do fold.
      {"\x41\x41", "\x61\x61", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(EqualsIgnoringCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
  }
}

}  // namespace
}  // namespace skjk::text
