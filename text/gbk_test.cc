#include "text/gbk.h"

#include <gtest/gtest.h>

namespace skjk::text {
namespace {

using namespace literals;

TEST(GbkTest, RoundTripsThroughUtf8AndUtf16) {
  const std::string gbk = "本部税控机接口 vu税控机 记录数=12"_gbk;
  EXPECT_EQ(gbk.size(), 33u);  // 15 Chinese characters, 3 ASCII
  EXPECT_EQ(GbkToUtf8(gbk), "本部税控机接口 vu税控机 记录数=12");
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(gbk)), gbk);
  EXPECT_EQ(GbkToUtf16(gbk), u"本部税控机接口 vu税控机 记录数=12");
  EXPECT_EQ(Utf16ToGbk(GbkToUtf16(gbk)), gbk);
}

TEST(GbkTest, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(Utf8ToGbk("a\xff"
                      "b"),
            "a?b");
  EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(GbkTest, TruncateNeverSplitsACharacter) {
  struct Case {
    std::string in;
    size_t max;
    std::string out;
  } cases[] = {
      {"ab", 5, "ab"},
      {"abc", 2, "ab"},
      {"税控机"_gbk, 6, "税控机"_gbk},
      {"税控机"_gbk, 5, "税控"_gbk},
      {"a税控"_gbk, 2, "a"},
      {"a税控"_gbk, 3, "a税"_gbk},
      {"", 0, ""},
      {"税"_gbk, 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TruncateGbk(c.in, c.max), c.out) << c.max;
  }
}

}  // namespace
}  // namespace skjk::text
