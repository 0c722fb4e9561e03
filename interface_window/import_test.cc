// The import with its write-back for each business line, with the line's own
// descriptor (interface_window/business_line.cc), against a real skjk-server;
// the test reads the database file itself to see what was committed.
#include "exchange/import.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exchange/invoice_writeback.h"
#include "interface_window/business_line.h"
#include "testing/memory_env.h"
#include "testing/scripted_server.h"
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
  bool ConfirmWarning(std::string_view text) override {
    events.push_back("warning " + text::GbkToUtf8(text));
    return warning_answer;
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
  bool warning_answer = false;
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

using protocol::MessageType;

// A scripted server in place of the application server: CheckInvoices is
// answered with `state`, each statement changes one row unless it holds one
// of the texts of `no_rows`, calls succeed.
class ScriptedDatabase {
 public:
  ScriptedDatabase()
      : server_(testing::Serving(&received_, [this](const testing::Request& r) {
          return Answer(r);
        })) {}

  std::string machine() const { return server_.machine(); }
  void set_state(protocol::InvoiceState state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = std::move(state);
  }
  void set_check_refusal(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_refusal_ = std::move(text);
  }
  void set_no_rows(std::vector<std::string> texts) {
    std::lock_guard<std::mutex> lock(mutex_);
    no_rows_ = std::move(texts);
  }
  // The requests after the greeting, by type name.
  std::vector<std::string> Requests() const {
    std::vector<std::string> types = received_.Types();
    if (!types.empty()) types.erase(types.begin());
    return types;
  }
  protocol::CheckInvoices LastCheck() const {
    protocol::CheckInvoices check;
    const auto payloads = received_.Payloads(MessageType::kCheckInvoices);
    EXPECT_FALSE(payloads.empty());
    if (!payloads.empty()) {
      EXPECT_TRUE(protocol::DecodeCheckInvoices(payloads.back(), &check).ok());
    }
    return check;
  }

 private:
  std::string Answer(const testing::Request& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (r.type) {
      case MessageType::kHello:
        return testing::HelloOkFrame();
      case MessageType::kCheckInvoices:
        if (!check_refusal_.empty()) {
          return protocol::Frame(MessageType::kError,
                                 protocol::EncodeError(check_refusal_));
        }
        return protocol::Frame(MessageType::kInvoiceState,
                               protocol::EncodeInvoiceState(state_));
      case MessageType::kExecute: {
        protocol::Execute m;
        EXPECT_TRUE(protocol::DecodeExecute(r.payload, &m).ok());
        int64_t rows = 1;
        for (const std::string& text : no_rows_) {
          if (m.sql.find(text) != std::string::npos) rows = 0;
        }
        return protocol::Frame(MessageType::kOk, protocol::EncodeOk(rows));
      }
      case MessageType::kCall:
        return protocol::Frame(MessageType::kOk, protocol::EncodeOk(0));
      default:
        return protocol::Frame(MessageType::kError,
                               protocol::EncodeError("unexpected request"));
    }
  }

  testing::ReceivedRequests received_;
  mutable std::mutex mutex_;
  protocol::InvoiceState state_;
  std::string check_refusal_;
  std::vector<std::string> no_rows_;
  testing::ScriptedServer server_;
};

// The check of the file against the database before the write-back, and the
// summary of invoices that matched no document after it.
class ImportCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_.set_machine_name(database_.machine());
    // The scripted server takes one connection: opened here, it stays open
    // for every run of the test.
    ASSERT_TRUE(connection_.Open().ok());
  }

  // Imports `file` into the window of `line`; the events after the dates
  // were set.
  std::vector<std::string> Import(const std::string& file,
                                  const ImportRules& line = kHeadOffice) {
    env_.files[kPath] = file;
    host_ = RecordingHost{};
    host_.warning_answer = warning_answer_;
    RunImport(line, kPath, &env_, &connection_, &host_);
    std::vector<std::string> events = host_.events;
    auto dates = std::find(events.begin(), events.end(), "end 2024-01-31");
    EXPECT_NE(dates, events.end());
    if (dates != events.end()) events.erase(events.begin(), dates + 1);
    return events;
  }

  const std::string kPath = "C:\\税控\\发票.txt"_gbk;
  // Sales 101 and 102, void 201.
  const std::string kFile =
      "SJJK0201\r\n3~~20240101~~20240131\r\n"
      "0~~x~~x~~110012~~0001234~~0~~20240115~~x~~101\r\n"
      "0~~x~~x~~110012~~0001235~~0~~20240115~~x~~102\r\n"
      "1~~x~~x~~110012~~0001236~~0~~20240116~~x~~201\r\n";
  const std::vector<std::string> kWritten = {
      "walk 3",          "step",    "step", "step", "status ", "walk end",
      "tell 读入成功！", "invoiced"};

  ScriptedDatabase database_;
  Connection connection_;
  testing::MemoryEnv env_;
  RecordingHost host_;
  bool warning_answer_ = false;
};

TEST_F(ImportCheckTest, AFileThatFitsIsWrittenWithoutAQuestion) {
  // 101 carries the file's own numbers already: the same file read again.
  protocol::InvoiceState state;
  state.sales.invoiced = {101};
  state.sales.numbers = {{"110012", "0001234"}};
  database_.set_state(state);
  EXPECT_EQ(Import(kFile), kWritten);
  EXPECT_EQ(database_.LastCheck(),
            (protocol::CheckInvoices{.line = "Bbsk",
                                     .file_name = "C:\\税控\\发票.txt",
                                     .sales = {101, 102},
                                     .void_documents = {201}}));
  EXPECT_THAT(database_.Requests(),
              ElementsAre("CheckInvoices", "Call", "Execute", "Execute",
                          "Execute", "Call"));
}

// Documents the tables lack and documents invoiced with other numbers:
// one warning question with both counts and the first few numbers of each.
// No ends the import through its failure path before anything is sent
// to be written; Yes goes on.
TEST_F(ImportCheckTest, DocumentsThatDoNotFitAskFirst) {
  const std::string many =
      "SJJK0201\r\n8~~20240101~~20240131\r\n"
      "0~~x~~x~~B~~1~~0~~20240115~~x~~301\r\n"
      "0~~x~~x~~B~~2~~0~~20240115~~x~~302\r\n"
      "0~~x~~x~~B~~3~~0~~20240115~~x~~303\r\n"
      "0~~x~~x~~B~~4~~0~~20240115~~x~~304\r\n"
      "0~~x~~x~~B~~5~~0~~20240115~~x~~305\r\n"
      "1~~x~~x~~B~~6~~0~~20240115~~x~~306\r\n"
      "0~~x~~x~~B~~7~~0~~20240115~~x~~12.5\r\n"
      "0~~x~~x~~B~~8~~0~~20240115~~x~~307.00\r\n";
  protocol::InvoiceState wrong_line;  // none of the file's documents
  wrong_line.sales.missing = {101, 102};
  wrong_line.void_documents.missing = {201};
  protocol::InvoiceState renumbered;  // invoiced before, other numbers
  renumbered.sales.invoiced = {101, 102};
  renumbered.sales.numbers = {{"110012", "0009999"}, {"110012", "0001235"}};
  renumbered.void_documents.invoiced = {201};
  renumbered.void_documents.numbers = {{"220022", "0001236"}};
  protocol::InvoiceState sparse;
  sparse.sales.missing = {301, 302, 303, 304, 305, 307};
  sparse.void_documents.missing = {306};
  const struct {
    const char* name;
    const std::string& file;
    protocol::InvoiceState state;
    const char* missing;
    const char* numbered;
    protocol::DocumentNumbers sales_asked;
  } cases[] = {
      {"wrong line",
       kFile,
       wrong_line,
       "3张（101、102、201）",
       "0张",
       {101, 102}},
      {"other numbers",
       kFile,
       renumbered,
       "0张",
       "2张（101、201）",
       {101, 102}},
      // A document field that is no whole number is not asked about;
      // "307.00" is 307.
      {"many",
       many,
       sparse,
       "8张（301、302、303、304、305等）",
       "0张",
       {301, 302, 303, 304, 305, 307}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    database_.set_state(c.state);
    const std::string question =
        std::string("warning 发票文件与数据库中的单据不符：\r") +
        "单据不存在：" + c.missing + "\r已有发票号（与文件中的不同）：" +
        c.numbered + "\r是否仍然读入？";
    const size_t sent = database_.Requests().size();
    warning_answer_ = false;
    EXPECT_THAT(Import(c.file), ElementsAre(question, "status ",
                                            "tell 文件读入发生意外错误！"));
    EXPECT_THAT(database_.Requests().size(), sent + 1);  // the check alone
    EXPECT_EQ(database_.LastCheck().sales, c.sales_asked);

    warning_answer_ = true;
    const std::vector<std::string> events = Import(c.file);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), question);
    EXPECT_EQ(events.back(), "invoiced");
  }
}

TEST_F(ImportCheckTest, AFailingCheckWritesNothing) {
  database_.set_check_refusal("unknown business line");
  EXPECT_THAT(Import(kFile),
              ElementsAre("status ", "tell 文件读入发生意外错误！"));
  EXPECT_THAT(database_.Requests(), ElementsAre("CheckInvoices"));
}

// Invoices whose own statement changed no row are counted after the
// success message; a detail line's statement does not count.
TEST_F(ImportCheckTest, InvoicesThatMatchedNoDocumentAreCounted) {
  // A customer sales record with one detail line, and a void record.
  const std::string customer_file =
      "SJJK0201\r\n2~~20240101~~20240131\r\n"
      "0~~x~~x~~110012~~0001234~~1~~20240115~~x~~101\r\n"
      "x~~卷烟甲~~x~~x~~x~~x~~x~~12.5\r\n"
      "1~~x~~x~~110012~~0001236~~0~~20240116~~x~~201\r\n"_gbk;
  const std::string summary =
      "tell 其中有%张发票找不到对应的单据，发票号没有写入。";
  const struct {
    const char* name;
    bool customer;
    std::vector<std::string> no_rows;
    const char* count;  // nullptr: no summary
  } cases[] = {
      {"all matched", false, {}, nullptr},
      {"one", false, {"DHAO00=102"}, "1"},
      {"sales and void", false, {"DHAO00=101", "DHAO00=201"}, "2"},
      {"detail line", true, {"SPMC00="}, nullptr},
      {"customer record", true, {"XSTJQSK1"}, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    database_.set_no_rows(c.no_rows);
    std::vector<std::string> events =
        c.customer ? Import(customer_file, kCustomer) : Import(kFile);
    ASSERT_GE(events.size(), 2u);
    std::vector<std::string> end(events.end() - 2, events.end());
    std::string expected = "tell 读入成功！";
    if (c.count != nullptr) {
      expected = summary;
      expected.replace(expected.find('%'), 1, c.count);
    }
    EXPECT_EQ(end, (std::vector<std::string>{expected, "invoiced"}));
    EXPECT_EQ(host_.kinds.back(), Notice::kInfo);
  }
}

}  // namespace
}  // namespace skjk
