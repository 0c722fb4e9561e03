#include "settings/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "text/gbk.h"

namespace skjk {
namespace {

using namespace text::literals;

TEST(ProfileReadTest, FindsValues) {
  const std::string file =
      "top=before any section\r\n"
      "  [Bbsk]  \r\n"
      "read = C:\\IN\\a.txt  \r\n"
      "\tWrite1\t=\t\"  quoted  \"\r\n"
      "write2='single'\r\n"
      "fhr=\"unbalanced'\r\n"
      "skr=\"\r\n"
      "sm=\"\"\r\n"
      ";d=1\r\n"
      "#d=2\r\n"
      "d\r\n"
      "empty=\r\n"
      "dup=first\r\n"
      "dup=second\r\n"
      "\r\n"
      "[ Fxsk ] trailing text\r\n"
      "read=fxsk\n"
      "[Bbsk]\n"
      "late=in a repeated section\n"
      "[my section]\rk=lone CR\r"
      "[Jqsk\n"
      "j=no closing bracket\n"
      "[\xb2\xe2\x5d]\n"  // trail byte 0x5D is not a "]"
      "k=gbk section\n"
      "[Last]\n"
      "end=no final line end";
  struct Case {
    const char* section;
    const char* key;
    std::string want;
  } cases[] = {
      {"Bbsk", "read", "C:\\IN\\a.txt"},
      {"bBSK", "WRITE1", "  quoted  "},
      {" Bbsk ", " write1 ", "  quoted  "},
      {"Bbsk", "write2", "single"},
      {"Bbsk", "fhr", "\"unbalanced'"},
      {"Bbsk", "skr", "\""},
      {"Bbsk", "sm", ""},
      {"Bbsk", "d", ""},  // comments are not keys, "d" has no value
      {"Bbsk", ";d", "1"},
      {"Bbsk", "empty", ""},
      {"Bbsk", "dup", "first"},
      {"Bbsk", "late", ""},  // only the first [Bbsk] is used
      {"Bbsk", "top", ""},
      {"", "top", "before any section"},
      {"Fxsk", "read", "fxsk"},
      {"my section", "k", "lone CR"},
      {"Jqsk", "j", ""},
      {"\xb2\xe2\x5d", "k", "gbk section"},
      {"Last", "end", "no final line end"},
      {"Missing", "read", ""},
      {"Bbsk", "missing", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetProfileValue(file, c.section, c.key), c.want)
        << "[" << c.section << "] " << c.key;
  }
}

TEST(ProfileReadTest, CaseFoldingLeavesGbkCharactersAlone) {
  // "\x81\x41" and "\x81\x61" are two different characters whose trail bytes
  // are "A" and "a".
  const std::string file = "[S]\n\x81\x41=upper\n\x81\x61=lower\nAbC=abc\n";
  EXPECT_EQ(GetProfileValue(file, "S", "\x81\x61"), "lower");
  EXPECT_EQ(GetProfileValue(file, "S", "\x81\x41"), "upper");
  EXPECT_EQ(GetProfileValue(file, "s", "aBc"), "abc");
}

TEST(ProfileReadTest, LongValuesAreCutWithoutSplittingACharacter) {
  const std::string zhong = "中"_gbk;
  struct Case {
    std::string value;
    size_t want_size;
  } cases[] = {
      {std::string(3000, 'a'), 2047},
      {std::string(2047, 'a'), 2047},
      {std::string(2045, 'a') + zhong + zhong, 2047},  // char ends at 2047
      {std::string(2046, 'a') + zhong, 2046},          // char would be split
      {"\"" + std::string(2100, 'a') + "\"", 2047},    // quotes, then cut
  };
  for (const Case& c : cases) {
    std::string got = GetProfileValue("[S]\r\nv=" + c.value + "\r\n", "S", "v");
    EXPECT_EQ(got.size(), c.want_size);
    // What is kept is the start of the value inside its quotes.
    const size_t quote = c.value.front() == '"' ? 1 : 0;
    EXPECT_EQ(got, c.value.substr(quote, c.want_size));
  }
}

TEST(ProfileWriteTest, ChangesOnlyWhatItMust) {
  struct Case {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    std::string value;
    std::string after;
  } cases[] = {
      {"new file", "", "Bbsk", "read", "", "[Bbsk]\r\nread=\r\n"},
      {"replace keeps the key's spelling and line end",
       "; head\n[A]\n  Read =  old \nx=1\n", "a", "READ", "new",
       "; head\n[A]\nRead=new\nx=1\n"},
      {"key without = gets a value", "[A]\r\nk\r\n", "A", "k", "v",
       "[A]\r\nk=v\r\n"},
      {"new key after the section's last line, before blank lines",
       "[A]\r\nk=v\r\n; note\r\n\r\n[B]\r\nb=1\r\n", "A", "n", "2",
       "[A]\r\nk=v\r\n; note\r\nn=2\r\n\r\n[B]\r\nb=1\r\n"},
      {"new key into an empty section", "[A]\r\n[B]\r\n", "A", "n", "2",
       "[A]\r\nn=2\r\n[B]\r\n"},
      {"new key at an end without line end", "[A]\nk=v", "A", "n", "2",
       "[A]\nk=v\r\nn=2\r\n"},
      {"new key into a section whose header ends the file without line end",
       "[A]\r\nk=v\r\n[B]", "B", "n", "2", "[A]\r\nk=v\r\n[B]\r\nn=2\r\n"},
      {"new section appended", "[A]\r\nk=v\r\n", "B", "n", "2",
       "[A]\r\nk=v\r\n[B]\r\nn=2\r\n"},
      {"new section after a file without final line end", "[A]\nk=v", "B", "n",
       "2", "[A]\nk=v\r\n[B]\r\nn=2\r\n"},
      {"only the first of repeated sections", "[A]\r\nk=1\r\n[A]\r\nn=2\r\n",
       "A", "n", "3", "[A]\r\nk=1\r\nn=3\r\n[A]\r\nn=2\r\n"},
      {"comment that looks like the key stays", "[A]\r\n;k=1\r\n", "A", "k",
       "2", "[A]\r\n;k=1\r\nk=2\r\n"},
      {"blanks around the value are not stored", "", "A", "k", "  v w  ",
       "[A]\r\nk=v w\r\n"},
      {"GBK value", "[A]\r\n", "A", "sm", "卷烟"_gbk,
       "[A]\r\nsm="_gbk + "卷烟"_gbk + "\r\n"},
  };
  for (const Case& c : cases) {
    std::string content = c.before;
    EXPECT_TRUE(SetProfileValue(&content, c.section, c.key, c.value)) << c.name;
    EXPECT_EQ(content, c.after) << c.name;
    std::string_view value(c.value);
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    value.remove_suffix(value.size() - (value.find_last_not_of(' ') + 1));
    EXPECT_EQ(GetProfileValue(content, c.section, c.key), value) << c.name;
  }
}

TEST(ProfileWriteTest, SameValueChangesNothing) {
  std::string content = "[A]\nk = v\t\n";
  EXPECT_FALSE(SetProfileValue(&content, "a", "K", " v "));
  EXPECT_EQ(content, "[A]\nk = v\t\n");
}

TEST(ProfileWriteTest, RefusesEntriesThatWouldChangeOtherLines) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"A", "k", "C:\\a\r\n[B]"},
      {"A", "k", "x\ny"},
      {"A\n", "k", "v"},
      {"A", "k\r", "v"},
      {"", "k", "v"},
      {"A]", "k", "v"},
      {"A\xb1", "k", "v"},      // "[A\xb1]": the "]" would be a trail byte
      {"A\xb1\x1a", "k", "v"},  // written without the blank: "[A\xb1]"
      {"A", "", "v"},
      {"A", "a=b", "v"},
      {"A", "[k]", "v"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(CheckProfileEntry(c.section, c.key, c.value).ok())
        << c.section << " " << c.key;
  }
  EXPECT_TRUE(CheckProfileEntry("Bbsk", "read", "C:\\a b\\c.txt").ok());
}

}  // namespace
}  // namespace skjk
