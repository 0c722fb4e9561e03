#include "documents/window_sets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skjk {
namespace {

struct Request {
  std::string provider;
  int packet_size;
};

constexpr int kAll = Connection::kAllRecords;
// The customer window's sets: one paged master set, the shared void sets.
constexpr WindowSetsRules kRules{{{"dsp_jqsk1", kAll},
                                  {"dsp_bbbf1", kAll},
                                  {"dsp_jqsk3", 10},
                                  {"dsp_bbbf3", kAll}}};

TEST(WindowSetsTest, SetsTakeProvidersPacketsAndNamesFromTheirRules) {
  const char* line_fields[] = {"qry_jqsk2", "qry_bbbf2", "qry_jqsk4",
                               "qry_bbbf4"};
  std::vector<Request> requests;
  WindowSets sets(kRules,
                  [&](std::string_view provider, int packet_size, bool,
                      const std::vector<std::string>&, RecordReceiver*) {
                    requests.push_back({std::string(provider), packet_size});
                    return Status::Error("offline");
                  });
  for (int v = 0; v < 4; ++v) {
    View view = static_cast<View>(v);
    DocumentSet& master = sets.master(view);
    EXPECT_EQ(master.name(), "ClientDataSet" + std::to_string(2 * v + 1));
    EXPECT_EQ(sets.detail(view).name(),
              "ClientDataSet" + std::to_string(2 * v + 2));
    EXPECT_EQ(master.provider(), kRules[v].provider);
    EXPECT_EQ(sets.detail(view).line_field(), line_fields[v]);
    EXPECT_EQ(master.packet_size(), kRules[v].packet_size);
    EXPECT_FALSE(master.active());
    EXPECT_FALSE(master.Open({"2002-05-01", "2002-08-01"}).ok());
    EXPECT_EQ(sets.ByName(master.name()), &master);
    EXPECT_EQ(sets.MasterByName(master.name()), &master);
    EXPECT_EQ(sets.ByName(sets.detail(view).name()), &sets.detail(view));
  }
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2].provider, "dsp_jqsk3");
  EXPECT_EQ(requests[2].packet_size, 10);
  EXPECT_EQ(sets.ByName("clientdataset8"), &sets.detail(View::kDoneVoid));
  EXPECT_EQ(sets.MasterByName("ClientDataSet2"), nullptr);
  EXPECT_EQ(sets.ByName("ClientDataSet9"), nullptr);
}

TEST(WindowSetsTest, VoidSetsOfEveryWindowLackCustomerFields) {
  WindowSets sets(
      kRules, [](std::string_view, int, bool, const std::vector<std::string>&,
                 RecordReceiver*) { return Status::Error("unused"); });
  for (View view : {View::kOpenVoid, View::kDoneVoid}) {
    for (const char* name : {"KHDM00", "DWDZ00", "KPRQ00"}) {
      EXPECT_EQ(sets.master(view).FieldIndex(name), -1) << name;
    }
    EXPECT_GE(sets.master(view).FieldIndex("DWDM00"), 0);
    EXPECT_EQ(sets.detail(view).FieldIndex("SE0000"), -1);
  }
  EXPECT_GE(sets.master(View::kOpenSales).FieldIndex("KHDM00"), 0);
  EXPECT_GE(sets.detail(View::kDoneSales).FieldIndex("SE0000"), 0);
}

}  // namespace
}  // namespace skjk
