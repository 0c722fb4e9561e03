// The export of each business line, with the line's own descriptor
// (interface_window/business_line.cc), on document sets filled by the test,
// and its exchange journal, kept by a scripted server.
#include "exchange/export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "interface_window/business_line.h"
#include "platform/sha256.h"
#include "testing/packet_source.h"
#include "testing/scripted_server.h"
#include "testing/server_process.h"
#include "text/gbk.h"
#include "wire/layouts.h"

namespace skjk {
namespace {

using namespace std::chrono;
using namespace text::literals;
using Notice = ExportHost::Notice;

// The business lines' own descriptors, as the plug-in runs them.
const ExportRules& kHeadOffice =
    GetBusinessLine(BusinessLineKey::kBbsk).exporting;
const ExportRules& kVisitSales =
    GetBusinessLine(BusinessLineKey::kFxsk).exporting;
const ExportRules& kCustomer =
    GetBusinessLine(BusinessLineKey::kJqsk).exporting;

// Field values by name (UTF-8 texts, numbers); fields not named are empty.
using Fields = std::map<std::string, Value>;

Row MakeRow(const layouts::Layout& layout, const Fields& fields,
            const std::vector<Fields>& lines = {}) {
  Row row;
  for (const FieldDef& f : layout) {
    if (f.type == FieldType::kNested) {
      Rows nested;
      for (const Fields& line : lines)
        nested.push_back(MakeRow(f.nested, line));
      row.values.emplace_back(std::move(nested));
      continue;
    }
    auto it = fields.find(f.name);
    if (it == fields.end()) {
      row.values.emplace_back();
    } else if (const auto* s = std::get_if<std::string>(&it->second)) {
      row.values.emplace_back(text::Utf8ToGbk(*s));
    } else {
      row.values.push_back(it->second);
    }
  }
  return row;
}

Value Text(const char* utf8) { return Value(std::string(utf8)); }
Value Date(year_month_day day) { return Value(text::DateTimeOf(day)); }

// A goods line: name, unit, packing, quantity, amount.
Fields Goods(const char* name, double quantity, double amount) {
  return {{"SPMC00", Text(name)},
          {"JYDW00", Text("条")},
          {"SPGG00", Text("84mm")},
          {"SL0000", Value(quantity)},
          {"JE0000", Value(amount)}};
}

// The three documents of the worked example (the second one lacks its tax
// registration number).
Rows ExampleDocuments(const layouts::Layout& layout) {
  Rows rows;
  rows.push_back(
      MakeRow(layout,
              {{"DHAO00", Value(101.0)},
               {"YWRQ00", Date(year{2024} / January / 15)},
               {"DWMC00", Text("第一商店")},
               {"SWDJH0", Text("370102123456789")},
               {"DZ0000", Text("东大街1号")},
               {"DWDZ00", Text("东大街1号")},
               {"KHYH00", Text("工商银行东街支行")},
               {"YHZH00", Text("1602001234")},
               {"BEIZHU", Text("月结")},
               {"YWRY00", Text("业务员甲")},
               {"ZZSL00", Value(17.0)}},
              {Goods("卷烟甲", 10, 450), Goods("卷烟乙", 5, 137.5)}));
  rows.push_back(MakeRow(layout,
                         {{"DHAO00", Value(104.0)},
                          {"DWMC00", Text("第三商店")},
                          {"KHYH00", Text("建设银行")},
                          {"YWRY00", Text("业务员丙")}},
                         {Goods("卷烟甲", 1, 45)}));
  rows.push_back(MakeRow(layout,
                         {{"DHAO00", Value(103.0)},
                          {"YWRQ00", Date(year{2024} / January / 16)},
                          {"DWMC00", Text("第二商店")},
                          {"SWDJH0", Text("370102987654321")},
                          {"DZ0000", Text("西大街2号")},
                          {"DWDZ00", Text("西大街2号")},
                          {"KHYH00", Text("农业银行西街支行")},
                          {"YHZH00", Text("2001009876")},
                          {"YWRY00", Text("业务员乙")},
                          {"ZZSL00", Value(13.0)}},
                         {Goods("卷烟甲", 2, 90)}));
  return rows;
}

// Records what the export asks of the window.
class RecordingHost final : public ExportHost {
 public:
  void Tell(Notice kind, std::string_view text) override {
    events.push_back("tell");
    notices.emplace_back(kind, text::GbkToUtf8(text));
  }
  bool Confirm(std::string_view text) override {
    events.push_back("confirm");
    question = text::GbkToUtf8(text);
    return answer;
  }
  bool ConfirmWarning(std::string_view text) override {
    events.push_back("warning");
    warning = text::GbkToUtf8(text);
    return warning_answer;
  }
  void OpenSettings() override { events.push_back("settings"); }
  void BeginWalk(int count, std::string_view status) override {
    events.push_back("begin " + std::to_string(count) + " " +
                     text::GbkToUtf8(status));
    controls_off_during_walk = set != nullptr && set->ControlsDisabled();
  }
  void StepWalk() override {
    ++steps;
    if (on_step) on_step();
  }
  void EndWalk() override {
    events.push_back("end " + std::to_string(steps));
    controls_on_after_walk = set != nullptr && !set->ControlsDisabled();
  }
  std::string RegionalDateTime(double value) override {
    return "regional " + std::to_string(value);
  }

  bool answer = true;
  bool warning_answer = false;
  DocumentSet* set = nullptr;
  std::vector<std::string> events;
  std::vector<std::pair<Notice, std::string>> notices;
  std::string question;
  std::string warning;
  int steps = 0;
  bool controls_off_during_walk = false;
  bool controls_on_after_walk = false;
  std::function<void()> on_step;
};

using protocol::MessageType;

// The exchange journal as a scripted server keeps it: CheckExport is
// answered with `history`, RecordExport with entry 7 or, when
// `record_refusal` is set, with that error.
class Journal {
 public:
  Journal()
      : server_(testing::Serving(&received_, [this](const testing::Request& r) {
          return Answer(r);
        })) {}

  std::string machine() const { return server_.machine(); }
  void set_history(protocol::ExportHistory history) {
    std::lock_guard<std::mutex> lock(mutex_);
    history_ = std::move(history);
  }
  void set_check_refusal(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_refusal_ = std::move(text);
  }
  void set_record_refusal(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    record_refusal_ = std::move(text);
  }
  // The requests after the greeting, by type name.
  std::vector<std::string> Requests() const {
    std::vector<std::string> types = received_.Types();
    if (!types.empty()) types.erase(types.begin());
    return types;
  }
  std::vector<protocol::CheckExport> Checks() const {
    std::vector<protocol::CheckExport> checks;
    for (const std::string& p : received_.Payloads(MessageType::kCheckExport)) {
      EXPECT_TRUE(protocol::DecodeCheckExport(p, &checks.emplace_back()).ok());
    }
    return checks;
  }
  std::vector<protocol::RecordExport> Records() const {
    std::vector<protocol::RecordExport> records;
    for (const std::string& p :
         received_.Payloads(MessageType::kRecordExport)) {
      EXPECT_TRUE(
          protocol::DecodeRecordExport(p, &records.emplace_back()).ok());
    }
    return records;
  }

 private:
  std::string Answer(const testing::Request& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto refuse = [](const std::string& text) {
      return protocol::Frame(MessageType::kError, protocol::EncodeError(text));
    };
    switch (r.type) {
      case MessageType::kHello:
        return testing::HelloOkFrame();
      case MessageType::kCheckExport:
        if (!check_refusal_.empty()) return refuse(check_refusal_);
        return protocol::Frame(MessageType::kExportHistory,
                               protocol::EncodeExportHistory(history_));
      case MessageType::kRecordExport:
        if (!record_refusal_.empty()) return refuse(record_refusal_);
        return protocol::Frame(MessageType::kOk, protocol::EncodeOk(7));
      default:
        return refuse("unexpected request");
    }
  }

  testing::ReceivedRequests received_;
  mutable std::mutex mutex_;
  protocol::ExportHistory history_;
  std::string check_refusal_, record_refusal_;
  testing::ScriptedServer server_;
};

// SHA-256 of `bytes` as the journal takes it.
std::string HashOf(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  Result<std::string> hex = hash.HexDigest();
  return hex.ok() ? *hex : hex.status().message();
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::MakeTestDirectory("export");
    ASSERT_FALSE(dir_.empty());
    sales_file_ = dir_ + "/sales.txt";
    void_file_ = dir_ + "/void.txt";
    // The scripted server takes one connection: the session opens here and
    // stays open for every run of the test.
    connection_.set_machine_name(journal_.machine());
    ASSERT_TRUE(connection_.Open().ok());
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // Loads `rows` into a master set of `provider` and sets up the request
  // for 15 to 16 January 2024 with the example's settings.
  void Load(std::string_view provider, Rows rows) {
    const layouts::Layout* layout = layouts::ProviderLayout(provider);
    set_ = std::make_unique<DocumentSet>(
        "ClientDataSet1",
        testing::FromPackets([layout, rows = std::move(rows)](
                                 std::string_view, int, bool with_layout,
                                 const std::vector<std::string>&,
                                 Packet* packet) {
          if (with_layout) packet->layout = *layout;
          packet->rows = rows;
          return Status::OK();
        }),
        std::string(provider), Connection::kAllRecords, layout,
        "ClientDataSet2");
    ASSERT_TRUE(set_->Open({"2024-01-15", "2024-01-16"}).ok());
    host_.set = set_.get();
    request_.settings.sales_file = sales_file_;
    request_.settings.void_file = void_file_;
    reviewer_ = "复核甲"_gbk;
    payee_ = "@YWRY00";
    tax_item_ = "卷烟"_gbk;
    list_ = "销售单据"_gbk;
    request_.document_count = set_->RecordCount();
    request_.not_invoiced = true;
    request_.start = year{2024} / January / 15;
    request_.end = year{2024} / January / 16;
    request_.documents = set_.get();
  }
  void Run(const ExportRules& line = kHeadOffice) {
    request_.settings.reviewer = reviewer_;
    request_.settings.payee = payee_;
    request_.settings.tax_item = tax_item_;
    request_.list_text = list_;
    RunExport(line, request_, Env::Default(), &connection_, &host_);
  }
  // The file as UTF-8 lines; each must end in CR LF.
  std::vector<std::string> Lines(const std::string& path) {
    std::string data;
    EXPECT_TRUE(Env::Default()->ReadFile(path, &data).ok()) << path;
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < data.size()) {
      size_t end = data.find("\r\n", at);
      EXPECT_NE(end, std::string::npos) << "unterminated last line";
      if (end == std::string::npos) end = data.size();
      lines.push_back(text::GbkToUtf8(data.substr(at, end - at)));
      at = end + 2;
    }
    return lines;
  }
  std::vector<std::pair<Notice, std::string>> Said(Notice kind,
                                                   const char* text) {
    return {{kind, text}};
  }

  std::string File(const std::string& path) {
    std::string data;
    EXPECT_TRUE(Env::Default()->ReadFile(path, &data).ok()) << path;
    return data;
  }

  std::string dir_, sales_file_, void_file_;
  std::string reviewer_, payee_, tax_item_, list_;
  std::unique_ptr<DocumentSet> set_;
  ExportRequest request_;
  RecordingHost host_;
  // Before the connection, which goes first and so ends the server's script.
  Journal journal_;
  Connection connection_;
};

TEST_F(ExportTest, WorkedExampleHeadOffice) {
  Load("dsp_bbsk1", ExampleDocuments(*layouts::ProviderLayout("dsp_bbsk1")));
  Run();
  EXPECT_EQ(host_.question,
            "是否导出日期为2024年01月15日至2024年01月16日的销售单据？\r"
            "发票的复核人是:“复核甲”,收款人是:“字段YWRY00”,税目是:“卷烟”，\r"
            "导出文件为：" +
                sales_file_);
  EXPECT_THAT(
      Lines(sales_file_),
      ::testing::ElementsAre(
          "SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日", "//单据",
          "101~~2~~第一商店~~370102123456789~~东大街1号~~"
          "工商银行东街支行1602001234~~月结~~复核甲~~业务员甲~~~~20240115",
          "卷烟甲~~条~~84mm~~10~~450~~0.17~~卷烟",
          "卷烟乙~~条~~84mm~~5~~137.5~~0.17~~卷烟", "//单据",
          "103~~1~~第二商店~~370102987654321~~西大街2号~~"
          "农业银行西街支行2001009876~~~~复核甲~~业务员乙~~~~20240116",
          "卷烟甲~~条~~84mm~~2~~90~~0.13~~卷烟"));
  EXPECT_THAT(host_.events, ::testing::ElementsAre(
                                "confirm", "begin 3 正在导出文件，请稍候……",
                                "end 3", "tell"));
  EXPECT_EQ(
      host_.notices,
      Said(Notice::kInfo,
           "导出成功！\r其中有1条记录因缺少税务登记号或开户银行而被忽略"));
  EXPECT_TRUE(host_.controls_off_during_walk);
  EXPECT_TRUE(host_.controls_on_after_walk);
  EXPECT_EQ(set_->RecNo(), 2);  // stands on the last document
}

TEST_F(ExportTest, WorkedExampleOtherLines) {
  const struct {
    const char* provider;
    ExportRules line;
    const char* first_document;
    const char* rate;
  } cases[] = {
      {"dsp_fxsk1", kVisitSales,
       "101~~2~~第一商店~~370102123456789~~东大街1号~~"
       "工商银行东街支行1602001234~~~~复核甲~~业务员甲~~~~20240115",
       "0.17"},
      {"dsp_jqsk1", kCustomer,
       "101~~2~~第一商店~~370102123456789~~东大街1号~~"
       "工商银行东街支行1602001234~~~~复核甲~~业务员甲~~~~20240115",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.provider);
    Load(c.provider, ExampleDocuments(*layouts::ProviderLayout(c.provider)));
    Run(c.line);
    const std::vector<std::string> lines = Lines(sales_file_);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[2], c.first_document);
    EXPECT_EQ(lines[3],
              "卷烟甲~~条~~84mm~~10~~450~~" + std::string(c.rate) + "~~卷烟");
    EXPECT_EQ(lines[7],
              "卷烟甲~~条~~84mm~~2~~90~~" + std::string(c.rate) + "~~卷烟");
  }
  // With no field reference the customer line writes the fixed rate.
  payee_ = "收款甲"_gbk;
  Run(kCustomer);
  EXPECT_EQ(Lines(sales_file_)[3], "卷烟甲~~条~~84mm~~10~~450~~0.17~~卷烟");
}

TEST_F(ExportTest, VoidFile) {
  const layouts::Layout& layout = *layouts::ProviderLayout("dsp_bbbf1");
  Rows rows;
  rows.push_back(MakeRow(layout, {{"DHAO00", Value(102.0)}}));
  rows.push_back(MakeRow(layout, {{"DHAO00", Value(105.0)}}));
  rows.push_back(MakeRow(layout, {}));  // no number: an empty line
  Load("dsp_bbbf1", std::move(rows));
  list_ = "报废单据"_gbk;
  tax_item_ = "@";  // never looked up here
  Run();
  EXPECT_THAT(host_.question, ::testing::StartsWith(
                                  "是否导出日期为2024年01月15日至2024年01月16日"
                                  "的报废单据？\r"));
  EXPECT_THAT(
      host_.question,
      ::testing::EndsWith("税目是:“字段”，\r导出文件为：" + void_file_));
  EXPECT_THAT(Lines(void_file_),
              ::testing::ElementsAre(
                  "SJJK0102~~作废销售单据传入~~2024年01月15日至2024年01月16日",
                  "//单据", "102", "//单据", "105", "//单据", ""));
  EXPECT_EQ(host_.notices, Said(Notice::kInfo, "导出成功！"));
  EXPECT_EQ(host_.steps, 3);
  EXPECT_FALSE(Env::Default()->FileExists(sales_file_));
}

TEST_F(ExportTest, GuardsStopBeforeAnythingChanges) {
  Load("dsp_bbsk1", ExampleDocuments(*layouts::ProviderLayout("dsp_bbsk1")));
  const struct {
    const char* name;
    std::function<void(ExportRequest*, bool* answer)> change;
    std::vector<std::string> events;
    Notice kind;
    const char* text;
  } cases[] = {
      {"no void file",
       [](ExportRequest* r, bool*) { r->settings.void_file = ""; },
       {"tell", "settings"},
       Notice::kWarning,
       "请指定导出文件位置！"},
      {"no sales file",
       [](ExportRequest* r, bool*) { r->settings.sales_file = ""; },
       {"tell", "settings"},
       Notice::kWarning,
       "请指定导出文件位置！"},
      {"count 0",
       [](ExportRequest* r, bool*) { r->document_count = 0; },
       {"tell"},
       Notice::kError,
       "没有要导出的记录！"},
      {"invoiced view",
       [](ExportRequest* r, bool*) { r->not_invoiced = false; },
       {"tell"},
       Notice::kError,
       "请先选择未开发票进行查询！"},
      {"answered no",
       [](ExportRequest*, bool* answer) { *answer = false; },
       {"confirm"},
       Notice::kInfo,
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExportRequest saved = request_;
    host_ = RecordingHost{};
    host_.set = set_.get();
    c.change(&request_, &host_.answer);
    RunExport(kHeadOffice, request_, Env::Default(), &connection_, &host_);
    request_ = saved;
    EXPECT_EQ(host_.events, c.events);
    if (c.text) {
      EXPECT_EQ(host_.notices, Said(c.kind, c.text));
    }
    EXPECT_FALSE(Env::Default()->FileExists(sales_file_));
    EXPECT_FALSE(set_->ControlsDisabled());
  }
}

TEST_F(ExportTest, FailuresKeepWhatWasWrittenAndRestoreTheWindow) {
  const layouts::Layout& layout = *layouts::ProviderLayout("dsp_bbsk1");
  const struct {
    const char* name;
    const char* reviewer;
    const char* tax_item;
    bool missing_folder;
    std::vector<std::string> lines;
  } cases[] = {
      // A lone "@" names no field: the run stops after the marker line of
      // the first document that is written.
      {"lone @",
       "复核甲",
       "@",
       false,
       {"SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日", "//单据"}},
      {"missing field",
       "@NOSUCH",
       "卷烟",
       false,
       {"SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日", "//单据"}},
      {"missing folder", "复核甲", "卷烟", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Load("dsp_bbsk1", ExampleDocuments(layout));
    host_ = RecordingHost{};
    host_.set = set_.get();
    reviewer_ = text::Utf8ToGbk(c.reviewer);
    tax_item_ = text::Utf8ToGbk(c.tax_item);
    std::string path =
        c.missing_folder ? dir_ + "/none/sales.txt" : sales_file_;
    request_.settings.sales_file = path;
    Run();
    EXPECT_EQ(host_.notices, Said(Notice::kError, "文件导出发生意外错误！"));
    EXPECT_EQ(host_.events.back(), "tell");
    EXPECT_EQ(host_.events[host_.events.size() - 2].substr(0, 3), "end");
    EXPECT_TRUE(host_.controls_on_after_walk);
    if (c.missing_folder) {
      EXPECT_FALSE(Env::Default()->FileExists(path));
    } else {
      EXPECT_EQ(Lines(path), c.lines);
    }
  }
}

TEST_F(ExportTest, FieldTextsAreWrittenAsTheyStand) {
  const layouts::Layout& layout = *layouts::ProviderLayout("dsp_bbsk1");
  Rows rows;
  // A remark holding the separator and a line break, blanks kept, a
  // document without lines, no date, no rate, empty quantity.
  rows.push_back(MakeRow(layout, {{"DHAO00", Value(7.0)},
                                  {"SWDJH0", Text(" ")},
                                  {"KHYH00", Text("银行")},
                                  {"BEIZHU", Text("a~~b\r\nc")},
                                  {"YWRY00", Text("甲@乙")}}));
  rows.push_back(MakeRow(
      layout,
      {{"DHAO00", Value(8.0)}, {"SWDJH0", Text("1")}, {"KHYH00", Text("银行")}},
      {{{"SPMC00", Text("x")}}}));
  Load("dsp_bbsk1", std::move(rows));
  reviewer_ = "甲@乙"_gbk;  // a literal: "@" is not first
  payee_ = "@ywry00";       // any case
  tax_item_ = "";
  Run();
  EXPECT_THAT(host_.question,
              ::testing::HasSubstr("复核人是:“甲@乙”,收款人是:“字段ywry00”,"
                                   "税目是:“”，"));
  EXPECT_THAT(
      Lines(sales_file_),
      ::testing::ElementsAre(
          "SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日", "//单据",
          "7~~0~~~~ ~~~~银行~~a~~b", "c~~甲@乙~~甲@乙~~~~18991230", "//单据",
          "8~~1~~~~1~~~~银行~~~~甲@乙~~~~~~18991230", "x~~~~~~~~~~0~~"));
  EXPECT_EQ(host_.notices, Said(Notice::kInfo, "导出成功！"));
}

// The skip rule: a document goes to the machine only when both its tax
// registration number (SWDJH0) and its bank (KHYH00) have a text; NULL and
// the empty text count as missing, blanks do not; the account (YHZH00) is
// not looked at. Each case alone, then all of them in one run.
TEST_F(ExportTest, SkipRuleTestsTaxNumberAndBankNotAccount) {
  enum Cell { kNull, kEmpty, kBlank, kText };
  const struct {
    Cell tax, bank, account;
    bool exported;
  } cases[] = {
      {kText, kText, kText, true},    {kText, kText, kEmpty, true},
      {kText, kText, kNull, true},    {kBlank, kBlank, kNull, true},
      {kText, kEmpty, kText, false},  {kText, kNull, kText, false},
      {kEmpty, kText, kText, false},  {kNull, kText, kText, false},
      {kEmpty, kEmpty, kText, false}, {kNull, kNull, kNull, false},
      {kEmpty, kNull, kEmpty, false}, {kNull, kEmpty, kText, false},
  };
  const layouts::Layout& layout = *layouts::ProviderLayout("dsp_bbsk1");
  auto put = [](Fields* fields, const char* name, Cell cell, const char* text) {
    if (cell == kEmpty) (*fields)[name] = Text("");
    if (cell == kBlank) (*fields)[name] = Text(" ");
    if (cell == kText) (*fields)[name] = Text(text);
  };
  auto text_of = [](Cell cell, const char* text) {
    return std::string(cell == kBlank ? " " : cell == kText ? text : "");
  };
  const std::string header =
      "SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日";
  Rows all;
  std::vector<std::string> all_lines = {header};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string number = std::to_string(i + 1);
    SCOPED_TRACE("case " + number);
    Fields fields = {{"DHAO00", Value(double(i + 1))}};
    put(&fields, "SWDJH0", c.tax, "3701");
    put(&fields, "KHYH00", c.bank, "银行");
    put(&fields, "YHZH00", c.account, "1602");
    const Row row = MakeRow(layout, fields);
    all.push_back(row);
    std::vector<std::string> lines = {header};
    if (c.exported) {
      lines.push_back("//单据");
      lines.push_back(number + "~~0~~~~" + text_of(c.tax, "3701") + "~~~~" +
                      text_of(c.bank, "银行") + text_of(c.account, "1602") +
                      "~~~~复核甲~~~~~~18991230");
    }
    all_lines.insert(all_lines.end(), lines.begin() + 1, lines.end());

    host_ = RecordingHost{};
    Load("dsp_bbsk1", {row});
    Run();
    EXPECT_EQ(Lines(sales_file_), lines);
    EXPECT_EQ(host_.steps, 1);
    EXPECT_EQ(host_.notices,
              Said(Notice::kInfo,
                   c.exported ? "导出成功！"
                              : "导出成功！\r其中有1条记录因缺少税务登记号"
                                "或开户银行而被忽略"));
  }

  host_ = RecordingHost{};
  Load("dsp_bbsk1", all);
  Run();
  EXPECT_EQ(Lines(sales_file_), all_lines);
  EXPECT_EQ(host_.steps, static_cast<int>(std::size(cases)));
  EXPECT_EQ(
      host_.notices,
      Said(Notice::kInfo,
           "导出成功！\r其中有8条记录因缺少税务登记号或开户银行而被忽略"));
}

TEST_F(ExportTest, ExistingFileIsReplaced) {
  ASSERT_TRUE(
      Env::Default()->WriteFile(sales_file_, std::string(100000, 'x')).ok());
  Load("dsp_bbsk1", {});
  request_.document_count = 5;  // the count guard reads the window's count
  Run();
  EXPECT_THAT(Lines(sales_file_),
              ::testing::ElementsAre(
                  "SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日"));
  EXPECT_EQ(host_.notices, Said(Notice::kInfo, "导出成功！"));
}

// Every run that reaches the file is recorded once the file is closed,
// completed or not: the line, the kind, the window's dates, the path, the
// size and hash of the bytes in the file, the outcome and the documents
// written (not those skipped).
TEST_F(ExportTest, EachRunIsRecordedWithTheFileAsWritten) {
  const layouts::Layout& sales_layout = *layouts::ProviderLayout("dsp_fxsk1");
  Rows void_rows;
  const layouts::Layout& void_layout = *layouts::ProviderLayout("dsp_bbbf1");
  for (double n : {105.0, 102.0}) {
    void_rows.push_back(MakeRow(void_layout, {{"DHAO00", Value(n)}}));
  }
  void_rows.push_back(MakeRow(void_layout, {}));  // no number
  const struct {
    const char* name;
    bool sales;
    const char* tax_item;
    bool missing_folder;
    bool completed;
    protocol::DocumentNumbers documents;
  } cases[] = {
      // 104 lacks its tax registration number: skipped, not recorded.
      {"sales", true, "卷烟", false, true, {101, 103}},
      {"void", false, "卷烟", false, true, {105, 102}},
      // A lone "@" stops the run at the first document written, after its
      // marker line: no document is in the file.
      {"failed part-way", true, "@", false, false, {}},
      {"no folder", true, "卷烟", true, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = journal_.Records().size();
    host_ = RecordingHost{};
    if (c.sales) {
      Load("dsp_fxsk1", ExampleDocuments(sales_layout));
    } else {
      Load("dsp_bbbf1", void_rows);
      list_ = "报废单据"_gbk;
    }
    tax_item_ = text::Utf8ToGbk(c.tax_item);
    std::string path = c.sales ? sales_file_ : void_file_;
    if (c.missing_folder) path = dir_ + "/none/销售.txt"_gbk;
    request_.settings.sales_file = path;
    request_.settings.void_file = path;
    Run(kVisitSales);

    const std::vector<protocol::RecordExport> records = journal_.Records();
    ASSERT_EQ(records.size(), before + 1);
    const protocol::RecordExport& r = records.back();
    const std::string bytes = c.missing_folder ? "" : File(path);
    EXPECT_EQ(r.line, "Fxsk");
    EXPECT_EQ(r.kind, c.sales ? protocol::DocumentKind::kSales
                              : protocol::DocumentKind::kVoid);
    EXPECT_EQ(r.first_date, "2024-01-15");
    EXPECT_EQ(r.last_date, "2024-01-16");
    EXPECT_EQ(r.file_name, text::GbkToUtf8(path));
    EXPECT_EQ(r.file_size, bytes.size());
    EXPECT_EQ(r.file_hash, HashOf(bytes));
    EXPECT_EQ(r.completed, c.completed);
    EXPECT_EQ(r.failure.empty(), c.completed) << r.failure;
    protocol::DocumentNumbers documents = c.documents;
    protocol::NormalizeDocumentNumbers(&documents);
    EXPECT_EQ(r.documents, documents);
    // The run's own message is the last thing the user sees.
    ASSERT_EQ(host_.notices.size(), 1u);
    EXPECT_EQ(host_.notices[0].first,
              c.completed ? Notice::kInfo : Notice::kError);
  }
  EXPECT_THAT(
      journal_.Requests(),
      ::testing::ElementsAre("CheckExport", "RecordExport", "CheckExport",
                             "RecordExport", "CheckExport", "RecordExport",
                             "CheckExport", "RecordExport"));
}

// Documents of the view that went out before and are still not invoiced:
// the user is warned before the file is touched, and No ends the run there.
TEST_F(ExportTest, DocumentsExportedBeforeAskBeforeTheFileIsTouched) {
  const std::string earlier = "SJJK0101~~earlier run\r\n";
  const struct {
    const char* name;
    uint64_t exported_before;
    bool answer;
    std::vector<std::string> events;
    bool written;
  } cases[] = {
      {"none before", 0, false, {"confirm", "begin", "end 3", "tell"}, true},
      {"answered yes",
       2,
       true,
       {"confirm", "warning", "begin", "end 3", "tell"},
       true},
      {"answered no", 2, false, {"confirm", "warning"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Env::Default()->WriteFile(sales_file_, earlier).ok());
    const size_t records = journal_.Records().size();
    Load("dsp_bbsk1", ExampleDocuments(*layouts::ProviderLayout("dsp_bbsk1")));
    host_ = RecordingHost{};
    host_.set = set_.get();
    host_.warning_answer = c.answer;
    journal_.set_history({.documents = c.exported_before,
                          .last_time = "2024-01-17 09:30:00",
                          .last_file = "D:\\税控\\销售.txt"});
    Run();
    for (std::string& e : host_.events) {
      if (e.starts_with("begin")) e = "begin";
    }
    EXPECT_EQ(host_.events, c.events);
    if (c.exported_before > 0) {
      EXPECT_EQ(host_.warning,
                "本次导出的单据中有2张已经导出过，至今还没有开具发票（最近一次"
                "于2024-01-17 09:30:00导出到文件D:\\税控\\销售.txt）。\r"
                "重复导出可能造成重复开票，是否仍然导出？");
    }
    EXPECT_EQ(File(sales_file_) == earlier, !c.written);
    EXPECT_EQ(journal_.Records().size(), records + (c.written ? 1 : 0));
    EXPECT_FALSE(set_->ControlsDisabled());
    // The check asks about every document of the view, skipped ones too.
    const protocol::CheckExport check = journal_.Checks().back();
    EXPECT_EQ(check.line, "Bbsk");
    EXPECT_EQ(check.kind, protocol::DocumentKind::kSales);
    EXPECT_EQ(check.documents, (protocol::DocumentNumbers{101, 103, 104}));
  }
}

// The journal's failures: a failing check ends the run with its failure
// message before the file is touched; a run that cannot be recorded stays
// as it ended, and the user learns after its own message that it was not
// recorded.
TEST_F(ExportTest, JournalFailuresAreTold) {
  const std::string earlier = "earlier\r\n";
  const struct {
    const char* name;
    const char* check_refusal;
    const char* record_refusal;
    const char* tax_item;
    std::vector<std::pair<Notice, std::string>> notices;
    bool written;
  } cases[] = {
      {"check refused",
       "journal unavailable",
       "",
       "卷烟",
       {{Notice::kError, "文件导出发生意外错误！"}},
       false},
      {"not recorded after success",
       "",
       "disk full",
       "卷烟",
       {{Notice::kInfo,
         "导出成功！\r其中有1条记录因缺少税务登记号或开户银行而被忽略"},
        {Notice::kWarning, "本次导出未能记入导出日志：disk full"}},
       true},
      {"not recorded after a failure",
       "",
       "disk full",
       "@",
       {{Notice::kError, "文件导出发生意外错误！"},
        {Notice::kWarning, "本次导出未能记入导出日志：disk full"}},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Env::Default()->WriteFile(sales_file_, earlier).ok());
    Load("dsp_bbsk1", ExampleDocuments(*layouts::ProviderLayout("dsp_bbsk1")));
    host_ = RecordingHost{};
    journal_.set_check_refusal(c.check_refusal);
    journal_.set_record_refusal(c.record_refusal);
    tax_item_ = text::Utf8ToGbk(c.tax_item);
    Run();
    EXPECT_EQ(host_.notices, c.notices);
    EXPECT_EQ(File(sales_file_) != earlier, c.written);
    EXPECT_TRUE(connection_.connected());
  }
}

}  // namespace
}  // namespace skjk
