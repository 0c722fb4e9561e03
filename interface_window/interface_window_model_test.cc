// The interface window's rules, against a real skjk-server on a hand-filled
// database, through a display that records what the window shows.
#include "interface_window/interface_window_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/env.h"
#include "platform/sha256.h"
#include "settings/settings.h"
#include "testing/memory_env.h"
#include "testing/recording_display.h"
#include "testing/row_encoder.h"
#include "testing/scripted_server.h"
#include "testing/server_process.h"
#include "text/gbk.h"
#include "wire/layouts.h"

namespace skjk {
namespace {

using namespace text::literals;
using ::testing::ElementsAre;

const BusinessLine& kBbsk = GetBusinessLine(BusinessLineKey::kBbsk);

CalendarDate D(int y, unsigned m, unsigned d) {
  return std::chrono::year{y} / m / d;
}

// Head-office documents of August 2002 (sales 1001..1004, one of them
// invoiced; void 2001) with goods and lines.
std::vector<std::string> Fill() {
  const std::string sales_cols =
      "INSERT INTO XSTXSFP1 (GSDW00, DHAO00, YWRQ00, DWDM00, DWMC00, DZ0000,"
      " SWDJH0, KHYH00, YHZH00, FPBBH0, FPHAO0, SLHJ00, JEHJ00, SEHJ00,"
      " ZJE000, JSHJ00, BEIZHU, ZZSL00) VALUES ";
  return {
      "INSERT INTO GSTJYGL0 VALUES ('10010101', '红塔山', '硬盒', '条')",
      "INSERT INTO GSTJYGL0 VALUES ('10010102', '云烟', '软盒', '条')",
      sales_cols +
          "('01', 1001, '2002-08-01', 'K001', '甲公司', '昆明',"
          " '530100000000001', '工商银行', '6222', NULL, NULL, 12,"
          " 1200, 204, 1404, '壹仟肆佰零肆元整', '备注一', 17)",
      sales_cols +
          "('01', 1002, '2002-08-02', 'K002', '乙公司', '大理',"
          " '530100000000002', '农业银行', '6228', '', '', 3,"
          " 300.5, 51.09, 351.59, '', '', 17)",
      sales_cols +
          "('01', 1003, '2002-08-02', 'K002', '乙公司', '大理',"
          " '530100000000002', '农业银行', '6228', '0100000001',"
          " '00000042', 1, 100, 17, 117, '', '', 17)",
      sales_cols +
          "('01', 1004, '2002-08-10', 'K001', '甲公司', '昆明',"
          " '530100000000001', '工商银行', '6222', NULL, NULL, 1,"
          " 100, 17, 117, '', '', 17)",
      "INSERT INTO XSTXSFP2 VALUES (1001, '10010101', 100, 10, 1000, NULL)",
      "INSERT INTO XSTXSFP2 VALUES (1001, '10010102', 100, 2, 200, NULL)",
      "INSERT INTO XSTXSFP2 VALUES (1002, '10010102', 100.166667, 3, 300.5,"
      " NULL)",
      "INSERT INTO XSTBFFP1 (DHAO00, YWRQ00, DWDM00, DWMC00, FPBBH0, FPHAO0,"
      " SLHJ00, JEHJ00) VALUES (2001, '2002-08-02', 'K003', '丙公司', NULL,"
      " NULL, 1, 50)",
      "INSERT INTO XSTBFFP2 VALUES (2001, '10010101', 50, 1, 50, NULL)",
      // Delivery data of the customer window's customer (3001) and of
      // another one (3002).
      "INSERT INTO GSTKHGL0 VALUES ('K9', 'vediruza商贸', NULL, '开票地址',"
      " '地址', '330100', '银行', '001')",
      "INSERT INTO GSTKHGL0 VALUES ('K8', '大vediruza店', NULL, NULL, 'x',"
      " NULL, NULL, NULL)",
      "INSERT INTO XSTFXPS1 VALUES (3001, 'Z', '2002-08-03', 'Y1', 'Q1', 'K9',"
      " '01', '0')",
      "INSERT INTO XSTFXPS1 VALUES (3002, 'Z', '2002-08-03', 'Y1', 'Q1', 'K8',"
      " '01', '0')",
      "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, DJIA00, SL0000, JE0000) VALUES"
      " (3001, '10010101', 100, 2, 200)",
      "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, DJIA00, SL0000, JE0000) VALUES"
      " (3001, '10010102', 100, 0, 0)",
      "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, DJIA00, SL0000, JE0000) VALUES"
      " (3002, '10010101', 100, 1, 100)",
  };
}

class InterfaceWindowTest : public ::testing::Test, public RequestObserver {
 protected:
  static void SetUpTestSuite() {
    auto server = testing::ServerProcess::Start();
    ASSERT_TRUE(server.ok()) << server.status().message();
    server_ = std::move(*server).release();
    Status s = server_->Fill(Fill());
    ASSERT_TRUE(s.ok()) << s.message();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void TearDown() override {
    window_.reset();
    // Every request told as begun was told as ended, failed ones included.
    EXPECT_EQ(open_requests_, 0);
  }

  // A window created and shown against the test server, with all file
  // settings present.
  InterfaceWindowModel& Open(const BusinessLine& business_line = kBbsk) {
    window_ = std::make_unique<InterfaceWindowModel>(business_line, &env_,
                                                     &display_, this);
    window_->LoadSettings();
    window_->values().invoice_file = "r.txt";
    window_->values().sales_file = "w1.txt";
    window_->values().void_file = "w2.txt";
    on_request_ = nullptr;
    window_->Connect(server_->machine());
    window_->AskForMissingSettings();
    display_.log.clear();
    return *window_;
  }

  void Query(CalendarDate start, CalendarDate end) {
    display_.start = start;
    display_.end = end;
    window_->Refresh();
  }

  std::vector<double> Numbers(RecordSet& set, std::string_view field) {
    std::vector<double> out;
    const int f = set.FieldIndex(field);
    for (int i = 0; i < set.RecordCount(); ++i) {
      const CellValue v = set.Cell(i, f);
      out.push_back(std::holds_alternative<double>(v) ? std::get<double>(v)
                                                      : -1);
    }
    return out;
  }

  static testing::ServerProcess* server_;
  // params.cfg and the exchanged files, beside the host program.
  testing::MemoryEnv env_;
  testing::RecordingDisplay display_;
  std::unique_ptr<InterfaceWindowModel> window_;

  // The requests of windows made by Open(): counted, then `on_request_`
  // (when set) runs as one begins.
  void RequestBegins() override {
    ++requests_;
    ++open_requests_;
    if (on_request_) on_request_();
  }
  void RequestEnds() override { --open_requests_; }
  int requests_ = 0;
  int open_requests_ = 0;
  std::function<void()> on_request_;
};

testing::ServerProcess* InterfaceWindowTest::server_ = nullptr;

TEST_F(InterfaceWindowTest, ShowResetsTheViewWithoutQuerying) {
  window_ = std::make_unique<InterfaceWindowModel>(kBbsk, &env_, &display_);
  window_->LoadSettings();
  window_->Connect(server_->machine());
  EXPECT_EQ(display_.pick_item, kSalesItem);
  EXPECT_EQ(window_->pick_item(), kSalesItem);
  EXPECT_EQ(window_->document_count(), 0);
  EXPECT_EQ(window_->view(), View::kOpenSales);
  EXPECT_FALSE(window_->documents().active());
  EXPECT_TRUE(display_.messages.empty());
}

TEST_F(InterfaceWindowTest, QueryLoadsDocumentsWithLinesAndShowsTheCount) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 10));

  DocumentSet& documents = w.documents();
  EXPECT_EQ(documents.name(), "ClientDataSet1");
  EXPECT_EQ(documents.params(),
            (std::vector<std::string>{"2002-08-01", "2002-08-10"}));
  EXPECT_THAT(Numbers(documents, "DHAO00"), ElementsAre(1001, 1002, 1004));
  EXPECT_EQ(w.document_count(), 3);
  EXPECT_EQ(display_.status[kCountPanel], "记录数=3"_gbk);
  // On the first document, whose two lines the detail set shows.
  EXPECT_EQ(documents.RecNo(), 0);
  EXPECT_EQ(documents.AsString("JSHJ00").value(), "壹仟肆佰零肆元整"_gbk);
  EXPECT_EQ(w.lines().RecordCount(), 2);
  documents.MoveTo(1);
  EXPECT_THAT(Numbers(w.lines(), "JE0000"), ElementsAre(300.5));
  // Busy display around the request; everything restored afterwards.
  EXPECT_THAT(display_.log,
              ElementsAre("cursor busy", "refresh off",
                          "status2=" + "查询中，请稍候……"_gbk, "process",
                          "status0=" + "记录数=3"_gbk, "refresh on",
                          "status2=", "cursor normal"));
  EXPECT_TRUE(display_.errors.empty());

  // A new query drops the old documents first, answering messages while it
  // frees them.
  display_.log.clear();
  Query(D(2002, 8, 2), D(2002, 8, 2));
  EXPECT_THAT(display_.log,
              ElementsAre("cursor busy", "refresh off",
                          "status2=" + "查询中，请稍候……"_gbk, "process",
                          "process", "status0=" + "记录数=1"_gbk, "refresh on",
                          "status2=", "cursor normal"));
}

// A query whose documents do not fit in the memory the window's sets may
// take: the user reads why and what to do, nothing half-loaded shows, and
// the window comes back to its normal state, ready for a smaller query.
TEST_F(InterfaceWindowTest, QueryBeyondTheMemoryBudgetSaysWhatToDo) {
  InterfaceWindowModel& w = Open();
  w.documents().set_memory_budget(std::make_shared<MemoryBudget>(4096));
  Query(D(2002, 8, 1), D(2002, 8, 10));
  ASSERT_EQ(display_.errors.size(), 1u);
  EXPECT_THAT(display_.errors[0],
              ::testing::StartsWith("内存不足，容纳不下查询到的单据"_gbk));
  EXPECT_THAT(display_.errors[0],
              ::testing::EndsWith("请缩小日期区间后重新查询。"_gbk));
  EXPECT_FALSE(w.documents().active());
  EXPECT_EQ(w.lines().RecordCount(), 0);
  EXPECT_TRUE(display_.refresh_enabled);
  EXPECT_FALSE(display_.busy_cursor);
  EXPECT_EQ(display_.status[kBusyPanel], "");

  w.documents().set_memory_budget(
      std::make_shared<MemoryBudget>(size_t{16} << 20));
  Query(D(2002, 8, 1), D(2002, 8, 10));
  EXPECT_EQ(display_.errors.size(), 1u);
  EXPECT_EQ(w.documents().RecordCount(), 3);
  EXPECT_EQ(display_.status[kCountPanel], "记录数=3"_gbk);
}

TEST_F(InterfaceWindowTest, DateRangeChecks) {
  struct Case {
    CalendarDate start, end;
    int documents;  // -1: refused
  } cases[] = {
      {D(2002, 8, 2), D(2002, 8, 2), 1},    // one day: 1002 (1003 is invoiced)
      {D(2002, 8, 3), D(2002, 8, 9), 0},    // nothing in the range
      {D(2002, 8, 10), D(2002, 8, 1), -1},  // start after end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(text::IsoDate(c.start) + " .. " + text::IsoDate(c.end));
    InterfaceWindowModel& w = Open();
    Query(D(2002, 8, 1), D(2002, 8, 31));
    ASSERT_EQ(w.document_count(), 3);
    display_.messages.clear();
    requests_ = 0;
    Query(c.start, c.end);
    if (c.documents < 0) {
      ASSERT_EQ(display_.messages.size(), 1u);
      EXPECT_EQ(display_.messages[0].text,
                "查询截至日期不能小于起始日期！"_gbk);
      EXPECT_EQ(display_.messages[0].kind, MessageKind::kError);
      EXPECT_EQ(display_.messages[0].owner, MessageOwner::kOwnerWindow);
      EXPECT_EQ(requests_, 0);
      EXPECT_EQ(w.document_count(), 3);  // nothing changed
      EXPECT_EQ(w.documents().RecordCount(), 3);
    } else {
      EXPECT_TRUE(display_.messages.empty());
      EXPECT_EQ(requests_, 1);
      EXPECT_TRUE(w.documents().active());
      EXPECT_EQ(w.document_count(), c.documents);
      EXPECT_EQ(display_.status[kCountPanel],
                "记录数="_gbk + std::to_string(c.documents));
      if (c.documents == 0) {
        EXPECT_EQ(w.lines().RecordCount(), 0);
      }
    }
  }
}

TEST_F(InterfaceWindowTest, ViewSwitchQueriesOnlyClosedSets) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  ASSERT_EQ(requests_, 1);

  // Void documents: a closed set, queried with the dates in the pickers.
  w.PickListChanged(kVoidItem);
  EXPECT_EQ(w.view(), View::kOpenVoid);
  EXPECT_EQ(w.documents().name(), "ClientDataSet3");
  EXPECT_EQ(w.lines().name(), "ClientDataSet4");
  EXPECT_EQ(requests_, 2);
  EXPECT_EQ(w.document_count(), 1);
  EXPECT_EQ(display_.status[kCountPanel], "记录数=1"_gbk);
  EXPECT_EQ(w.lines().RecordCount(), 1);

  // Back to sales: shown as last loaded, without a query; the count follows
  // the documents shown.
  display_.start = D(2002, 8, 10);
  w.PickListChanged(kSalesItem);
  EXPECT_EQ(w.view(), View::kOpenSales);
  EXPECT_EQ(requests_, 2);
  EXPECT_EQ(w.documents().RecordCount(), 3);
  EXPECT_EQ(w.documents().params(),
            (std::vector<std::string>{"2002-08-01", "2002-08-31"}));
  EXPECT_EQ(w.document_count(), 3);
  EXPECT_EQ(display_.status[kCountPanel], "记录数=3"_gbk);

  // Invoiced sales: ClientDataSet5 with the invoiced document only.
  display_.start = D(2002, 8, 1);
  w.RadioChecked(true);
  EXPECT_EQ(w.documents().name(), "ClientDataSet5");
  EXPECT_THAT(Numbers(w.documents(), "DHAO00"), ElementsAre(1003));
  EXPECT_EQ(requests_, 3);
  EXPECT_GE(display_.rebinds, 3);

  // Clicking the checked radio button or choosing the chosen item again
  // changes nothing.
  const int rebinds = display_.rebinds;
  w.RadioChecked(true);
  w.PickListChanged(kSalesItem);
  EXPECT_EQ(requests_, 3);
  EXPECT_EQ(display_.rebinds, rebinds);
}

TEST_F(InterfaceWindowTest, StartDateCloseUpFollowsTheOneDayFlag) {
  for (bool d : {false, true}) {
    SCOPED_TRACE(d ? "d=1" : "d=0");
    InterfaceWindowModel& w = Open();
    w.values().one_day_range = d;
    requests_ = 0;
    display_.start = D(2002, 8, 2);
    display_.end = D(2002, 8, 31);
    w.StartDateChosen();
    if (d) {
      EXPECT_EQ(display_.end, (D(2002, 8, 2)));
      EXPECT_EQ(requests_, 1);
      EXPECT_EQ(w.document_count(), 1);
      EXPECT_EQ(w.documents().params(),
                (std::vector<std::string>{"2002-08-02", "2002-08-02"}));
    } else {
      EXPECT_EQ(display_.end, (D(2002, 8, 31)));
      EXPECT_EQ(requests_, 0);
      EXPECT_THAT(display_.log, ElementsAre("focus end date"));
    }
    // Closing the end-date calendar always queries.
    w.EndDateChosen();
    EXPECT_EQ(requests_, d ? 2 : 1);
  }
}

TEST_F(InterfaceWindowTest, ActivationAsksForMissingFileSettingsOnce) {
  struct Case {
    const char* name;
    Settings values;
    bool prompt;
  } cases[] = {
      {"all set, invoice texts empty",
       {"r", "w1", "w2", "", "", "", false},
       false},
      {"read missing", {"", "w1", "w2", "a", "b", "c", true}, true},
      {"write1 missing", {"r", "", "w2", "", "", "", false}, true},
      {"write2 missing", {"r", "w1", "", "", "", "", false}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    display_ = testing::RecordingDisplay();
    window_ = std::make_unique<InterfaceWindowModel>(kBbsk, &env_, &display_);
    window_->values() = c.values;
    window_->AskForMissingSettings();
    if (c.prompt) {
      ASSERT_EQ(display_.messages.size(), 1u);
      EXPECT_EQ(display_.messages[0].text, "请先设置接口参数！"_gbk);
      EXPECT_EQ(display_.messages[0].kind, MessageKind::kInfo);
      EXPECT_EQ(display_.messages[0].owner, MessageOwner::kNone);
      EXPECT_THAT(display_.log, ElementsAre("message", "settings"));
    } else {
      EXPECT_TRUE(display_.log.empty());
    }
    // Later activations (after a dialog or a message box) do nothing.
    display_.log.clear();
    window_->AskForMissingSettings();
    EXPECT_TRUE(display_.log.empty());
  }
}

TEST_F(InterfaceWindowTest, FirstStartCreatesTheSettingsFileAndAsks) {
  window_ = std::make_unique<InterfaceWindowModel>(kBbsk, &env_, &display_);
  window_->LoadSettings();
  EXPECT_TRUE(env_.FileExists("C:\\HOST\\params.cfg"));
  Settings typed{"C:\\in.txt", "C:\\s.txt", "C:\\v.txt", "", "", "", true};
  display_.dialog_result = &typed;
  window_->AskForMissingSettings();
  EXPECT_EQ(display_.settings_runs, 1);
  EXPECT_EQ(display_.settings_section, "Bbsk");
  EXPECT_EQ(window_->values(), typed);
}

TEST_F(InterfaceWindowTest, ConnectionFailureAtShow) {
  window_ = std::make_unique<InterfaceWindowModel>(kBbsk, &env_, &display_);
  window_->LoadSettings();
  // A port nobody listens on.
  window_->Connect("127.0.0.1:1");
  ASSERT_EQ(display_.messages.size(), 1u);
  EXPECT_EQ(display_.messages[0].text, "无法建立数据库连接！"_gbk);
  EXPECT_EQ(display_.messages[0].kind, MessageKind::kError);
  // The rest of the show step is skipped: the pick list stays empty, and the
  // radio buttons then choose void documents.
  EXPECT_EQ(display_.pick_item, kNoItem);
  EXPECT_EQ(window_->pick_item(), kNoItem);

  // A query tries again, fails with the system's message, and leaves the
  // window usable.
  display_.log.clear();
  window_->Refresh();
  ASSERT_EQ(display_.errors.size(), 1u);
  EXPECT_FALSE(display_.errors[0].empty());
  EXPECT_FALSE(window_->documents().active());
  EXPECT_TRUE(display_.refresh_enabled);
  EXPECT_FALSE(display_.busy_cursor);
  EXPECT_EQ(display_.status[kBusyPanel], "");
  EXPECT_FALSE(window_->busy());

  window_->RadioChecked(true);
  EXPECT_EQ(window_->view(), View::kDoneVoid);
}

// Input handled while a query processes messages.
TEST_F(InterfaceWindowTest, SecondLongActionWaitsForTheFirst) {
  InterfaceWindowModel& w = Open();
  display_.start = D(2002, 8, 1);
  display_.end = D(2002, 8, 31);
  display_.on_process = [&] {
    EXPECT_TRUE(w.busy());
    // Another query, the settings dialog and a view change, all at once.
    w.Refresh();
    w.EndDateChosen();
    w.EditSettings();
    w.PickListChanged(kVoidItem);
    // Nothing happened yet: the running query still has its set.
    EXPECT_EQ(w.view(), View::kOpenSales);
    EXPECT_EQ(requests_, 0);
  };
  w.Refresh();
  // The query ran on the sales set, then the view change queried the void
  // set; the queries asked for meanwhile were served by that one.
  EXPECT_EQ(display_.settings_runs, 0);
  EXPECT_EQ(requests_, 2);
  EXPECT_EQ(w.sets().master(View::kOpenSales).RecordCount(), 3);
  EXPECT_EQ(w.view(), View::kOpenVoid);
  EXPECT_EQ(w.document_count(), 1);
  EXPECT_FALSE(w.busy());
  // Afterwards the settings dialog opens again.
  w.EditSettings();
  EXPECT_EQ(display_.settings_runs, 1);
}

TEST_F(InterfaceWindowTest, QueryAskedForDuringALongActionRunsAfterIt) {
  InterfaceWindowModel& w = Open();
  display_.start = D(2002, 8, 1);
  display_.end = D(2002, 8, 31);
  {
    InterfaceWindowModel::LongAction export_run(&w);
    ASSERT_TRUE(export_run.started());
    InterfaceWindowModel::LongAction second(&w);
    EXPECT_FALSE(second.started());
    w.Refresh();
    EXPECT_EQ(requests_, 0);
  }
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(w.document_count(), 3);
}

TEST_F(InterfaceWindowTest, ClosingDuringAQueryWaitsForItsEnd) {
  InterfaceWindowModel& w = Open();
  display_.start = D(2002, 8, 1);
  display_.end = D(2002, 8, 31);
  display_.on_process = [&] {
    EXPECT_FALSE(w.CanClose());  // close box
    w.Exit();
    w.PickListChanged(kVoidItem);
    EXPECT_EQ(display_.closes, 0);
  };
  w.Refresh();
  EXPECT_EQ(display_.closes, 1);
  EXPECT_EQ(requests_, 1);  // the view change is dropped: the window goes
  EXPECT_EQ(w.document_count(), 3);
  // Exit when idle closes at once.
  display_.closes = 0;
  w.Exit();
  EXPECT_EQ(display_.closes, 1);
}

TEST_F(InterfaceWindowTest, CloseDropsTheNotInvoicedSets) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  w.RadioChecked(true);
  ASSERT_TRUE(w.sets().master(View::kDoneSales).active());
  w.Close();
  EXPECT_FALSE(w.sets().master(View::kOpenSales).active());
  EXPECT_FALSE(w.sets().master(View::kOpenVoid).active());
  // Nothing runs any more once the window is closing.
  requests_ = 0;
  w.Refresh();
  EXPECT_EQ(requests_, 0);
}

TEST_F(InterfaceWindowTest, BusyAndProgressDisplaysForExportAndImport) {
  InterfaceWindowModel& w = Open();
  w.BeginBusy("导出中"_gbk);
  w.StartProgress(2);
  w.StepProgress();
  w.ProcessMessages();
  w.EndProgress();
  w.EndBusy();
  EXPECT_THAT(display_.log,
              ElementsAre("cursor busy", "status2=" + "导出中"_gbk, "process",
                          "progress 2", "step", "process", "progress end",
                          "status2=", "cursor normal"));
}

TEST_F(InterfaceWindowTest, ExportWritesTheViewAndRestoresTheWindow) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  ASSERT_EQ(w.document_count(), 3);
  const std::string path = "C:\\HOST\\w1.txt";
  w.values().sales_file = path;
  w.values().reviewer = "复核"_gbk;
  w.values().payee = "@dwmc00"_gbk;
  w.values().tax_item = "卷烟"_gbk;
  display_.confirm_answer = true;
  display_.log.clear();
  display_.messages.clear();
  display_.on_process = [&] {
    // Neither a second export nor a query starts inside the running one.
    w.ExportDocuments();
    w.Refresh();
    EXPECT_EQ(requests_, 1);
  };
  w.ExportDocuments();

  ASSERT_EQ(display_.messages.size(), 2u);
  EXPECT_EQ(display_.messages[0].kind, MessageKind::kConfirm);
  EXPECT_EQ(display_.messages[0].owner, MessageOwner::kOwnerWindow);
  EXPECT_THAT(
      display_.messages[0].text,
      ::testing::StartsWith(
          "是否导出日期为2002年08月01日至2002年08月31日的销售单据？\r"_gbk));
  EXPECT_EQ(display_.messages[1].text, "导出成功！"_gbk);
  EXPECT_EQ(display_.messages[1].kind, MessageKind::kInfo);
  EXPECT_EQ(display_.messages[1].owner, MessageOwner::kOwnerWindow);
  // The query asked for during the export ran after it.
  EXPECT_EQ(requests_, 2);
  EXPECT_FALSE(w.busy());
  EXPECT_FALSE(display_.busy_cursor);
  EXPECT_EQ(display_.status[kBusyPanel], "");

  std::string file;
  ASSERT_TRUE(env_.ReadFile(path, &file).ok());
  EXPECT_THAT(file,
              ::testing::StartsWith(
                  "SJJK0101~~销售单据传入~~2002年08月01日至2002年08月31日\r\n"
                  "//单据\r\n1001~~2~~甲公司~~530100000000001~~昆明~~"
                  "工商银行6222~~备注一~~复核~~甲公司~~~~20020801\r\n"_gbk));
  size_t markers = 0;
  for (size_t at = file.find("//"); at != std::string::npos;
       at = file.find("//", at + 1)) {
    ++markers;
  }
  EXPECT_EQ(markers, 3u);
}

// The export reads each setting from its own member: the question names the
// file of the view's kind and the three invoice texts.
TEST_F(InterfaceWindowTest, ExportTakesEachSettingFromItsOwnMember) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  w.values() = Settings{.invoice_file = "in.txt",
                        .sales_file = "sales.txt",
                        .void_file = "void.txt",
                        .reviewer = "R",
                        .payee = "P",
                        .tax_item = "T"};
  display_.confirm_answer = false;
  const struct {
    int item;
    const char* list;
    const char* file;
  } cases[] = {
      {kSalesItem, "销售单据", "sales.txt"},
      {kVoidItem, "报废单据", "void.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    w.PickListChanged(c.item);
    display_.messages.clear();
    w.ExportDocuments();
    ASSERT_EQ(display_.messages.size(), 1u);
    EXPECT_EQ(display_.messages[0].text,
              text::Utf8ToGbk(std::string("是否导出日期为2002年08月01日至"
                                          "2002年08月31日的") +
                              c.list +
                              "？\r发票的复核人是:“R”,收款人是:“P”,税目是:“T”"
                              "，\r导出文件为：" +
                              c.file));
  }
}

TEST_F(InterfaceWindowTest, ExportWithoutFileLocationsOpensTheSettings) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  w.values().void_file.clear();
  display_.messages.clear();
  w.ExportDocuments();
  ASSERT_EQ(display_.messages.size(), 1u);
  EXPECT_EQ(display_.messages[0].text, "请指定导出文件位置！"_gbk);
  EXPECT_EQ(display_.messages[0].kind, MessageKind::kWarning);
  EXPECT_EQ(display_.settings_runs, 1);
  EXPECT_FALSE(w.busy());
}

TEST_F(InterfaceWindowTest, ImportWritesBackAndShowsTheInvoicedView) {
  InterfaceWindowModel& w = Open();
  const std::string path = "C:\\HOST\\invoices.txt";
  ASSERT_TRUE(env_.WriteFile(path,
                             "SJJK0201\r\n2~~20020801~~20020831\r\n"
                             "0~~x~~x~~0100000009~~00000077~~0~~20020805~~x~~"
                             "1002\r\n"
                             "1~~x~~x~~0100000009~~00000078~~0~~20020805~~x~~"
                             "2001\r\n")
                  .ok());
  w.values().invoice_file = path;
  display_.confirm_answer = true;
  display_.on_process = [&] {
    // No export starts inside the running import.
    w.ExportDocuments();
  };
  w.ImportInvoices();

  ASSERT_EQ(display_.messages.size(), 2u);
  EXPECT_EQ(display_.messages[0].text, "是否读入销售发票文件"_gbk + path);
  EXPECT_EQ(display_.messages[0].kind, MessageKind::kConfirm);
  EXPECT_EQ(display_.messages[1].text, "读入成功！"_gbk);
  EXPECT_EQ(display_.messages[1].owner, MessageOwner::kOwnerWindow);
  EXPECT_EQ(display_.start, D(2002, 8, 1));
  EXPECT_EQ(display_.end, D(2002, 8, 31));
  // After the import the invoiced view was queried with the file's range:
  // 1003 was invoiced before, 1002 now.
  EXPECT_TRUE(w.invoiced());
  EXPECT_EQ(w.view(), View::kDoneSales);
  EXPECT_THAT(Numbers(w.documents(), "DHAO00"), ElementsAre(1002.0, 1003.0));
  EXPECT_FALSE(display_.busy_cursor);
  EXPECT_EQ(display_.status[kBusyPanel], "");
  EXPECT_FALSE(w.busy());
}

// The exchange journal as the server keeps it: each export recorded with
// the file as written and the desk; the same view exported again warns.
TEST_F(InterfaceWindowTest, ExportsAreJournaledAndAnExportAgainWarns) {
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  ASSERT_EQ(w.document_count(), 3);
  const std::string path = "C:\\HOST\\销售.txt"_gbk;
  w.values().sales_file = path;
  display_.confirm_answer = true;
  display_.warning_answer = false;
  w.ExportDocuments();
  ASSERT_EQ(display_.messages.size(), 2u);
  EXPECT_EQ(display_.messages[1].text, "导出成功！"_gbk);
  std::string file;
  ASSERT_TRUE(env_.ReadFile(path, &file).ok());
  Sha256 hash;
  hash.Update(file);
  Result<std::string> hex = hash.HexDigest();
  ASSERT_TRUE(hex.ok());
  EXPECT_EQ(server_->Select("SELECT KIND, LINE, DOC_KIND, FIRST_DATE, "
                            "LAST_DATE, FILE_NAME, FILE_SIZE, FILE_HASH, "
                            "OUTCOME, COMPUTER, USER_NAME FROM SKJK_JOURNAL"),
            "export|Bbsk|sales|2002-08-01|2002-08-31|C:\\HOST\\销售.txt|" +
                std::to_string(file.size()) + "|" + *hex +
                "|completed|DESK-7|clerk");
  EXPECT_EQ(server_->Select("SELECT DHAO00 FROM SKJK_JOURNAL_DOC ORDER BY 1"),
            "1001;1002;1004");

  // Again: the warning names the documents, and No leaves the file.
  ASSERT_TRUE(env_.WriteFile(path, "as it was").ok());
  display_.messages.clear();
  w.ExportDocuments();
  ASSERT_EQ(display_.messages.size(), 2u);
  EXPECT_EQ(display_.messages[1].kind, MessageKind::kWarningQuestion);
  EXPECT_THAT(
      text::GbkToUtf8(display_.messages[1].text),
      ::testing::MatchesRegex(
          "本次导出的单据中有3张已经导出过，至今还没有开具发票（最近一次"
          "于[-0-9]{10} [:0-9]{8}导出到文件C:\\\\HOST\\\\销售\\.txt）。\r"
          "重复导出可能造成重复开票，是否仍然导出？"));
  ASSERT_TRUE(env_.ReadFile(path, &file).ok());
  EXPECT_EQ(file, "as it was");
  EXPECT_EQ(server_->Select("SELECT COUNT(*) FROM SKJK_JOURNAL"), "1");
}

// The import's check against the server's tables: the same file again asks
// nothing; a file with other numbers and a document the tables lack asks,
// and No leaves the database as it was. The write-back's journal entry
// names the file and the desk.
TEST_F(InterfaceWindowTest, ImportChecksTheFileAgainstTheDatabase) {
  InterfaceWindowModel& w = Open();
  const std::string path = "C:\\HOST\\invoices.txt";
  const std::string file =
      "SJJK0201\r\n2~~20020801~~20020831\r\n"
      "0~~x~~x~~0100000009~~00000077~~0~~20020805~~x~~1002\r\n"
      "1~~x~~x~~0100000009~~00000078~~0~~20020805~~x~~2001\r\n";
  w.values().invoice_file = path;
  display_.confirm_answer = true;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "first" : "the same file again");
    ASSERT_TRUE(env_.WriteFile(path, file).ok());
    display_.messages.clear();
    w.ImportInvoices();
    ASSERT_EQ(display_.messages.size(), 2u);
    EXPECT_EQ(display_.messages[1].text, "读入成功！"_gbk);
  }
  EXPECT_EQ(server_->Select("SELECT KIND, LINE, FILE_NAME, COMPUTER, "
                            "USER_NAME FROM SKJK_JOURNAL ORDER BY ID LIMIT 1"),
            "writeback|Bbsk|C:\\HOST\\invoices.txt|DESK-7|clerk");
  const std::string before =
      server_->Select("SELECT DHAO00, FPHAO0 FROM XSTXSFP1 ORDER BY 1") +
      server_->Select("SELECT DHAO00, FPHAO0 FROM XSTBFFP1 ORDER BY 1");

  ASSERT_TRUE(
      env_.WriteFile(path,
                     "SJJK0201\r\n3~~20020801~~20020831\r\n"
                     "0~~x~~x~~0100000009~~00000099~~0~~20020805~~x~~1002\r\n"
                     "1~~x~~x~~0100000009~~00000078~~0~~20020805~~x~~2001\r\n"
                     "0~~x~~x~~0100000009~~00000100~~0~~20020805~~x~~9999\r\n")
          .ok());
  display_.messages.clear();
  display_.warning_answer = false;
  w.ImportInvoices();
  ASSERT_EQ(display_.messages.size(), 3u);
  EXPECT_EQ(display_.messages[1].text,
            "发票文件与数据库中的单据不符：\r单据不存在：1张（9999）\r"
            "已有发票号（与文件中的不同）：1张（1002）\r是否仍然读入？"_gbk);
  EXPECT_EQ(display_.messages[2].text, "文件读入发生意外错误！"_gbk);
  EXPECT_EQ(
      server_->Select("SELECT DHAO00, FPHAO0 FROM XSTXSFP1 ORDER BY 1") +
          server_->Select("SELECT DHAO00, FPHAO0 FROM XSTBFFP1 ORDER BY 1"),
      before);
}

// After the customer window's import the delivery lines take the invoice
// numbers of the customer's documents; a delivery whose customer document
// has none keeps the number the visit-sales window wrote onto its lines.
TEST_F(InterfaceWindowTest, CustomerImportKeepsVisitSalesInvoices) {
  std::vector<std::string> fill;
  for (const char* d : {"8001", "8002"}) {
    fill.push_back(std::string("INSERT INTO XSTFXPS1 VALUES (") + d +
                   ", 'Z', '2003-08-01', 'Y1', 'Q1', 'K9', '01', '0')");
    fill.push_back(
        std::string("INSERT INTO XSTFXPS2 (DHAO00, SPDM00, DJIA00, SL0000,"
                    " JE0000) VALUES (") +
        d + ", '10010101', 100, 1, 100)");
  }
  ASSERT_TRUE(server_->Fill(fill).ok());
  InterfaceWindowModel& w =
      Open(GetBusinessLine(BusinessLineKey::kJqsk));  // copies both
  // 8001 is invoiced through the visit-sales window meanwhile.
  ASSERT_TRUE(server_
                  ->Fill({"update XSTFXPS2 set FPBBH0='220022',"
                          "FPHAO0='00000066' where SL0000<>0 AND DHAO00=8001"})
                  .ok());
  const std::string path = "C:\\HOST\\customer-invoices.txt";
  ASSERT_TRUE(env_.WriteFile(path,
                             "SJJK0201\r\n1~~20030801~~20030831\r\n"
                             "0~~x~~x~~110012~~00000088~~1~~20030805~~x~~"
                             "8002\r\n"
                             "1~~红塔山~~x~~x~~1~~100~~0.17~~17\r\n"_gbk)
                  .ok());
  w.values().invoice_file = path;
  display_.confirm_answer = true;
  w.ImportInvoices();
  ASSERT_EQ(display_.messages.size(), 2u);
  EXPECT_EQ(display_.messages[1].text, "读入成功！"_gbk);
  EXPECT_EQ(server_->Select("SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTFXPS2 "
                            "WHERE DHAO00 IN (8001, 8002) ORDER BY 1"),
            "8001|220022|00000066;8002|-|00000088");
  EXPECT_EQ(server_->Select("SELECT DHAO00, FPHAO0 FROM XSTJQSK1 "
                            "WHERE DHAO00 IN (8001, 8002) ORDER BY 1"),
            "8001|-;8002|00000088");

  // The journal shows the write-back with what the rows held before, and
  // its undo puts that back, leaving 8001's numbers from the other window.
  const std::string entry = server_->Select(
      "SELECT MAX(ID) FROM SKJK_JOURNAL WHERE KIND = 'writeback'");
  auto shown = testing::RunServerCommandCapturing(
      {"journal", "--db", server_->db_path(), "--document", "8002"});
  ASSERT_TRUE(shown.ok()) << shown.status().message();
  EXPECT_EQ(shown->exit_code, 0) << shown->err;
  EXPECT_NE(shown->out.find("#" + entry + " "), std::string::npos)
      << shown->out;
  for (const char* row : {"XSTJQSK1, document 8002, 1 row: (empty) -> "
                          "110012/00000088",
                          "XSTFXPS2, document 8002, 1 row: (empty) -> "
                          "(empty)/00000088"}) {
    EXPECT_NE(shown->out.find(row), std::string::npos) << shown->out;
  }
  auto undone = testing::RunServerCommandCapturing(
      {"journal", "--undo", entry, "--db", server_->db_path()});
  ASSERT_TRUE(undone.ok()) << undone.status().message();
  EXPECT_EQ(undone->exit_code, 0) << undone->err;
  EXPECT_EQ(server_->Select("SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTFXPS2 "
                            "WHERE DHAO00 IN (8001, 8002) ORDER BY 1"),
            "8001|220022|00000066;8002|-|-");
  EXPECT_EQ(server_->Select("SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTJQSK1 "
                            "WHERE DHAO00 IN (8001, 8002) ORDER BY 1"),
            "8001|-|-;8002|-|-");
}

TEST_F(InterfaceWindowTest, CustomerWindowCopiesItsDocumentsWhenShown) {
  const BusinessLine& customer = GetBusinessLine(BusinessLineKey::kJqsk);
  for (int showing = 0; showing < 2; ++showing) {
    display_.log.clear();
    window_ =
        std::make_unique<InterfaceWindowModel>(customer, &env_, &display_);
    window_->LoadSettings();
    window_->Connect(server_->machine());
    EXPECT_THAT(display_.log,
                ::testing::IsSupersetOf(
                    {"status2=" + "正在同步数据库，请稍候……"_gbk,
                     std::string("cursor busy"), std::string("status2=")}));
    EXPECT_EQ(display_.status[kBusyPanel], "");
    EXPECT_FALSE(display_.busy_cursor);
    Query(D(2002, 8, 1), D(2002, 8, 31));
    // Copied once, with its one line of a quantity other than 0.
    EXPECT_THAT(Numbers(window_->documents(), "DHAO00"), ElementsAre(3001.0))
        << "showing " << showing;
    EXPECT_EQ(window_->lines().RecordCount(), 1);
  }

  // The server goes away during the copy: the failure is told in the
  // status bar only, and the window works on.
  {
    auto lost = testing::ServerProcess::Start();
    ASSERT_TRUE(lost.ok()) << lost.status().message();
    display_.log.clear();
    display_.errors.clear();
    display_.messages.clear();
    window_ =
        std::make_unique<InterfaceWindowModel>(customer, &env_, &display_);
    window_->LoadSettings();
    display_.on_process = [&] { ASSERT_TRUE((*lost)->Stop().ok()); };
    window_->Connect((*lost)->machine());
    EXPECT_EQ(display_.status[kBusyPanel], "同步化发生错误！"_gbk);
    EXPECT_FALSE(display_.busy_cursor);
    EXPECT_TRUE(display_.errors.empty());
    EXPECT_TRUE(display_.messages.empty());
    EXPECT_FALSE(window_->busy());
  }

  // Without a connection nothing is copied and nothing is said about it.
  display_.log.clear();
  display_.status.clear();
  window_ = std::make_unique<InterfaceWindowModel>(customer, &env_, &display_);
  window_->LoadSettings();
  window_->Connect("127.0.0.1:1");
  EXPECT_EQ(display_.status.count(kBusyPanel), 0u);
}

// Documents first..first+n-1 of `date`, invoiced, in the visit-sales tables
// and in the customer window's own tables, each with one line.
std::vector<std::string> InvoicedDocuments(int first, int n,
                                           const std::string& date) {
  std::vector<std::string> v;
  for (int i = first; i < first + n; ++i) {
    const std::string d = std::to_string(i);
    v.push_back("INSERT INTO XSTFXPS1 (DHAO00,FPLB00,YWRQ00,KHDM00) VALUES (" +
                d + ",'Z','" + date + "','K1')");
    v.push_back(
        "INSERT INTO XSTFXPS2 (DHAO00,SPDM00,SL0000,FPBBH0,FPHAO0) VALUES (" +
        d + ",'10010101',1,'110012','" + d + "')");
    v.push_back("INSERT INTO XSTJQSK1 (DHAO00,FPHAO0,YWRQ00) VALUES (" + d +
                ",'" + d + "','" + date + "')");
    v.push_back("INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SL0000) VALUES (" + d +
                ",'10010101',1)");
  }
  return v;
}

// The invoiced sales views of the visit-sales and customer windows load 10
// documents at a time; moving past the last one fetches the next packet.
TEST_F(InterfaceWindowTest, InvoicedViewFetchesAPacketPastItsLastDocument) {
  ASSERT_TRUE(server_->Fill(InvoicedDocuments(5001, 25, "2003-05-10")).ok());
  for (BusinessLineKey key : {BusinessLineKey::kFxsk, BusinessLineKey::kJqsk}) {
    SCOPED_TRACE(GetBusinessLine(key).name);
    InterfaceWindowModel& w = Open(GetBusinessLine(key));
    display_.start = D(2003, 5, 1);
    display_.end = D(2003, 5, 31);
    w.RadioChecked(true);
    DocumentSet& set = w.documents();
    EXPECT_EQ(display_.status[kCountPanel], "记录数=10"_gbk);
    // Moving within the loaded documents fetches nothing.
    int before = requests_;
    set.MoveTo(8);
    set.Next();
    EXPECT_EQ(requests_, before);
    for (int loaded : {20, 25}) {
      display_.log.clear();
      before = requests_;
      w.MovePastLastDocument();
      EXPECT_EQ(requests_, before + 1);
      const std::string count = "记录数="_gbk + std::to_string(loaded);
      EXPECT_THAT(display_.log,
                  ElementsAre("cursor busy",
                              "status2=" + "查询中，请稍候……"_gbk, "process",
                              "status0=" + count, "status2=", "cursor normal"));
      EXPECT_EQ(set.RecordCount(), loaded);
      // The cursor stays on the document it stood on; the next one is
      // there now.
      EXPECT_EQ(set.RecNo(), loaded == 20 ? 9 : 19);
      EXPECT_FALSE(set.Eof());
    }
    // Exhausted: past the end nothing is asked for and nothing changes.
    before = requests_;
    display_.log.clear();
    w.MovePastLastDocument();
    EXPECT_EQ(set.RecNo(), 19);
    set.MoveTo(24);
    w.MovePastLastDocument();
    EXPECT_EQ(requests_, before);
    EXPECT_TRUE(set.Eof());
    EXPECT_EQ(display_.status[kCountPanel], "记录数=25"_gbk);
    EXPECT_THAT(display_.log, ::testing::IsEmpty());
    // The document count stays the number loaded by the query.
    EXPECT_EQ(w.document_count(), 10);
    std::vector<double> expected;
    for (int d = 5001; d <= 5025; ++d) expected.push_back(d);
    EXPECT_EQ(Numbers(set, "DHAO00"), expected);
  }

  // The head-office window loads everything at once: nothing to fetch, and
  // scrolling on at the end does not move the cursor to the last document.
  InterfaceWindowModel& w = Open();
  Query(D(2002, 8, 1), D(2002, 8, 31));
  const int before = requests_;
  display_.log.clear();
  w.MovePastLastDocument();
  EXPECT_EQ(w.documents().RecNo(), 0);
  EXPECT_FALSE(w.documents().Eof());
  w.documents().MoveTo(2);
  w.MovePastLastDocument();
  EXPECT_TRUE(w.documents().Eof());
  EXPECT_EQ(requests_, before);
  EXPECT_THAT(display_.log, ::testing::IsEmpty());
}

TEST_F(InterfaceWindowTest,
       PacketsNeitherSkipNorRepeatDocumentsWrittenMeanwhile) {
  ASSERT_TRUE(server_->Fill(InvoicedDocuments(5101, 25, "2003-07-10")).ok());
  struct Case {
    BusinessLineKey key;
    std::string uninvoice;  // the first five loaded documents lose their
                            // invoices after the first packet
  } cases[] = {
      {BusinessLineKey::kFxsk,
       "UPDATE XSTFXPS2 SET FPHAO0='' WHERE DHAO00 BETWEEN 5101 AND 5105"},
      {BusinessLineKey::kJqsk,
       "UPDATE XSTJQSK1 SET FPHAO0=NULL WHERE DHAO00 BETWEEN 5101 AND 5105"},
  };
  int added = 5126;
  for (const Case& c : cases) {
    SCOPED_TRACE(GetBusinessLine(c.key).name);
    ASSERT_TRUE(server_
                    ->Fill({"UPDATE XSTFXPS2 SET FPHAO0=DHAO00 WHERE "
                            "DHAO00 BETWEEN 5101 AND 5105",
                            "UPDATE XSTJQSK1 SET FPHAO0=DHAO00 WHERE "
                            "DHAO00 BETWEEN 5101 AND 5105"})
                    .ok());
    InterfaceWindowModel& w = Open(GetBusinessLine(c.key));
    display_.start = D(2003, 7, 1);
    display_.end = D(2003, 7, 31);
    w.RadioChecked(true);
    ASSERT_EQ(w.documents().RecordCount(), 10);
    // Five loaded documents drop out of the view, three new ones come in.
    std::vector<std::string> meanwhile =
        InvoicedDocuments(added, 3, "2003-07-11");
    meanwhile.push_back(c.uninvoice);
    ASSERT_TRUE(server_->Fill(meanwhile).ok());
    for (int i = 0; i < 5; ++i) w.MovePastLastDocument();
    std::vector<double> expected;
    for (int d = 5101; d <= 5125; ++d) expected.push_back(d);
    for (int d = 5126; d < added + 3; ++d) expected.push_back(d);
    added += 3;
    EXPECT_EQ(Numbers(w.documents(), "DHAO00"), expected);
  }
}

// Stops the server process (a child of this one) until ResumeServer: a
// request sent meanwhile stays unanswered, so the window waits for it and
// processes messages. Returns once the process has stopped.
void PauseServer(pid_t pid) {
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status));
}
void ResumeServer(pid_t pid) { kill(pid, SIGCONT); }

// A refresh or closing clicked while the next packet is being received waits
// until the packet is in: the packet fills the set it was fetched for, then
// the query runs on that set (or the window closes, dropping the query).
TEST_F(InterfaceWindowTest, RefreshOrCloseDuringAPacketWaitsForIt) {
  ASSERT_TRUE(server_->Fill(InvoicedDocuments(6001, 25, "2003-09-10")).ok());
  struct Case {
    const char* name;
    bool refresh;
    bool close;
  };
  for (const Case& c :
       {Case{"refresh", true, false}, Case{"close", false, true},
        Case{"refresh, then close", true, true}}) {
    SCOPED_TRACE(c.name);
    InterfaceWindowModel& w = Open(GetBusinessLine(BusinessLineKey::kFxsk));
    display_.start = D(2003, 9, 1);
    display_.end = D(2003, 9, 30);
    w.RadioChecked(true);
    DocumentSet& set = w.documents();
    ASSERT_EQ(set.RecordCount(), 10);

    // The first request from here on is the next packet's: the server is
    // held until the window, waiting for the answer, processes messages;
    // the clicks come then.
    const int before = requests_;
    bool clicked = false;
    on_request_ = [&] {
      if (requests_ != before + 1) return;
      PauseServer(server_->pid());
      display_.on_process = [&] {
        // The answer comes now, and is read once the clicks are done.
        ResumeServer(server_->pid());
        // Clicking outside a long action would free the set being filled.
        ASSERT_TRUE(w.busy());
        if (c.refresh) w.Refresh();
        if (c.close) {
          EXPECT_FALSE(w.CanClose());
          w.Exit();
        }
        clicked = true;
        // Nothing happened yet.
        EXPECT_EQ(requests_, before + 1);
        EXPECT_EQ(display_.closes, 0);
        EXPECT_EQ(set.RecordCount(), 10);
      };
    };
    display_.log.clear();
    w.MovePastLastDocument();
    ResumeServer(server_->pid());
    ASSERT_TRUE(clicked);

    EXPECT_FALSE(w.busy());
    // The packet was shown before anything asked for meanwhile ran.
    const std::string packet_count = "status0=" + "记录数=20"_gbk;
    const auto shown =
        std::find(display_.log.begin(), display_.log.end(), packet_count);
    ASSERT_NE(shown, display_.log.end());
    EXPECT_EQ(std::find(display_.log.begin(), shown, "refresh off"), shown);
    std::vector<double> expected;
    if (c.close) {
      // Closing wins: the query asked for too is dropped, and the set keeps
      // both packets.
      EXPECT_EQ(display_.closes, 1);
      EXPECT_EQ(requests_, before + 1);
      for (int d = 6001; d <= 6020; ++d) expected.push_back(d);
    } else {
      // The query ran after the packet, from the start again.
      EXPECT_EQ(display_.closes, 0);
      EXPECT_EQ(requests_, before + 2);
      EXPECT_EQ(display_.status[kCountPanel], "记录数=10"_gbk);
      EXPECT_EQ(w.document_count(), 10);
      for (int d = 6001; d <= 6010; ++d) expected.push_back(d);
    }
    EXPECT_EQ(Numbers(w.documents(), "DHAO00"), expected);
    EXPECT_TRUE(display_.errors.empty());
    display_.closes = 0;
  }
}

// The customer window filters its documents by number, business date,
// invoice date and invoice number; the filter is the bound set's own, so
// the export writes only what passes it.
TEST_F(InterfaceWindowTest, CustomerDocumentFilter) {
  std::vector<std::string> fill;
  const char* dates[] = {"2003-06-01", "2003-06-02", "2003-06-02",
                         "2003-06-03"};
  for (int i = 0; i < 4; ++i) {
    const std::string d = std::to_string(7001 + i);
    fill.push_back(
        "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,KHDM00,DWMC00,DWDZ00,SWDJH0,"
        "KHYH00,YHZH00) VALUES (" +
        d + ",'" + dates[i] + "','K9','vediruza商贸','地址','330100','银行','" +
        d + "')");
    fill.push_back(
        "INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SPMC00,SL0000,JE0000)"
        " VALUES (" +
        d + ",'10010101','红塔山',1,100)");
  }
  ASSERT_TRUE(server_->Fill(fill).ok());
  InterfaceWindowModel& w = Open(GetBusinessLine(BusinessLineKey::kJqsk));
  Query(D(2003, 6, 1), D(2003, 6, 30));
  ASSERT_EQ(w.document_count(), 4);
  constexpr int kNumber = 0, kDate = 1, kCode = 2, kInvoiceDate = 8,
                kInvoice = 10;

  EXPECT_THAT(w.FilterChoices(kDate),
              ElementsAre("2003-06-01", "2003-06-02", "2003-06-03"));
  EXPECT_THAT(w.FilterChoices(kInvoiceDate), ElementsAre(""));
  ASSERT_TRUE(w.SetColumnFilter(kDate, "2003-06-02"));
  EXPECT_THAT(Numbers(w.documents(), "DHAO00"), ElementsAre(7002.0, 7003.0));
  EXPECT_EQ(w.document_count(), 2);
  EXPECT_EQ(display_.status[kCountPanel], "记录数=2"_gbk);
  // The choices of a column are those left by the other columns' filters.
  EXPECT_THAT(w.FilterChoices(kNumber), ElementsAre("7002", "7003"));
  EXPECT_THAT(w.FilterChoices(kDate),
              ElementsAre("2003-06-01", "2003-06-02", "2003-06-03"));
  ASSERT_TRUE(w.SetColumnFilter(kNumber, "7003"));
  ASSERT_TRUE(w.SetColumnFilter(kInvoice, ""));
  EXPECT_THAT(Numbers(w.documents(), "DHAO00"), ElementsAre(7003.0));
  EXPECT_FALSE(w.SetColumnFilter(kCode, "K9"));
  EXPECT_EQ(w.ColumnFilter(kCode), nullptr);
  ASSERT_NE(w.ColumnFilter(kNumber), nullptr);
  EXPECT_EQ(*w.ColumnFilter(kNumber), "7003");

  // The export walks the filtered set.
  const std::string path = "C:\\HOST\\w1.txt";
  w.values().sales_file = path;
  display_.confirm_answer = true;
  // The runs export some documents again: the warning is answered Yes.
  display_.warning_answer = true;
  auto exported = [&] {
    w.ExportDocuments();
    std::string file;
    EXPECT_TRUE(env_.ReadFile(path, &file).ok());
    std::vector<std::string> numbers;
    const std::string marker = "//单据\r\n"_gbk;
    for (size_t at = file.find(marker); at != std::string::npos;
         at = file.find(marker, at + 1)) {
      numbers.push_back(file.substr(at + marker.size(), 4));
    }
    return numbers;
  };
  EXPECT_THAT(exported(), ElementsAre("7003"));
  ASSERT_TRUE(w.SetColumnFilter(kNumber, std::nullopt));
  EXPECT_THAT(exported(), ElementsAre("7002", "7003"));

  // The filter goes with the binding, and stays over a new query.
  w.RadioChecked(true);
  EXPECT_FALSE(w.sets().master(View::kOpenSales).filtered());
  EXPECT_TRUE(w.documents().filtered());
  w.RadioChecked(false);
  EXPECT_EQ(display_.status[kCountPanel], "记录数=2"_gbk);
  w.Refresh();
  EXPECT_THAT(Numbers(w.documents(), "DHAO00"), ElementsAre(7002.0, 7003.0));
  EXPECT_EQ(w.document_count(), 2);

  // No change while a long action runs: the export walks the set.
  display_.on_process = [&] {
    EXPECT_FALSE(w.SetColumnFilter(kDate, std::nullopt));
  };
  EXPECT_THAT(exported(), ElementsAre("7002", "7003"));
  ASSERT_TRUE(w.SetColumnFilter(kDate, std::nullopt));
  ASSERT_TRUE(w.SetColumnFilter(kInvoice, std::nullopt));
  EXPECT_EQ(w.document_count(), 4);
  EXPECT_FALSE(w.documents().filtered());
}

// ---- The exchange journal through the window, against a scripted server
// that plays the application server.

using protocol::MessageType;

// Head-office sales 1001 and 1002 of the query, in the wire's form.
std::string SalesRecords() {
  const layouts::Layout& layout = *layouts::ProviderLayout("dsp_bbsk1");
  std::string header, chunk;
  protocol::Writer h(&header);
  protocol::EncodeLayout(layout, &h);
  protocol::Writer c(&chunk);
  c.Varint(2);
  for (double number : {1001.0, 1002.0}) {
    Row row;
    for (const FieldDef& f : layout) {
      if (f.name == "DHAO00") {
        row.values.emplace_back(number);
      } else if (f.name == "SWDJH0" || f.name == "KHYH00") {
        row.values.emplace_back(std::string("x"));
      } else {
        row.values.emplace_back();
      }
    }
    testing::EncodeRow(layout, row, &c);
  }
  return protocol::Frame(MessageType::kRecordsHeader, header) +
         protocol::Frame(MessageType::kRecordsChunk, chunk) +
         protocol::Frame(MessageType::kRecordsEnd,
                         protocol::EncodeRecordsEnd(2, true));
}

class WindowJournalTest : public ::testing::Test {
 protected:
  WindowJournalTest()
      : server_(testing::Serving(&received_, [this](const testing::Request& r) {
          return Answer(r);
        })) {}

  void SetUp() override {
    window_ = std::make_unique<InterfaceWindowModel>(kBbsk, &env_, &display_);
    window_->LoadSettings();
    window_->values().invoice_file = "r.txt";
    window_->values().sales_file = "w1.txt";
    window_->values().void_file = "w2.txt";
    window_->Connect(server_.machine());
    display_.confirm_answer = true;
  }
  void TearDown() override { window_.reset(); }

  std::string Answer(const testing::Request& r) {
    switch (r.type) {
      case MessageType::kHello:
        return testing::HelloOkFrame();
      case MessageType::kGetRecords:
        return SalesRecords();
      case MessageType::kCheckExport: {
        std::lock_guard<std::mutex> lock(mutex_);
        return protocol::Frame(MessageType::kExportHistory,
                               protocol::EncodeExportHistory(history_));
      }
      case MessageType::kRecordExport:
        return protocol::Frame(MessageType::kOk, protocol::EncodeOk(1));
      case MessageType::kCheckInvoices: {
        protocol::InvoiceState state;
        state.sales.missing = {1002};
        return protocol::Frame(MessageType::kInvoiceState,
                               protocol::EncodeInvoiceState(state));
      }
      default:
        return protocol::Frame(MessageType::kError,
                               protocol::EncodeError("unexpected request"));
    }
  }
  void set_history(protocol::ExportHistory history) {
    std::lock_guard<std::mutex> lock(mutex_);
    history_ = std::move(history);
  }
  // The requests after the greeting, by type name.
  std::vector<std::string> Requests() const {
    std::vector<std::string> types = received_.Types();
    if (!types.empty()) types.erase(types.begin());
    return types;
  }

  testing::ReceivedRequests received_;
  std::mutex mutex_;
  protocol::ExportHistory history_;
  testing::ScriptedServer server_;
  testing::MemoryEnv env_;
  testing::RecordingDisplay display_;
  std::unique_ptr<InterfaceWindowModel> window_;
};

// The greeting names the desk as the system does (Env).
TEST_F(WindowJournalTest, TheGreetingNamesTheDesk) {
  protocol::Hello hello;
  ASSERT_TRUE(protocol::DecodeHello(
                  received_.Payloads(MessageType::kHello).at(0), &hello)
                  .ok());
  EXPECT_EQ(hello.computer, "DESK-7");
  EXPECT_EQ(hello.user, "clerk");
}

// The export's warning about documents exported before is a "警告" question
// owned by the host's window; No leaves the file as it was and records
// nothing, Yes exports and records the run.
TEST_F(WindowJournalTest, ExportingAgainAsksFirst) {
  window_->Refresh();
  ASSERT_EQ(window_->document_count(), 2);
  set_history({.documents = 2,
               .last_time = "2024-01-17 09:30:00",
               .last_file = "w1.txt"});
  const std::string path = "C:\\HOST\\w1.txt";
  window_->values().sales_file = path;
  for (bool answer : {false, true}) {
    SCOPED_TRACE(answer ? "yes" : "no");
    display_.messages.clear();
    display_.warning_answer = answer;
    window_->ExportDocuments();
    ASSERT_GE(display_.messages.size(), 2u);
    EXPECT_EQ(display_.messages[0].kind, MessageKind::kConfirm);
    const auto& warning = display_.messages[1];
    EXPECT_EQ(warning.kind, MessageKind::kWarningQuestion);
    EXPECT_EQ(warning.owner, MessageOwner::kOwnerWindow);
    EXPECT_THAT(warning.text, ::testing::HasSubstr("重复导出"_gbk));
    EXPECT_EQ(display_.messages.size(), answer ? 3u : 2u);
    EXPECT_EQ(env_.FileExists(path), answer);
    EXPECT_FALSE(window_->busy());
  }
  EXPECT_EQ(display_.messages[2].text, "导出成功！"_gbk);
  EXPECT_THAT(Requests(), ElementsAre("GetRecords", "CheckExport",
                                      "CheckExport", "RecordExport"));
}

// The import's question about documents that do not fit is a "警告"
// question too; No ends the import with its failure message and nothing
// written.
TEST_F(WindowJournalTest, ImportOfAFileThatDoesNotFitAsksFirst) {
  const std::string path = "C:\\HOST\\invoices.txt";
  ASSERT_TRUE(env_.WriteFile(path,
                             "SJJK0201\r\n2~~20020801~~20020831\r\n"
                             "0~~x~~x~~0100000009~~00000077~~0~~20020805~~x~~"
                             "1001\r\n"
                             "0~~x~~x~~0100000009~~00000078~~0~~20020805~~x~~"
                             "1002\r\n")
                  .ok());
  window_->values().invoice_file = path;
  window_->ImportInvoices();
  ASSERT_EQ(display_.messages.size(), 3u);
  EXPECT_EQ(display_.messages[1].kind, MessageKind::kWarningQuestion);
  EXPECT_EQ(display_.messages[1].owner, MessageOwner::kOwnerWindow);
  EXPECT_EQ(display_.messages[1].text,
            "发票文件与数据库中的单据不符：\r单据不存在：1张（1002）\r"
            "已有发票号（与文件中的不同）：0张\r是否仍然读入？"_gbk);
  EXPECT_EQ(display_.messages[2].text, "文件读入发生意外错误！"_gbk);
  EXPECT_EQ(display_.messages[2].kind, MessageKind::kError);
  EXPECT_THAT(Requests(), ElementsAre("CheckInvoices"));
  EXPECT_FALSE(window_->invoiced());
  EXPECT_FALSE(window_->busy());
}

}  // namespace
}  // namespace skjk
