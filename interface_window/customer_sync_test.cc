// The customer window's copy of its documents and lines when it is shown,
// against a real skjk-server with a database of its own per test; the test
// reads the database file itself to see what was committed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/env.h"
#include "interface_window/interface_window_model.h"
#include "testing/recording_display.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using namespace text::literals;
using ::testing::IsEmpty;

const BusinessLine& kJqsk = GetBusinessLine(BusinessLineKey::kJqsk);

// The display keeps what the show step leaves on the screen; its
// `on_process` runs when the window processes its messages, just before the
// copy starts.
using testing::RecordingDisplay;

// Everything in the two tables of the customer window, in a fixed order.
const std::string kBothTables =
    "SELECT 'J1',* FROM XSTJQSK1 UNION ALL SELECT 'J2',DHAO00,SPDM00,SPMC00,"
    "SPGG00,JYDW00,DJIA00,FXSL00,SL0000,THSL00,JE0000,SE0000,RBDH00,NULL,NULL,"
    "NULL FROM XSTJQSK2 ORDER BY 1,2,3,4";

// Rows of the delivery data; texts are SQL literals ("NULL" for none).
std::string Customer(const std::string& code, const std::string& name) {
  return "INSERT INTO GSTKHGL0 VALUES ('" + code + "', " + name +
         ", NULL, NULL, '地址', '330100', '银行', '001')";
}
std::string Document(int number, const std::string& customer,
                     const std::string& kind = "'Z'") {
  return "INSERT INTO XSTFXPS1 (DHAO00, FPLB00, YWRQ00, YWRY00, KHDM00,"
         " CKDM00, SKBJ00) VALUES (" +
         std::to_string(number) + ", " + kind + ", '2002-08-03', 'Y1', '" +
         customer + "', '01', '0')";
}
std::string Line(int number, const std::string& goods, double quantity,
                 const std::string& invoice = "NULL") {
  return "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, DJIA00, SL0000, JE0000,"
         " FPHAO0) VALUES (" +
         std::to_string(number) + ", '" + goods + "', 10, " +
         std::to_string(quantity) + ", " + std::to_string(10 * quantity) +
         ", " + invoice + ")";
}
std::string Goods(const std::string& code) {
  return "INSERT INTO GSTJYGL0 VALUES ('" + code + "', '红塔山', '硬盒', '条')";
}

class CustomerSyncTest : public ::testing::Test {
 protected:
  void SetUp() override { StartServer(); }

  // A fresh server on an empty database.
  void StartServer() {
    server_.reset();
    auto server = testing::ServerProcess::Start();
    ASSERT_TRUE(server.ok()) << server.status().message();
    server_ = std::move(*server);
  }

  void Fill(const std::vector<std::string>& statements) {
    Status s = server_->Fill(statements);
    ASSERT_TRUE(s.ok()) << s.message();
  }

  // Shows a new customer window against the server, as the host does each
  // time it opens the window.
  InterfaceWindowModel& Show() {
    display_ = RecordingDisplay();
    // A query covers the documents' month.
    display_.start = std::chrono::year{2002} / 8 / 1;
    display_.end = std::chrono::year{2002} / 8 / 31;
    window_ = std::make_unique<InterfaceWindowModel>(kJqsk, Env::Default(),
                                                     &display_);
    window_->Connect(server_->machine());
    return *window_;
  }

  std::string Select(const std::string& sql) { return server_->Select(sql); }

  // The copy ended with a commit: nothing shown, busy display cleared.
  void ExpectCommitted() {
    EXPECT_EQ(display_.status[kBusyPanel], "");
    EXPECT_FALSE(display_.busy_cursor);
    EXPECT_THAT(display_.messages, IsEmpty());
    EXPECT_THAT(display_.errors, IsEmpty());
  }

  std::unique_ptr<testing::ServerProcess> server_;
  RecordingDisplay display_;
  std::unique_ptr<InterfaceWindowModel> window_;
};

TEST_F(CustomerSyncTest, CopiesTheDocumentAndItsLinesWithTheirValues) {
  Fill({
      "INSERT INTO GSTKHGL0 VALUES ('K9', 'vediruza商贸', NULL, '开票地址',"
      " '地址', '330100', '银行', '001')",
      "INSERT INTO GSTJYGL0 VALUES ('G1', '红塔山', '硬盒', '条')",
      "INSERT INTO GSTJYGL0 VALUES ('G2', '云烟', '软盒', '件')",
      "INSERT INTO XSTFXPS1 VALUES (3001, 'Z', '2002-08-03', 'Y1', 'Q1', 'K9',"
      " '07', '1')",
      // Copied: quantity other than 0, also when negative or invoiced.
      "INSERT INTO XSTFXPS2 VALUES (3001, 'G1', 100, 3, 2, 1, 200, 34, 'R1',"
      " NULL, NULL)",
      "INSERT INTO XSTFXPS2 VALUES (3001, 'G2', 50, 0, -1, 0, -50, -8.5, 'R2',"
      " '0100000001', '00000042')",
      // Not copied: quantity 0, goods unknown.
      "INSERT INTO XSTFXPS2 VALUES (3001, 'G2', 50, 1, 0, 1, 0, 0, 'R3', NULL,"
      " NULL)",
      "INSERT INTO XSTFXPS2 VALUES (3001, 'G9', 50, 1, 1, 0, 50, 8.5, 'R4',"
      " NULL, NULL)",
  });
  Show();
  ExpectCommitted();
  // Name for invoicing empty: the name; address for invoicing given.
  EXPECT_EQ(Select("SELECT DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00,DWDZ00,"
                   "SWDJH0,KHYH00,YHZH00,CKDM00,SKBJ00,FPBBH0,FPHAO0,KPRQ00 "
                   "FROM XSTJQSK1"),
            "3001|Z|2002-08-03|Y1|K9|vediruza商贸|开票地址|330100|银行|001|07|"
            "1|-|-|-");
  EXPECT_EQ(Select("SELECT DHAO00,SPDM00,SPMC00,SPGG00,JYDW00,DJIA00,FXSL00,"
                   "SL0000,THSL00,JE0000,SE0000,RBDH00 FROM XSTJQSK2 "
                   "ORDER BY SPDM00"),
            "3001|G1|红塔山|硬盒|条|100.0|3.0|2.0|1.0|200.0|34.0|R1;"
            "3001|G2|云烟|软盒|件|50.0|0.0|-1.0|0.0|-50.0|-8.5|R2");
}

TEST_F(CustomerSyncTest, NameAndAddressForInvoicingFallBackWhenEmpty) {
  struct Case {
    const char* kpmc;  // SQL literals of the customer's four columns
    const char* kpdz;
    const char* dwdz;
    const char* expected;  // DWMC00|DWDZ00 copied
  } cases[] = {
      {"'开票名'", "'开票址'", "'地址'", "开票名|开票址"},
      {"NULL", "NULL", "'地址'", "vediruza店|地址"},
      {"''", "''", "'地址'", "vediruza店|地址"},
      {"'开票名'", "NULL", "NULL", "开票名|-"},
  };
  std::vector<std::string> rows = {Goods("G1")};
  for (int i = 0; i < std::ssize(cases); ++i) {
    const std::string code = "K" + std::to_string(i);
    rows.push_back(
        "INSERT INTO GSTKHGL0 (KHDM00, KHMC00, KPMC00, KPDZ00,"
        " DWDZ00) VALUES ('" +
        code + "', 'vediruza店', " + cases[i].kpmc + ", " + cases[i].kpdz +
        ", " + cases[i].dwdz + ")");
    rows.push_back(Document(3000 + i, code));
    rows.push_back(Line(3000 + i, "G1", 1));
  }
  Fill(rows);
  Show();
  ExpectCommitted();
  for (int i = 0; i < std::ssize(cases); ++i) {
    SCOPED_TRACE(cases[i].expected);
    EXPECT_EQ(Select("SELECT DWMC00,DWDZ00 FROM XSTJQSK1 WHERE DHAO00=" +
                     std::to_string(3000 + i)),
              cases[i].expected);
  }
}

// Each case is a customer with one document; all go into one database and
// one showing copies those that qualify.
TEST_F(CustomerSyncTest, WhichDocumentsAreCopied) {
  struct Case {
    const char* name;
    const char* customer;  // SQL literal; nullptr: no such customer
    const char* kind;
    std::vector<std::pair<double, const char*>> lines;  // quantity, FPHAO0
    const char* copied;  // XSTJQSK1 rows|XSTJQSK2 rows of the document
  } cases[] = {
      {"qualifies", "'vediruza商贸'", "'Z'", {{2, "NULL"}}, "1|1"},
      {"name is just the prefix", "'vediruza'", "'Z'", {{2, "NULL"}}, "1|1"},
      {"name with characters before it",
       "'xvediruza商贸'",
       "'Z'",
       {{2, "NULL"}},
       "0|0"},
      {"capital letter", "'Vediruza商贸'", "'Z'", {{2, "NULL"}}, "0|0"},
      {"name shorter than the prefix",
       "'vediruz'",
       "'Z'",
       {{2, "NULL"}},
       "0|0"},
      {"no name", "NULL", "'Z'", {{2, "NULL"}}, "0|0"},
      {"customer unknown", nullptr, "'Z'", {{2, "NULL"}}, "0|0"},
      {"other invoice kind", "'vediruza商贸'", "'P'", {{2, "NULL"}}, "0|0"},
      {"lower-case invoice kind",
       "'vediruza商贸'",
       "'z'",
       {{2, "NULL"}},
       "0|0"},
      {"no invoice kind", "'vediruza商贸'", "NULL", {{2, "NULL"}}, "0|0"},
      {"every quantity 0",
       "'vediruza商贸'",
       "'Z'",
       {{0, "NULL"}, {0, "NULL"}},
       "0|0"},
      {"every line invoiced",
       "'vediruza商贸'",
       "'Z'",
       {{2, "'00000001'"}, {1, "'00000002'"}},
       "0|0"},
      {"empty invoice number is none",
       "'vediruza商贸'",
       "'Z'",
       {{2, "''"}},
       "1|1"},
      {"no single line meets every condition",
       "'vediruza商贸'",
       "'Z'",
       {{0, "NULL"}, {2, "'00000001'"}},
       "0|0"},
      // The document's other lines with a quantity come along, invoiced or
      // not.
      {"one line of several qualifies",
       "'vediruza商贸'",
       "'Z'",
       {{0, "NULL"}, {2, "'00000001'"}, {1, "NULL"}},
       "1|2"},
      // Equal rows of one document (one per line) are copied once.
      {"several qualifying lines",
       "'vediruza商贸'",
       "'Z'",
       {{1, "NULL"}, {2, "NULL"}, {3, "NULL"}},
       "1|3"},
      {"no lines", "'vediruza商贸'", "'Z'", {}, "0|0"},
  };
  std::vector<std::string> rows = {Goods("G1")};
  for (int i = 0; i < std::ssize(cases); ++i) {
    const Case& c = cases[i];
    const std::string code = "K" + std::to_string(i);
    if (c.customer) rows.push_back(Customer(code, c.customer));
    rows.push_back(Document(3000 + i, code, c.kind));
    for (auto [quantity, invoice] : c.lines) {
      rows.push_back(Line(3000 + i, "G1", quantity, invoice));
    }
  }
  Fill(rows);
  Show();
  ExpectCommitted();
  for (int i = 0; i < std::ssize(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string n = std::to_string(3000 + i);
    EXPECT_EQ(
        Select("SELECT (SELECT COUNT(*) FROM XSTJQSK1 WHERE DHAO00=" + n +
               "), (SELECT COUNT(*) FROM XSTJQSK2 WHERE DHAO00=" + n + ")"),
        cases[i].copied);
  }
}

TEST_F(CustomerSyncTest, NothingNewCopiesNothing) {
  // An empty database: both statements insert nothing and are committed.
  Show();
  ExpectCommitted();
  EXPECT_EQ(Select(kBothTables), "");

  Fill({Customer("K9", "'vediruza商贸'"), Goods("G1"), Goods("G2"),
        Document(3001, "K9"), Line(3001, "G1", 2)});
  Show();
  ExpectCommitted();
  const std::string copied = Select(kBothTables);
  ASSERT_THAT(copied, ::testing::StartsWith("J1|3001|"));

  // Nothing that changes later in the delivery data reaches the copy: a
  // document is copied once, and a document with lines gets no further ones.
  Fill({"UPDATE GSTKHGL0 SET KPMC00='新名称', DWDZ00='新地址'",
        "UPDATE XSTFXPS1 SET YWRY00='Y2'", Line(3001, "G2", 5)});
  for (int showing = 0; showing < 2; ++showing) {
    SCOPED_TRACE(showing);
    Show();
    ExpectCommitted();
    EXPECT_EQ(Select(kBothTables), copied);
  }
}

TEST_F(CustomerSyncTest, LinesMissingAtFirstAreCopiedAtALaterShowing) {
  Fill({Customer("K9", "'vediruza商贸'"), Document(3001, "K9"),
        Line(3001, "G1", 2), Line(3001, "G2", 3)});
  // Goods unknown: the document is copied without lines.
  Show();
  ExpectCommitted();
  EXPECT_EQ(Select("SELECT DHAO00 FROM XSTJQSK1"), "3001");
  EXPECT_EQ(Select("SELECT COUNT(*) FROM XSTJQSK2"), "0");

  // One of the goods known now: its line comes along.
  Fill({Goods("G1")});
  Show();
  ExpectCommitted();
  EXPECT_EQ(Select("SELECT DHAO00 FROM XSTJQSK1"), "3001");
  EXPECT_EQ(Select("SELECT DHAO00,SPDM00,SL0000 FROM XSTJQSK2"), "3001|G1|2.0");

  // The other one later still: the document has lines, so no more.
  Fill({Goods("G2")});
  Show();
  ExpectCommitted();
  EXPECT_EQ(Select("SELECT DHAO00,SPDM00,SL0000 FROM XSTJQSK2"), "3001|G1|2.0");
}

// The server refuses the first or the second statement of the copy: both
// tables stay as they were, the error is told in the status bar only, and
// the copy is done at the next showing.
TEST_F(CustomerSyncTest, FailureRollsBackBothTables) {
  for (const char* refusing : {"XSTJQSK1", "XSTJQSK2"}) {
    SCOPED_TRACE(refusing);
    StartServer();
    Fill({Customer("K9", "'vediruza商贸'"), Goods("G1"), Document(3001, "K9"),
          Line(3001, "G1", 2)});
    Show();
    ExpectCommitted();
    const std::string before = Select(kBothTables);

    // Refusing XSTJQSK2 means the first statement has inserted 3002 by the
    // time the second one fails: the lines it copies are 3002's.
    Fill({Document(3002, "K9"), Line(3002, "G1", 4),
          std::string("CREATE TRIGGER refuse BEFORE INSERT ON ") + refusing +
              " BEGIN SELECT RAISE(ABORT, 'refused'); END"});
    InterfaceWindowModel& w = Show();
    EXPECT_EQ(display_.status[kBusyPanel], "同步化发生错误！"_gbk);
    EXPECT_FALSE(display_.busy_cursor);
    EXPECT_THAT(display_.messages, IsEmpty());
    EXPECT_THAT(display_.errors, IsEmpty());
    EXPECT_FALSE(w.busy());
    EXPECT_EQ(Select(kBothTables), before);

    // The window's own session sees the same: its transaction was rolled
    // back, not left open.
    w.Refresh();
    ASSERT_TRUE(w.documents().active());
    ASSERT_EQ(w.documents().RecordCount(), 1);
    const CellValue number =
        w.documents().Cell(0, w.documents().FieldIndex("DHAO00"));
    ASSERT_TRUE(std::holds_alternative<double>(number));
    EXPECT_EQ(std::get<double>(number), 3001);
    EXPECT_EQ(w.lines().RecordCount(), 1);

    Fill({"DROP TRIGGER refuse"});
    Show();
    ExpectCommitted();
    EXPECT_EQ(Select("SELECT DHAO00 FROM XSTJQSK1 ORDER BY 1"), "3001;3002");
    EXPECT_EQ(Select("SELECT DHAO00,SL0000 FROM XSTJQSK2 ORDER BY 1"),
              "3001|2.0;3002|4.0");
  }
}

// Two windows, each on a thread of its own, start their copies at the same
// moment; the server lets one transaction write at a time, so the second
// sees what the first committed.
TEST_F(CustomerSyncTest, TwoWindowsAtOnceCopyEachDocumentOnce) {
  constexpr int kDocuments = 40;
  std::vector<std::string> rows = {Customer("K9", "'vediruza商贸'"),
                                   Goods("G1"), Goods("G2")};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < kDocuments; ++i) {
      const int n = 3000 + round * kDocuments + i;
      rows.push_back(Document(n, "K9"));
      rows.push_back(Line(n, "G1", 1));
      rows.push_back(Line(n, "G2", 2));
    }
    Fill(rows);
    rows.clear();

    RecordingDisplay displays[2];
    std::latch before_copy(2);
    std::vector<std::thread> threads;
    for (RecordingDisplay& display : displays) {
      display.on_process = [&] { before_copy.arrive_and_wait(); };
      threads.emplace_back([&display, machine = server_->machine()] {
        InterfaceWindowModel window(kJqsk, Env::Default(), &display);
        window.Connect(machine);
      });
    }
    for (std::thread& t : threads) t.join();

    for (RecordingDisplay& display : displays) {
      EXPECT_EQ(display.status[kBusyPanel], "");
      EXPECT_THAT(display.messages, IsEmpty());
    }
    const std::string documents = std::to_string((round + 1) * kDocuments);
    EXPECT_EQ(Select("SELECT COUNT(*), COUNT(DISTINCT DHAO00) FROM XSTJQSK1"),
              documents + "|" + documents);
    EXPECT_EQ(Select("SELECT COUNT(*), COUNT(DISTINCT DHAO00||SPDM00) FROM "
                     "XSTJQSK2"),
              std::to_string(2 * (round + 1) * kDocuments) + "|" +
                  std::to_string(2 * (round + 1) * kDocuments));
  }
}

}  // namespace
}  // namespace skjk
