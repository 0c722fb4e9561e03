#include "text/error_text.h"

#include <string>

#include "gtest/gtest.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using text::literals::operator""_gbk;

TEST(GeneralErrorTextTest, FullStopAfterCharactersSortingAfterDot) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"Unable to write to C:\\a\\params.cfg",
       "Unable to write to C:\\a\\params.cfg."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"(x)", "(x)"},
      {"tail -", "tail -"},
      {"value 7", "value 7."},
      {"/", "/."},  // '/' is 0x2F, one after '.'
      // Chinese characters and full-width signs sort after '.'.
      {"无法建立数据库连接"_gbk, "无法建立数据库连接."_gbk},
      {"文件读入发生意外错误！"_gbk, "文件读入发生意外错误！."_gbk},
      // A two-byte character whose trail byte is an ASCII letter ('@' 0x40).
      {"\x81\x40", "\x81\x40."},
      // A lone lead byte at the end counts as a character of its own.
      {"ab\x81", "ab\x81."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GeneralErrorText(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace skjk
