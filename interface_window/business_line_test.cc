#include "interface_window/business_line.h"

#include <gtest/gtest.h>

#include <string>

namespace skjk {
namespace {

// Each line's descriptor against the table of differences between the three
// windows, value by value.
TEST(BusinessLineTest, EachLineHasItsOwnNamesProvidersAndPackets) {
  constexpr int kAll = Connection::kAllRecords;
  struct Case {
    BusinessLineKey key;
    const char* section;
    const char* window_class;
    const char* caption;
    const char* dialog_title;
    const char* providers[4];
    int packets[4];
  } cases[] = {
      {BusinessLineKey::kBbsk,
       "Bbsk",
       "TFrmBbsk",
       "本部税控机接口",
       "本部税控机接口参数设置",
       {"dsp_bbsk1", "dsp_bbbf1", "dsp_bbsk3", "dsp_bbbf3"},
       {kAll, kAll, kAll, kAll}},
      {BusinessLineKey::kFxsk,
       "Fxsk",
       "TFrmFxsk",
       "税控机接口",
       "税控机接口参数设置",
       {"dsp_fxsk1", "dsp_bbbf1", "dsp_fxsk3", "dsp_bbbf3"},
       {kAll, kAll, 10, kAll}},
      {BusinessLineKey::kJqsk,
       "Jqsk",
       "TFrmJqsk",
       "vu税控机接口",
       "vu税控机接口参数设置",
       {"dsp_jqsk1", "dsp_bbbf1", "dsp_jqsk3", "dsp_bbbf3"},
       {kAll, kAll, 10, kAll}},
  };
  for (const Case& c : cases) {
    const BusinessLine& v = GetBusinessLine(c.key);
    SCOPED_TRACE(c.section);
    EXPECT_EQ(v.key, c.key);
    EXPECT_EQ(v.settings().section, c.section);
    EXPECT_EQ(v.settings().title, c.dialog_title);
    EXPECT_EQ(v.window_class, c.window_class);
    EXPECT_EQ(v.caption, c.caption);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(v.sets[i].provider, c.providers[i]) << i;
      EXPECT_EQ(v.sets[i].packet_size, c.packets[i]) << i;
    }
  }
}

}  // namespace
}  // namespace skjk
