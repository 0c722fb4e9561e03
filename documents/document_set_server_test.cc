// Document sets against a real skjk-server on loopback with a SQLite file:
// the sample database (2024) plus documents of our own in 1999.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/transaction.h"
#include "documents/document_set.h"
#include "documents/window_sets.h"
#include "testing/backends.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk {
namespace {

constexpr int kAll = Connection::kAllRecords;
// The sets of the three windows: head office, visit sales, customer.
constexpr WindowSetsRules kBbsk{{{"dsp_bbsk1", kAll},
                                 {"dsp_bbbf1", kAll},
                                 {"dsp_bbsk3", kAll},
                                 {"dsp_bbbf3", kAll}}};
constexpr WindowSetsRules kFxsk{{{"dsp_fxsk1", kAll},
                                 {"dsp_bbbf1", kAll},
                                 {"dsp_fxsk3", 10},
                                 {"dsp_bbbf3", kAll}}};
constexpr WindowSetsRules kJqsk{{{"dsp_jqsk1", kAll},
                                 {"dsp_bbbf1", kAll},
                                 {"dsp_jqsk3", 10},
                                 {"dsp_bbbf3", kAll}}};

using text::literals::operator""_gbk;

std::string Day(int month, int day) {
  char b[16];
  std::snprintf(b, sizeof b, "1999-%02d-%02d", month, day);
  return b;
}

// `count` invoiced visit-sales documents in `month` of 1999, numbered from
// `first`, each with two lines (one of them invoiced).
void AddVisitSales(std::vector<std::string>* sql, int month, int first,
                   int count) {
  for (int i = 0; i < count; ++i) {
    std::string dhao = std::to_string(first + i);
    sql->push_back(
        "INSERT INTO XSTFXPS1 (DHAO00,FPLB00,YWRQ00,YWRY00,XSQRRY,KHDM00) "
        "VALUES (" +
        dhao + ",'01','" + Day(month, 1 + i % 28) + "','Y1','Q1','K999T')");
    sql->push_back(
        "INSERT INTO XSTFXPS2 (DHAO00,SPDM00,DJIA00,SL0000,JE0000,"
        "SE0000,FPBBH0,FPHAO0) VALUES (" +
        dhao + ",'T9990001',100,2,200,34,'B1','F" + dhao + "')");
    sql->push_back(
        "INSERT INTO XSTFXPS2 (DHAO00,SPDM00,DJIA00,SL0000,JE0000,"
        "SE0000) VALUES (" +
        dhao + ",'T9990002',50,1,50,8.5)");
  }
}

// Every case runs on both database backends, each with one server for all
// cases, started by the first.
class DocumentSetServerTest
    : public ::testing::TestWithParam<testing::Backend> {
 protected:
  static void StartServer(testing::Backend backend) {
    auto s = testing::ServerProcess::Start({.backend = backend,
                                            .sample_documents = 60,
                                            .seed = 3,
                                            .sample_lines = -1});
    ASSERT_TRUE(s.ok()) << s.status().message();
    testing::ServerProcess* server = s->get();
    servers_[backend] = std::move(s).value();

    std::vector<std::string> sql = {
        "INSERT INTO GSTKHGL0 (KHDM00,KHMC00,DWDZ00,SWDJH0,KHYH00,YHZH00) "
        "VALUES "
        "('K999T','一二三四五六七八九十一二三四五六七八九十一二三四五六',"
        "'昆明市','530100','工商银行','6222')",
        "INSERT INTO GSTJYGL0 VALUES ('T9990001','红塔山','硬盒','条')",
        "INSERT INTO GSTJYGL0 VALUES ('T9990002','云烟','软盒','条')",
        // A head-office document without lines on 1999-06-01.
        "INSERT INTO XSTXSFP1 (GSDW00,DHAO00,YWRQ00,DWDM00,DWMC00) VALUES "
        "('G1',990001,'1999-06-01','K999T','无明细')",
        // Customer documents: one not invoiced with a line, one invoiced.
        "INSERT INTO XSTJQSK1 (DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00,"
        "DWDZ00) VALUES (980001,'01','1999-07-02','Y1','K999T','客户','地址')",
        "INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SPMC00,DJIA00,SL0000,JE0000,"
        "SE0000) VALUES (980001,'T9990001','红塔山',100,3,300,51)",
        "INSERT INTO XSTJQSK1 (DHAO00,FPBBH0,FPHAO0,KPRQ00,FPLB00,YWRQ00,"
        "KHDM00) VALUES (980002,'123456789012','0000001','1999-07-05',"
        "'01','1999-07-03','K999T')",
    };
    AddVisitSales(&sql, 1, 10001, 25);  // January: 25
    AddVisitSales(&sql, 2, 20001, 20);  // February: exactly 20
    AddVisitSales(&sql, 3, 30001, 10);  // March: exactly one packet
    Status filled = server->Fill(sql);
    ASSERT_TRUE(filled.ok()) << filled.message();
  }
  static void TearDownTestSuite() { servers_.clear(); }

  void SetUp() override {
    SKJK_REQUIRE_BACKEND(GetParam());
    if (servers_.count(GetParam()) == 0) {
      ASSERT_NO_FATAL_FAILURE(StartServer(GetParam()));
    }
    server_ = servers_[GetParam()].get();
    ASSERT_NE(server_, nullptr);
    connection_.set_machine_name(server_->machine());
  }

  static std::map<testing::Backend, std::unique_ptr<testing::ServerProcess>>
      servers_;
  testing::ServerProcess* server_ = nullptr;
  Connection connection_;
};

std::map<testing::Backend, std::unique_ptr<testing::ServerProcess>>
    DocumentSetServerTest::servers_;

TEST_P(DocumentSetServerTest, EveryProviderLayoutIsAccepted) {
  for (const WindowSetsRules* rules : {&kBbsk, &kFxsk, &kJqsk}) {
    WindowSets sets(*rules, RequestsOver(connection_));
    for (View view : {View::kOpenSales, View::kOpenVoid, View::kDoneSales,
                      View::kDoneVoid}) {
      DocumentSet& set = sets.master(view);
      SCOPED_TRACE(set.provider());
      Status s = set.Open({"1999-01-01", "2024-12-31"});
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_TRUE(set.detail()->active());
      EXPECT_GT(set.RecordCount(), 0);
      // Every record's lines belong to it.
      for (set.First(); !set.Eof(); set.Next()) {
        double dhao = *set.AsFloat("DHAO00");
        DetailSet& lines = *set.detail();
        for (lines.First(); !lines.Eof(); lines.Next()) {
          ASSERT_EQ(*lines.AsFloat("DHAO00"), dhao);
        }
      }
    }
  }
}

TEST_P(DocumentSetServerTest, PacketsOfTenThroughTheServer) {
  struct Case {
    const char* label;
    std::string from, to;
    std::vector<int> packets;  // Open, then each NextPacket
    int total;
    int requests_to_exhaust;  // packets with a request
  };
  const Case cases[] = {
      {"25 documents", Day(1, 1), Day(1, 31), {10, 10, 5, 0}, 25, 3},
      {"exactly 20", Day(2, 1), Day(2, 28), {10, 10, 0, 0}, 20, 3},
      {"exactly 10", Day(3, 1), Day(3, 31), {10, 0, 0}, 10, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WindowSets sets(kFxsk, RequestsOver(connection_));
    DocumentSet& set = sets.master(View::kDoneSales);
    ASSERT_EQ(set.name(), "ClientDataSet5");
    ASSERT_TRUE(set.Open({c.from, c.to}).ok());
    EXPECT_EQ(set.RecordCount(), c.packets[0]);
    for (size_t i = 1; i < c.packets.size(); ++i) {
      EXPECT_EQ(set.exhausted(), static_cast<int>(i) >= c.requests_to_exhaust)
          << "before packet " << i;
      Result<int> n = set.NextPacket();
      ASSERT_TRUE(n.ok()) << n.status().message();
      EXPECT_EQ(*n, c.packets[i]) << "packet " << i;
    }
    EXPECT_TRUE(set.exhausted());
    ASSERT_EQ(set.RecordCount(), c.total);
    // Packets continue where the last one ended: every document once, in
    // order, each with its two lines.
    std::vector<double> numbers;
    for (set.First(); !set.Eof(); set.Next()) {
      numbers.push_back(*set.AsFloat("DHAO00"));
      EXPECT_EQ(set.detail()->RecordCount(), 2);
    }
    ASSERT_EQ(numbers.size(), static_cast<size_t>(c.total));
    for (size_t i = 1; i < numbers.size(); ++i) {
      EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
    }
  }
}

TEST_P(DocumentSetServerTest, VoidSetOfTheCustomerWindowLacksCustomerFields) {
  WindowSets sets(kJqsk, RequestsOver(connection_));
  DocumentSet& void_set = sets.master(View::kOpenVoid);
  ASSERT_TRUE(void_set.Open({"2024-01-01", "2024-12-31"}).ok());
  ASSERT_GT(void_set.RecordCount(), 0);
  EXPECT_EQ(void_set.FieldIndex("KHDM00"), -1);
  EXPECT_EQ(void_set.AsString("KHDM00").status().message(),
            "Field 'KHDM00' not found");
  EXPECT_EQ(void_set.AsString("KPRQ00").status().message(),
            "Field 'KPRQ00' not found");
  EXPECT_TRUE(void_set.AsString("DWDM00").ok());
  EXPECT_EQ(sets.detail(View::kOpenVoid).FieldIndex("SE0000"), -1);

  // The customer's own sets carry them.
  DocumentSet& done = sets.master(View::kDoneSales);
  ASSERT_TRUE(done.Open({Day(7, 1), Day(7, 31)}).ok());
  ASSERT_EQ(done.RecordCount(), 1);
  EXPECT_EQ(*done.AsString("KHDM00"), "K999T");
  EXPECT_EQ(*done.AsString("KPRQ00"), "1999-07-05");
  EXPECT_EQ(*done.AsString("FPBBH0"), "123456789012");  // text 12 here
  EXPECT_EQ(done.detail()->RecordCount(), 0);
  DocumentSet& open = sets.master(View::kOpenSales);
  ASSERT_TRUE(open.Open({Day(7, 1), Day(7, 31)}).ok());
  ASSERT_EQ(open.RecordCount(), 1);
  EXPECT_EQ(*open.detail()->AsFloat("SE0000"), 51);
  EXPECT_EQ(*open.detail()->AsString("SPMC00"), "红塔山"_gbk);
}

TEST_P(DocumentSetServerTest, TextsArriveInGbkCutToTheirWidth) {
  // The customer name has 26 characters (52 bytes); DWMC00 holds 50.
  WindowSets sets(kFxsk, RequestsOver(connection_));
  DocumentSet& set = sets.master(View::kDoneSales);
  ASSERT_TRUE(set.Open({Day(3, 1), Day(3, 31)}).ok());
  ASSERT_GT(set.RecordCount(), 0);
  EXPECT_EQ(*set.AsString("DWMC00"),
            "一二三四五六七八九十一二三四五六七八九十一二三四五"_gbk);
  EXPECT_EQ(*set.AsString("YWRQ00"), "1999-03-01");
  EXPECT_EQ(*set.detail()->AsString("SPMC00"), "红塔山"_gbk);
  EXPECT_EQ(*set.detail()->AsString("FPHAO0"), "F30001");
}

TEST_P(DocumentSetServerTest, EmptyRangeAndDocumentWithoutLines) {
  WindowSets sets(kBbsk, RequestsOver(connection_));
  DocumentSet& set = sets.master(View::kOpenSales);
  int opened = -1;
  set.set_after_open([&](DocumentSet& s) { opened = s.RecordCount(); });
  ASSERT_TRUE(set.Open({"1998-01-01", "1998-12-31"}).ok());
  EXPECT_EQ(opened, 0);
  EXPECT_TRUE(set.Eof());
  EXPECT_EQ(set.detail()->RecordCount(), 0);

  ASSERT_TRUE(set.Open({Day(6, 1), Day(6, 1)}).ok());  // one day
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(*set.AsInteger("DHAO00"), 990001);
  EXPECT_EQ(*set.AsString("DWMC00"), "无明细"_gbk);
  EXPECT_TRUE(set.detail()->active());
  EXPECT_EQ(set.detail()->RecordCount(), 0);
  EXPECT_TRUE(set.detail()->Eof());
}

TEST_P(DocumentSetServerTest, RefusedRequestLeavesTheSetClosed) {
  WindowSets sets(kBbsk, RequestsOver(connection_));
  DocumentSet& set = sets.master(View::kOpenSales);
  ASSERT_TRUE(set.Open({"2024-01-01", "2024-12-31"}).ok());
  Status s = set.Open({"2024-13-01", "2024-12-31"});
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("QSRQ"), std::string::npos) << s.message();
  EXPECT_FALSE(set.active());
  EXPECT_EQ(set.RecordCount(), 0);

  // No server at all: the system's message, still closed.
  Connection nowhere;
  nowhere.set_machine_name("127.0.0.1:1");
  WindowSets offline(kBbsk, RequestsOver(nowhere));
  Status o =
      offline.master(View::kOpenSales).Open({"2024-01-01", "2024-12-31"});
  EXPECT_FALSE(o.ok());
  EXPECT_FALSE(o.message().empty());
  EXPECT_FALSE(offline.master(View::kOpenSales).active());
}

TEST_P(DocumentSetServerTest, AWriteCommittedOnTheConnectionShowsInTheSets) {
  WindowSets sets(kBbsk, RequestsOver(connection_));
  {
    Transaction write(&connection_);
    ASSERT_TRUE(write.Begin().ok());
    ASSERT_TRUE(write
                    .Execute("UPDATE XSTXSFP1 SET FPBBH0='已改' WHERE "
                             "DHAO00=990001"_gbk)
                    .ok());
    ASSERT_TRUE(write.Commit().ok());
  }
  DocumentSet& set = sets.master(View::kOpenSales);
  ASSERT_TRUE(set.Open({Day(6, 1), Day(6, 1)}).ok());
  EXPECT_EQ(*set.AsString("FPBBH0"), "已改"_gbk);
}

// Each provider keeps its own place: opening the set of another view in
// between must not stop the invoiced sales set from fetching on.
TEST_P(DocumentSetServerTest, NextPacketContinuesAfterAnotherViewWasOpened) {
  WindowSets sets(kFxsk, RequestsOver(connection_));
  DocumentSet& done = sets.master(View::kDoneSales);
  ASSERT_TRUE(done.Open({Day(1, 1), Day(1, 31)}).ok());
  ASSERT_TRUE(sets.master(View::kOpenSales).Open({Day(1, 1), Day(1, 31)}).ok());
  Result<int> n = done.NextPacket();
  ASSERT_TRUE(n.ok()) << n.status().message();
  EXPECT_EQ(*n, 10);
  EXPECT_EQ(*done.NextPacket(), 5);
  EXPECT_EQ(done.RecordCount(), 25);
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentSetServerTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

}  // namespace
}  // namespace skjk
