#include <string>

#include "entry/stored_texts.h"
#include "gtest/gtest.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using text::literals::operator""_gbk;

TEST(EntryStateTest, NullPointersGiveEmptyTexts) {
  EntryState state;
  state.StoreTexts(BusinessLineKey::kBbsk,
                   {"a", nullptr, "c", nullptr, nullptr});
  EXPECT_EQ(state.texts(BusinessLineKey::kBbsk),
            (StoredTexts{"a", "", "c", "", ""}));
  EXPECT_EQ(state.ServerMachine(BusinessLineKey::kBbsk), "");
}

TEST(EntryStateTest, CallReplacesOnlyItsOwnBusinessLine) {
  EntryState state;
  std::string host = "服务器:21436"_gbk;
  state.StoreTexts(BusinessLineKey::kFxsk, {"1", "2", "3", "4", host.c_str()});
  state.StoreTexts(BusinessLineKey::kJqsk, {"j", "j", "j", "j", "jq"});
  state.StoreTexts(BusinessLineKey::kFxsk,
                   {"x", nullptr, nullptr, nullptr, "db"});

  EXPECT_EQ(state.texts(BusinessLineKey::kFxsk),
            (StoredTexts{"x", "", "", "", "db"}));
  EXPECT_EQ(state.ServerMachine(BusinessLineKey::kJqsk), "jq");
  EXPECT_EQ(state.texts(BusinessLineKey::kBbsk), StoredTexts{});
}

TEST(EntryStateTest, TextsAreCopiesThatOutliveTheArguments) {
  EntryState state;
  {
    std::string temp = "机器"_gbk;
    state.StoreTexts(BusinessLineKey::kBbsk,
                     {nullptr, nullptr, nullptr, nullptr, temp.c_str()});
    temp.assign("xxxxxx");
  }
  EXPECT_EQ(state.ServerMachine(BusinessLineKey::kBbsk), "机器"_gbk);
  state.Clear();
  EXPECT_EQ(state.ServerMachine(BusinessLineKey::kBbsk), "");
}

}  // namespace
}  // namespace skjk
