// The import with its write-back for each business line, with the line's own
// descriptor (interface_window/business_line.cc), against a real skjk-server;
// the test reads the database file itself to see what was committed.
#include "exchange/import.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exchange/invoice_writeback.h"
#include "interface_window/business_line.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using namespace std::chrono;
using namespace text::literals;
using Notice = ImportHost::Notice;
using ::testing::ElementsAre;

// The business lines' own descriptors, as the plug-in runs them.
const ImportRules& kHeadOffice =
    GetBusinessLine(BusinessLineKey::kBbsk).importing;
const ImportRules& kVisitSales =
    GetBusinessLine(BusinessLineKey::kFxsk).importing;
const ImportRules& kCustomer =
    GetBusinessLine(BusinessLineKey::kJqsk).importing;

// The example file: a comment line, header, summary, a sales record with two
// detail lines and a void record.
const std::string kExample =
    "//发票\r\n"
    "SJJK0201\r\n"
    "2~~20240101~~20240131\r\n"
    "0~~x~~x~~110012~~0001234~~2~~20240115~~x~~101\r\n"
    "x~~卷烟甲~~x~~x~~x~~x~~x~~12.5\r\n"
    "x~~卷烟乙~~x~~x~~x~~x~~x~~8\r\n"
    "1~~x~~x~~110012~~0001235~~0~~20240116~~x~~102\r\n"_gbk;

std::vector<std::string> Documents() {
  return {
      "INSERT INTO XSTXSFP1 (DHAO00, YWRQ00) VALUES (101, '2024-01-15')",
      "INSERT INTO XSTXSFP1 (DHAO00, YWRQ00) VALUES (103, '2024-01-15')",
      "INSERT INTO XSTBFFP1 (DHAO00, YWRQ00) VALUES (102, '2024-01-16')",
      "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, SL0000) VALUES (101, 'A', 10)",
      "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, SL0000) VALUES (101, 'B', 0)",
      "INSERT INTO XSTJQSK1 (DHAO00) VALUES (101)",
      "INSERT INTO XSTJQSK2 (DHAO00, SPMC00) VALUES (101, '卷烟甲')",
      "INSERT INTO XSTJQSK2 (DHAO00, SPMC00) VALUES (101, '卷烟乙')",
  };
}

class RecordingHost final : public ImportHost {
 public:
  void Tell(Notice kind, std::string_view text) override {
    events.push_back("tell " + text::GbkToUtf8(text));
    kinds.push_back(kind);
  }
  bool Confirm(std::string_view text) override {
    events.push_back("confirm " + text::GbkToUtf8(text));
    return answer;
  }
  void OpenSettings() override { events.push_back("settings"); }
  void SetStatus(std::string_view text) override {
    events.push_back("status " + text::GbkToUtf8(text));
  }
  void SetStartDate(text::Day day) override {
    events.push_back("start " + text::IsoDate(day));
  }
  void SetEndDate(text::Day day) override {
    events.push_back("end " + text::IsoDate(day));
  }
  void BeginWalk(int count) override {
    events.push_back("walk " + std::to_string(count));
  }
  void StepWalk() override {
    events.push_back("step");
    if (on_step) on_step();
  }
  void EndWalk() override { events.push_back("walk end"); }
  void ShowInvoiced() override { events.push_back("invoiced"); }

  bool answer = true;
  std::vector<std::string> events;
  std::vector<Notice> kinds;
  std::function<void()> on_step;
};

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = testing::ServerProcess::Start();  // empty tables
    ASSERT_TRUE(s.ok()) << s.status().message();
    server_ = std::move(s).value();
    ASSERT_TRUE(server_->Fill(Documents()).ok());
    connection_.Close();
    connection_.set_machine_name(server_->machine());
    path_ = server_->directory() + "/invoices.txt";
  }

  void Import(const ImportRules& line, const std::string& file) {
    ASSERT_TRUE(Env::Default()->WriteFile(path_, file).ok());
    RunImport(line, path_, Env::Default(), &connection_, &host_);
  }
  std::string Db(const std::string& sql) { return server_->Select(sql); }
  // Everything the write-back may change, in one text.
  std::string State() {
    return Db("SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTXSFP1 ORDER BY 1") +
           " / " + Db("SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTBFFP1") + " / " +
           Db("SELECT SPDM00, FPBBH0, FPHAO0 FROM XSTFXPS2 ORDER BY 1") +
           " / " + Db("SELECT FPBBH0, FPHAO0, KPRQ00 FROM XSTJQSK1") + " / " +
           Db("SELECT SPMC00, SE0000 FROM XSTJQSK2 ORDER BY 1");
  }

  std::unique_ptr<testing::ServerProcess> server_;
  Connection connection_;
  std::string path_;
  RecordingHost host_;
};

TEST_F(ImportTest, WorkedExampleStatements) {
  InvoiceRecord sales;
  sales.kind = InvoiceRecord::Kind::kSales;
  sales.book = "110012";
  sales.number = "0001234";
  sales.date = "20240115";
  sales.document = "101";
  sales.details = {{"卷烟甲"_gbk, "12.5", 0}, {"卷烟乙"_gbk, "8", 0}};
  InvoiceRecord void_record = sales;
  void_record.kind = InvoiceRecord::Kind::kVoid;
  void_record.number = "0001235";
  void_record.document = "102";
  void_record.details.clear();

  auto statements = [](const ImportRules& line, const InvoiceRecord& r) {
    Result<std::vector<std::string>> s = InvoiceWriteBack::Statements(line, r);
    EXPECT_TRUE(s.ok()) << s.status().message();
    std::vector<std::string> out;
    for (const std::string& sql : s.ok() ? *s : std::vector<std::string>{}) {
      out.push_back(text::GbkToUtf8(sql));
    }
    return out;
  };
  EXPECT_THAT(statements(kHeadOffice, sales),
              ElementsAre("update XSTXSFP1 set FPBBH0='110012',"
                          "FPHAO0='0001234' where DHAO00=101"));
  EXPECT_THAT(statements(kVisitSales, sales),
              ElementsAre("update XSTFXPS2 set FPBBH0='110012',"
                          "FPHAO0='0001234' where SL0000<>0 AND DHAO00=101"));
  EXPECT_THAT(
      statements(kCustomer, sales),
      ElementsAre("update XSTJQSK1 set FPBBH0='110012',FPHAO0='0001234',"
                  "KPRQ00=TO_DATE('20240115','YYYYMMDD') where DHAO00=101",
                  "update XSTJQSK2 set SE0000=12.5 where DHAO00=101 and "
                  "SPMC00='卷烟甲'",
                  "update XSTJQSK2 set SE0000=8 where DHAO00=101 and "
                  "SPMC00='卷烟乙'"));
  for (const ImportRules* line : {&kHeadOffice, &kVisitSales, &kCustomer}) {
    EXPECT_THAT(statements(*line, void_record),
                ElementsAre("update XSTBFFP1 set FPBBH0='110012',"
                            "FPHAO0='0001235' where DHAO00=102"));
  }

  // Single quotes are doubled; values that would change the statement's
  // form are refused.
  sales.book = "O'1";
  sales.details[0].product = "卷'烟"_gbk;
  EXPECT_THAT(statements(kCustomer, sales)[0],
              ::testing::StartsWith("update XSTJQSK1 set FPBBH0='O''1',"));
  EXPECT_THAT(statements(kCustomer, sales)[1],
              ::testing::EndsWith("SPMC00='卷''烟'"));
  const struct {
    const char* name;
    std::function<void(InvoiceRecord*)> change;
  } bad[] = {
      {"document", [](InvoiceRecord* r) { r->document = "101 or 1=1"; }},
      {"tax", [](InvoiceRecord* r) { r->details[1].tax = "8,DHAO00=1"; }},
      {"date", [](InvoiceRecord* r) { r->date = "2024013'"; }},
      {"broken character", [](InvoiceRecord* r) { r->number = "\x81'"; }},
  };
  for (const auto& c : bad) {
    InvoiceRecord r = sales;
    c.change(&r);
    EXPECT_FALSE(InvoiceWriteBack::Statements(kCustomer, r).ok()) << c.name;
  }
}

TEST_F(ImportTest, WorkedExampleWritesEachLine) {
  const struct {
    const char* name;
    const ImportRules* line;
    std::string state;
  } cases[] = {
      {"head office", &kHeadOffice,
       "101|110012|0001234;103|-|- / 102|110012|0001235 / A|-|-;B|-|- / "
       "-|-|- / 卷烟乙|-;卷烟甲|-"},
      {"visit sales", &kVisitSales,
       "101|-|-;103|-|- / 102|110012|0001235 / A|110012|0001234;B|-|- / "
       "-|-|- / 卷烟乙|-;卷烟甲|-"},
      // The closing statement copies the invoice number to the delivery
      // lines whose quantity is not 0.
      {"customer", &kCustomer,
       "101|-|-;103|-|- / 102|110012|0001235 / A|-|0001234;B|-|- / "
       "110012|0001234|2024-01-15 / 卷烟乙|8.0;卷烟甲|12.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    host_ = RecordingHost{};
    Import(*c.line, kExample);
    std::vector<std::string> expected = {"confirm 是否读入销售发票文件" + path_,
                                         "status 正在读入文件，请稍候……",
                                         "start 2024-01-01",
                                         "end 2024-01-31",
                                         "walk 2",
                                         "step",
                                         "step"};
    if (c.line == &kCustomer) {
      expected.push_back("status 文件读入完毕，正在更新访销配送数据，请稍候……");
    }
    for (const char* e :
         {"status ", "walk end", "tell 读入成功！", "invoiced"}) {
      expected.push_back(e);
    }
    EXPECT_EQ(host_.events, expected);
    EXPECT_EQ(State(), c.state);
  }
}

TEST_F(ImportTest, GuardsAndRefusalsWriteNothing) {
  const std::string before = State();
  const struct {
    const char* name;
    std::string path;  // empty: the test file
    bool answer;
    std::string file;
    std::vector<std::string> tail;  // events after the confirmation
  } cases[] = {
      {"answered no", "", false, kExample, {}},
      {"no such file",
       "/nonexistent/x.txt",
       true,
       kExample,
       {"tell 指定文件不存在！"}},
      {"wrong header",
       "",
       true,
       "sjjk0201\r\n2~~20240101~~20240131\r\n",
       {"status 正在读入文件，请稍候……", "status ",
        "tell 指定的文件不是正确的税控机传出文件！"}},
      {"empty file",
       "",
       true,
       "",
       {"status 正在读入文件，请稍候……", "status ",
        "tell 文件读入发生意外错误！"}},
      {"30 February",
       "",
       true,
       "SJJK0201\r\n1~~20240230~~20240301\r\n",
       {"status 正在读入文件，请稍候……", "status ",
        "tell 文件读入发生意外错误！"}},
      // The dates read before the failure stay set.
      {"empty line where a record is expected",
       "",
       true,
       "SJJK0201\r\n1~~20240101~~20240131\r\n\r\n",
       {"status 正在读入文件，请稍候……", "start 2024-01-01", "end 2024-01-31",
        "status ", "tell 文件读入发生意外错误！"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host_ = RecordingHost{};
    host_.answer = c.answer;
    ASSERT_TRUE(Env::Default()->WriteFile(path_, c.file).ok());
    const std::string path = c.path.empty() ? path_ : c.path;
    RunImport(kCustomer, path, Env::Default(), &connection_, &host_);
    std::vector<std::string> expected = {"confirm 是否读入销售发票文件" + path};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(host_.events, expected);
    // Nothing reached the server.
    EXPECT_EQ(connection_.session(), 0u);
  }
  EXPECT_EQ(State(), before);

  host_ = RecordingHost{};
  RunImport(kCustomer, "", Env::Default(), &connection_, &host_);
  EXPECT_THAT(host_.events,
              ElementsAre("tell 请指定读入文件位置！", "settings"));
  EXPECT_EQ(host_.kinds[0], Notice::kWarning);
}

TEST_F(ImportTest, FailuresLeaveTheDatabaseAsItWas) {
  const std::string before = State();
  // A statement the database refuses after every record was written.
  ImportRules refused_at_the_end = kCustomer;
  refused_at_the_end.closing = "update NOSUCH set X=1";
  Import(refused_at_the_end, kExample);
  EXPECT_EQ(host_.events.back(), "tell 文件读入发生意外错误！");
  EXPECT_EQ(host_.events[host_.events.size() - 2], "walk end");
  EXPECT_EQ(State(), before);

  // The server dies half-way: nothing of the run is committed.
  host_ = RecordingHost{};
  host_.on_step = [this] {
    if (host_.events.size() < 8) kill(server_->pid(), SIGKILL);
  };
  Import(kCustomer, kExample);
  EXPECT_EQ(host_.events.back(), "tell 文件读入发生意外错误！");
  EXPECT_EQ(State(), before);
}

TEST_F(ImportTest, QuotesInValuesAreStoredAsTheyStand) {
  Import(kHeadOffice,
         "SJJK0201\r\n1~~20240101~~20240131\r\n"
         "0~~x~~x~~\"O'B\"~~'1'~~0~~20240115~~x~~101\r\n");
  EXPECT_EQ(host_.events.back(), "invoiced");
  EXPECT_EQ(Db("SELECT FPBBH0, FPHAO0 FROM XSTXSFP1 WHERE DHAO00=101"),
            "O'B|'1'");
}

}  // namespace
}  // namespace skjk
