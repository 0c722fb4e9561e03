#include <string>

#include "entry/error_text.h"
#include "entry/stored_texts.h"
#include "gtest/gtest.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using text::literals::operator""_gbk;

TEST(EntryStateTest, NullPointersGiveEmptyTexts) {
  EntryState state;
  state.StoreTexts(VariantKey::kBbsk, {"a", nullptr, "c", nullptr, nullptr});
  EXPECT_EQ(state.texts(VariantKey::kBbsk),
            (StoredTexts{"a", "", "c", "", ""}));
  EXPECT_EQ(state.ServerMachine(VariantKey::kBbsk), "");
}

TEST(EntryStateTest, CallReplacesOnlyItsOwnVariant) {
  EntryState state;
  std::string host = "服务器:21436"_gbk;
  state.StoreTexts(VariantKey::kFxsk, {"1", "2", "3", "4", host.c_str()});
  state.StoreTexts(VariantKey::kJqsk, {"j", "j", "j", "j", "jq"});
  state.StoreTexts(VariantKey::kFxsk, {"x", nullptr, nullptr, nullptr, "db"});

  EXPECT_EQ(state.texts(VariantKey::kFxsk),
            (StoredTexts{"x", "", "", "", "db"}));
  EXPECT_EQ(state.ServerMachine(VariantKey::kJqsk), "jq");
  EXPECT_EQ(state.texts(VariantKey::kBbsk), StoredTexts{});
}

TEST(EntryStateTest, TextsAreCopiesThatOutliveTheArguments) {
  EntryState state;
  {
    std::string temp = "机器"_gbk;
    state.StoreTexts(VariantKey::kBbsk, {nullptr, nullptr, nullptr, nullptr,
                                         temp.c_str()});
    temp.assign("xxxxxx");
  }
  EXPECT_EQ(state.ServerMachine(VariantKey::kBbsk), "机器"_gbk);
  state.Clear();
  EXPECT_EQ(state.ServerMachine(VariantKey::kBbsk), "");
}

TEST(EntryStateTest, OwnerIsKeptAfterTheCall) {
  EntryState state;
  EXPECT_EQ(state.owner(), 0u);
  state.AdoptOwner(0x1234);
  state.AdoptOwner(0x1234);
  EXPECT_EQ(state.owner(), 0x1234u);
  state.AdoptOwner(0x99);
  EXPECT_EQ(state.owner(), 0x99u);
}

TEST(GeneralErrorTextTest, FullStopAfterCharactersSortingAfterDot) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"Unable to write to C:\\a\\params.cfg", "Unable to write to C:\\a\\params.cfg."},
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
