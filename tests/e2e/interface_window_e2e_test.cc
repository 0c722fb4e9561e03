// The head-office interface window end to end: skjk.dll loaded by a host,
// ShowDllBbsk against a real skjk-server (started by the CTest fixture, its
// port in server.port beside this program), the window driven from a second
// thread through its controls. Screenshots of the window and of the settings
// dialog are saved beside this program. The export tests write into a folder
// of their own under the temporary folder.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "entry/entry_points.h"
#include "gtest/gtest.h"
#include "interface_window/win32/interface_window_frame.h"
#include "testing/win32/driver.h"

namespace skjk::e2e {
namespace {

using Ids = win32::InterfaceWindowFrame;

// The screen area of `window` as a 24-bit BMP file.
bool SaveWindowShot(HWND window, const std::wstring& path) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(200);
  return SaveScreenBitmap(window, path);
}

int ItemCount(HWND list) {
  return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

// Chooses a pick list item as the user does: the selection, then the
// change notification to the window.
void PickItem(HWND window, HWND pick_list, int index) {
  SendMessageW(pick_list, CB_SETCURSEL, index, 0);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(Ids::kPickListId, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(pick_list));
}

// The notification a date picker sends when its calendar closes.
void CloseCalendar(HWND window, HWND picker) {
  NMHDR header{};
  header.hwndFrom = picker;
  header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(picker));
  header.code = DTN_CLOSEUP;
  SendMessageW(window, WM_NOTIFY, header.idFrom,
               reinterpret_cast<LPARAM>(&header));
}

// What the driver saw, checked on the main thread afterwards.
struct Seen {
  bool window = false;
  std::vector<std::string> steps;  // "<step>: <panel 0>" in order
  std::wstring first_number, first_date, first_name, total, total_text,
      written_total;
  int document_rows = -1, line_rows = -1, lines_of_second = -1;
  int rows_after_switch_back = -1;
  bool dialog = false;
  bool dialog_closed = false;
  bool window_shot = false, dialog_shot = false;
};

// The settings file the window starts from: every file setting present, in
// forms that storing the same values rewrites (quotes, blanks around "=",
// "0x0" for 0) and with sm missing.
constexpr char kSeededSettings[] =
    "; kept\r\n"
    "[BBSK]\r\n"
    "read = C:\\in.txt\r\n"
    "Write1=\"C:\\s.txt\"\r\n"
    "write2 = 'C:\\v.txt' \r\n"
    "fhr=\r\n"
    "skr=\r\n"
    "d=0x0\r\n"
    "\r\n"
    "[Fxsk]\r\n"
    "read=F\r\n";
// The same file once the settings dialog has been confirmed as it stands:
// each key that did not hold its value exactly is rewritten in place, sm is
// added at the end of the section, every other byte stays.
constexpr char kStoredSettings[] =
    "; kept\r\n"
    "[BBSK]\r\n"
    "read = C:\\in.txt\r\n"
    "Write1=C:\\s.txt\r\n"
    "write2=C:\\v.txt\r\n"
    "fhr=\r\n"
    "skr=\r\n"
    "d=0\r\n"
    "sm=\r\n"
    "\r\n"
    "[Fxsk]\r\n"
    "read=F\r\n";

class InterfaceWindowE2eTest : public ::testing::Test {
 protected:
  // params.cfg as the window finds it.
  virtual std::string SettingsFile() const { return kSeededSettings; }

  void SetUp() override {
    dir_ = ProgramDirectory();
    machine_ = ServerMachine(dir_);
    ASSERT_FALSE(machine_.empty())
        << "no server.port: the server fixture did not run";
    // File settings present: the first activation asks for nothing.
    ASSERT_TRUE(WriteWholeFile(dir_ + L"params.cfg", SettingsFile()));
    library_ = LoadLibraryW((dir_ + L"skjk.dll").c_str());
    ASSERT_NE(library_, nullptr);
    host_ = CreateHostWindow(900, 0, 200, 100);
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    PumpMessages();
    if (host_ != nullptr) DestroyWindow(host_);
    if (library_ != nullptr) FreeLibrary(library_);
  }

  std::wstring dir_;
  std::string machine_;
  HMODULE library_ = nullptr;
  HWND host_ = nullptr;
  Watchdog watchdog_{60000, "InterfaceWindowE2eTest"};
};

// Screenshot names carry the ANSI code page when it is not the Chinese one.
std::wstring ShotName(const wchar_t* name) {
  std::wstring file = name;
  if (GetACP() != 936) file += L"-cp" + std::to_wstring(GetACP());
  return file + L".bmp";
}

void Drive(const std::wstring& dir, Seen* seen) {
  HWND window = WaitForWindow(W("本部税控机接口"), 10000);
  if (window == nullptr) return;
  seen->window = true;
  HWND status = WaitForChild(window, L"msctls_statusbar32");
  HWND pick = GetDlgItem(window, Ids::kPickListId);
  HWND documents = GetDlgItem(window, Ids::kDocumentGridId);
  HWND lines = GetDlgItem(window, Ids::kLineGridId);
  // The show step has selected "销售单据".
  WaitUntil([&] { return U8(Text(pick)) == "销售单据"; }, 5000);
  auto step = [&](const char* name, const std::string& count) {
    bool ok = WaitForCount(status, count);
    seen->steps.push_back(
        std::string(name) + ": " +
        (ok ? count : "timeout, " + U8(StatusText(status, 0))));
  };

  // Query August 2002: the two not-invoiced sales documents.
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2002, 8, 1);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2002, 8, 31);
  PostClick(GetDlgItem(window, Ids::kRefreshId));
  step("query", "记录数=2");
  seen->document_rows = ItemCount(documents);
  seen->first_number = ListCellText(documents, 0, 0);
  seen->first_date = ListCellText(documents, 0, 1);
  seen->first_name = ListCellText(documents, 0, 3);
  seen->line_rows = ItemCount(lines);
  seen->total = Text(GetDlgItem(window, Ids::kTotalsFirstId + 3));
  seen->total_text = Text(GetDlgItem(window, Ids::kTotalsFirstId + 4));
  seen->window_shot =
      SaveWindowShot(window, dir + ShotName(L"interface-window"));
  // The second document's lines follow the selection.
  ListView_SetItemState(documents, 1, LVIS_SELECTED | LVIS_FOCUSED,
                        LVIS_SELECTED | LVIS_FOCUSED);
  WaitUntil([&] { return ItemCount(lines) == 1; }, 3000);
  seen->lines_of_second = ItemCount(lines);
  seen->written_total = Text(GetDlgItem(window, Ids::kTotalsFirstId + 3));

  // Views: invoiced sales, invoiced void, not-invoiced void, each queried
  // once; back to the not-invoiced sales, shown without a query, with its
  // own count.
  PostClick(GetDlgItem(window, Ids::kInvoicedId));
  step("invoiced sales", "记录数=1");
  PickItem(window, pick, 1);
  step("invoiced void", "记录数=0");
  PostClick(GetDlgItem(window, Ids::kNotInvoicedId));
  step("void", "记录数=1");
  PickItem(window, pick, 0);
  WaitUntil([&] { return ItemCount(documents) == 2; }, 3000);
  seen->rows_after_switch_back = ItemCount(documents);
  step("sales again", "记录数=2");

  // Closing the end date's calendar queries: one day, one document.
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2002, 8, 2);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2002, 8, 2);
  CloseCalendar(window, GetDlgItem(window, Ids::kEndDateId));
  step("end date closed", "记录数=1");

  // The settings dialog, confirmed as it stands.
  PostClick(GetDlgItem(window, Ids::kSetId));
  HWND dialog = WaitForWindow(W("本部税控机接口参数设置"), 5000);
  if (dialog != nullptr) {
    seen->dialog = true;
    Sleep(300);  // let it paint
    seen->dialog_shot =
        SaveWindowShot(dialog, dir + ShotName(L"settings-dialog"));
    HWND ok = WaitForChild(dialog, L"Button", W("确定(&O)"));
    if (ok != nullptr) PostClick(ok);
    seen->dialog_closed = WaitUntilHidden(dialog, 5000);
  }
  PostClick(GetDlgItem(window, Ids::kExitId));
}

TEST_F(InterfaceWindowE2eTest, QueriesSwitchesViewsOpensSettingsAndCloses) {
  auto entry = reinterpret_cast<ShowDllFunction>(
      reinterpret_cast<void*>(GetProcAddress(library_, "ShowDllBbsk")));
  ASSERT_NE(entry, nullptr);
  Seen seen;
  std::thread driver([&] { Drive(dir_, &seen); });
  entry(host_, nullptr, nullptr, nullptr, nullptr, machine_.c_str());
  driver.join();

  ASSERT_TRUE(seen.window);
  EXPECT_EQ(seen.steps,
            (std::vector<std::string>{
                "query: 记录数=2", "invoiced sales: 记录数=1",
                "invoiced void: 记录数=0", "void: 记录数=1",
                "sales again: 记录数=2", "end date closed: 记录数=1"}));
  EXPECT_EQ(seen.document_rows, 2);
  EXPECT_EQ(U8(seen.first_number), "900001");
  EXPECT_EQ(U8(seen.first_date), "2002-08-01");
  EXPECT_EQ(U8(seen.first_name), "甲公司");
  EXPECT_EQ(seen.line_rows, 2);
  EXPECT_EQ(U8(seen.total), "1404.00");
  EXPECT_EQ(U8(seen.total_text), "壹仟肆佰零肆元整");
  EXPECT_EQ(seen.lines_of_second, 1);
  EXPECT_EQ(U8(seen.written_total), "351.59");
  EXPECT_EQ(seen.rows_after_switch_back, 2);
  EXPECT_TRUE(seen.dialog);
  EXPECT_TRUE(seen.dialog_closed);
  EXPECT_TRUE(seen.window_shot);
  EXPECT_TRUE(seen.dialog_shot);
  // Confirming the dialog stored the values as they were.
  EXPECT_EQ(ReadWholeFile(dir_ + L"params.cfg"), kStoredSettings);
  std::printf("screenshots: %s\n", U8(dir_).c_str());
}

// ---- The visit-sales and customer windows. The fixture holds 12 invoiced
// visit-sales documents of September 2002 (920001..920012, two lines each)
// and the customer documents 930001 (lines 20020802, 20020801) and 930002.

struct LineSeen {
  bool window = false;
  std::vector<std::string> counts;  // panel 0 after each step
  std::wstring footer;              // the line footer's cells
  std::wstring footer_after_move;   // on the second document
  std::vector<std::wstring> goods;  // the line grid's goods codes
  bool footer_under_column = false;
  bool shot = false;
};

// The footer cells' texts as the footer holds them: each ends with a tab.
std::wstring FooterText(HWND window) {
  return Text(GetDlgItem(window, Ids::kLineFooterId));
}

void SelectRow(HWND list, int row) {
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                        LVIS_SELECTED | LVIS_FOCUSED);
}

// The visit-sales window: the invoiced view loads 10 documents; the down
// arrow on the last one fetches the rest. The footer sums the lines.
void DriveVisitSales(const std::wstring& dir, LineSeen* seen) {
  HWND window = WaitForWindow(W("税控机接口"), 10000);
  if (window == nullptr) return;
  seen->window = true;
  HWND status = WaitForChild(window, L"msctls_statusbar32");
  HWND documents = GetDlgItem(window, Ids::kDocumentGridId);
  HWND lines = GetDlgItem(window, Ids::kLineGridId);
  auto count = [&](const char* expected) {
    WaitForCount(status, expected);
    seen->counts.push_back(U8(StatusText(status, 0)));
  };
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2002, 9, 1);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2002, 9, 30);
  PostClick(GetDlgItem(window, Ids::kInvoicedId));
  count("记录数=10");
  WaitUntil([&] { return ItemCount(lines) == 2; }, 3000);
  seen->footer = FooterText(window);
  // The footer's goods count lies under the goods-code column.
  RECT cell{}, footer{};
  HWND header = ListView_GetHeader(lines);
  if (Header_GetItemRect(header, 0, &cell)) {
    MapWindowPoints(header, nullptr, reinterpret_cast<POINT*>(&cell), 2);
    GetWindowRect(GetDlgItem(window, Ids::kLineFooterId), &footer);
    seen->footer_under_column =
        footer.top >= cell.bottom && cell.left >= footer.left;
  }
  SelectRow(documents, 9);
  RoundTrip(window);
  PostMessageW(documents, WM_KEYDOWN, VK_DOWN, 0);
  count("记录数=12");
  seen->shot = SaveWindowShot(window, dir + ShotName(L"visit-sales-window"));
  PostClick(GetDlgItem(window, Ids::kExitId));
}

// The customer window: its goods codes in ascending order, the footer
// following the document.
void DriveCustomer(const std::wstring& dir, LineSeen* seen) {
  HWND window = WaitForWindow(W("vu税控机接口"), 10000);
  if (window == nullptr) return;
  seen->window = true;
  HWND status = WaitForChild(window, L"msctls_statusbar32");
  HWND documents = GetDlgItem(window, Ids::kDocumentGridId);
  HWND lines = GetDlgItem(window, Ids::kLineGridId);
  // The show step's copy runs first.
  WaitUntilIdle(status);
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2002, 9, 1);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2002, 9, 30);
  PostClick(GetDlgItem(window, Ids::kRefreshId));
  WaitForCount(status, "记录数=2");
  seen->counts.push_back(U8(StatusText(status, 0)));
  WaitUntil([&] { return ItemCount(lines) == 2; }, 3000);
  for (int row = 0; row < ItemCount(lines); ++row) {
    seen->goods.push_back(ListCellText(lines, row, 0));
  }
  seen->footer = FooterText(window);
  seen->shot = SaveWindowShot(window, dir + ShotName(L"customer-window"));
  SelectRow(documents, 1);
  WaitUntil([&] { return ItemCount(lines) == 1; }, 3000);
  seen->footer_after_move = FooterText(window);
  PostClick(GetDlgItem(window, Ids::kExitId));
}

// Every file setting present in both lines' sections: the first activation
// asks for nothing.
class BusinessLineWindowE2eTest : public InterfaceWindowE2eTest {
 protected:
  std::string SettingsFile() const override {
    std::string file;
    for (const char* section : {"Fxsk", "Jqsk"}) {
      file += std::string("[") + section +
              "]\r\nread=C:\\in.txt\r\nwrite1=C:\\s.txt\r\n"
              "write2=C:\\v.txt\r\n";
    }
    return file;
  }
};

TEST_F(BusinessLineWindowE2eTest, VisitSalesWindowFetchesPacketsAndSumsLines) {
  auto entry = reinterpret_cast<ShowDllFunction>(
      reinterpret_cast<void*>(GetProcAddress(library_, "ShowDllFxsk")));
  ASSERT_NE(entry, nullptr);
  LineSeen seen;
  std::thread driver([&] { DriveVisitSales(dir_, &seen); });
  entry(host_, nullptr, nullptr, nullptr, nullptr, machine_.c_str());
  driver.join();

  ASSERT_TRUE(seen.window);
  EXPECT_EQ(seen.counts, (std::vector<std::string>{"记录数=10", "记录数=12"}));
  EXPECT_EQ(U8(seen.footer), "品牌数=2\t\t\t\t\t\t\t3.5\t350.75\t59.63\t");
  EXPECT_TRUE(seen.footer_under_column);
  EXPECT_TRUE(seen.shot);
}

TEST_F(BusinessLineWindowE2eTest, CustomerWindowSortsGoodsAndSumsLines) {
  auto entry = reinterpret_cast<ShowDllFunction>(
      reinterpret_cast<void*>(GetProcAddress(library_, "ShowDllJqsk")));
  ASSERT_NE(entry, nullptr);
  LineSeen seen;
  std::thread driver([&] { DriveCustomer(dir_, &seen); });
  entry(host_, nullptr, nullptr, nullptr, nullptr, machine_.c_str());
  driver.join();

  ASSERT_TRUE(seen.window);
  EXPECT_EQ(seen.counts, (std::vector<std::string>{"记录数=2"}));
  ASSERT_EQ(seen.goods.size(), 2u);
  EXPECT_EQ(U8(seen.goods[0]), "20020801");
  EXPECT_EQ(U8(seen.goods[1]), "20020802");
  // No tax amounts on these lines yet: their sum is 0.
  EXPECT_EQ(U8(seen.footer), "品牌数=2\t\t\t\t\t4\t400.00\t0.00\t");
  EXPECT_EQ(U8(seen.footer_after_move), "品牌数=1\t\t\t\t\t5\t500.00\t0.00\t");
  EXPECT_TRUE(seen.shot);
}

// ---- Export ("导出") of the not-invoiced view into the file of its kind.
// The fixture clears 2024-01-15..16 of the sample's documents and puts there
// the sales documents 101, 103 and 104 (104 without tax registration number)
// and the void documents 201 and 202, none invoiced.

struct ExportCase {
  const char* name;
  int pick_item;         // 0 "销售单据", 1 "报废单据"
  const char* count;     // status panel 0 after the query
  bool to_write2;        // the file is write2 (else write1)
  const char* question;  // the "确认" box, up to the file's path
  const char* done;      // the "提示" box after the run
  const char* file;      // the file's content, as UTF-8
};

const ExportCase kExportCases[] = {
    {"Sales", 0, "记录数=3", false,
     "是否导出日期为2024年01月15日至2024年01月16日的销售单据？\r"
     "发票的复核人是:“复核甲”,收款人是:“字段YWRY00”,税目是:“卷烟”，\r"
     "导出文件为：",
     "导出成功！\r其中有1条记录因缺少税务登记号或开户银行而被忽略",
     "SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日\r\n"
     "//单据\r\n"
     "101~~2~~第一商店~~370102123456789~~东大街1号~~"
     "工商银行东街支行1602001234~~月结~~复核甲~~业务员甲~~~~20240115\r\n"
     "卷烟甲~~条~~84mm~~10~~450~~0.17~~卷烟\r\n"
     "卷烟乙~~条~~84mm~~5~~137.5~~0.17~~卷烟\r\n"
     "//单据\r\n"
     "103~~1~~第二商店~~370102987654321~~西大街2号~~"
     "农业银行西街支行2001009876~~~~复核甲~~业务员乙~~~~20240116\r\n"
     "卷烟甲~~条~~84mm~~2~~90~~0.13~~卷烟\r\n"},
    {"Void", 1, "记录数=2", true,
     "是否导出日期为2024年01月15日至2024年01月16日的报废单据？\r"
     "发票的复核人是:“复核甲”,收款人是:“字段YWRY00”,税目是:“卷烟”，\r"
     "导出文件为：",
     "导出成功！",
     "SJJK0102~~作废销售单据传入~~2024年01月15日至2024年01月16日\r\n"
     "//单据\r\n"
     "201\r\n"
     "//单据\r\n"
     "202\r\n"},
};

// Failures name the case.
void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.name; }

// What the export's driver saw, checked on the main thread afterwards.
struct ExportSeen {
  bool window = false;
  std::string count;  // panel 0 after the query, or "timeout, <panel 0>"
  std::wstring question_caption, question, done_caption, done;
  std::wstring busy_text = L"<not read>";  // panel 2 after the run
  bool progress_bar = true;  // a progress bar on the status bar after the run
  bool closed = false;
  // Answered while closing (a settings dialog is closed unseen).
  std::vector<std::wstring> later_boxes;
};

// Answers the next message box with `button` and waits until it is gone;
// records its caption and text.
void AnswerNextBox(HWND window, int button, std::wstring* caption,
                   std::wstring* text) {
  HWND box = WaitForMessageBox();
  if (box == nullptr) return;
  *caption = Caption(box);
  *text = MessageBoxText(box);
  AnswerMessageBox(box, button);
  WaitUntilHidden(box);
  RoundTrip(window);
}

void DriveExport(const ExportCase& c, ExportSeen* seen) {
  HWND window = WaitForWindow(W("本部税控机接口"), 10000);
  if (window == nullptr) return;
  seen->window = true;
  HWND status = WaitForChild(window, L"msctls_statusbar32");
  HWND pick = GetDlgItem(window, Ids::kPickListId);
  WaitUntil([&] { return U8(Text(pick)) == "销售单据"; }, 5000);

  // The not-invoiced view (the window starts on it) of 2024-01-15..16.
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2024, 1, 15);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2024, 1, 16);
  if (c.pick_item == 0) {
    PostClick(GetDlgItem(window, Ids::kRefreshId));
  } else {
    PickItem(window, pick, c.pick_item);
  }
  seen->count = WaitForCount(status, c.count)
                    ? c.count
                    : "timeout, " + U8(StatusText(status, 0));

  PostClick(GetDlgItem(window, Ids::kExportId));
  AnswerNextBox(window, IDYES, &seen->question_caption, &seen->question);
  // The server's exchange journal remembers the runs of this program before
  // (the same cases under another code page): the warning about documents
  // exported before is answered Yes, and the export goes on as always.
  HWND box = WaitForMessageBox();
  if (box != nullptr && U8(Caption(box)) == "警告" &&
      U8(MessageBoxText(box)).find("重复导出") != std::string::npos) {
    std::wstring caption, text;
    AnswerNextBox(window, IDYES, &caption, &text);
  }
  AnswerNextBox(window, IDOK, &seen->done_caption, &seen->done);
  seen->busy_text = StatusText(status, 2);
  seen->progress_bar = FindChild(status, PROGRESS_CLASSW) != nullptr;

  seen->closed = CloseAndWait(window, GetDlgItem(window, Ids::kExitId),
                              &seen->later_boxes, W("本部税控机接口参数设置"));
}

class InterfaceWindowExportE2eTest
    : public InterfaceWindowE2eTest,
      public ::testing::WithParamInterface<ExportCase> {
 protected:
  void SetUp() override {
    // A folder whose name is not ASCII: the paths reach the file system
    // from GBK texts, also under another ANSI code page.
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = std::wstring(temp) + W("skjk-导出-") +
              std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    sales_ = folder_ + W("销售.txt");
    void_ = folder_ + W("作废.txt");
    DeleteFileW(sales_.c_str());
    DeleteFileW(void_.c_str());
    InterfaceWindowE2eTest::SetUp();
  }
  void TearDown() override {
    InterfaceWindowE2eTest::TearDown();
    DeleteFileW(sales_.c_str());
    DeleteFileW(void_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::string SettingsFile() const override {
    // All three files set: the first activation asks for nothing.
    std::string file = "[Bbsk]\r\n";
    file += "read=" + Gbk(folder_ + W("读入.txt")) + "\r\n";
    file += "write1=" + Gbk(sales_) + "\r\n";
    file += "write2=" + Gbk(void_) + "\r\n";
    file += "fhr=" + Gbk(W("复核甲")) + "\r\n";
    file += "skr=@YWRY00\r\n";
    file += "sm=" + Gbk(W("卷烟")) + "\r\n";
    file += "d=0\r\n";
    return file;
  }

  std::wstring folder_, sales_, void_;
};

TEST_P(InterfaceWindowExportE2eTest, WritesTheViewToItsFile) {
  const ExportCase& c = GetParam();
  const std::wstring& path = c.to_write2 ? void_ : sales_;
  const std::wstring& other = c.to_write2 ? sales_ : void_;
  auto entry = reinterpret_cast<ShowDllFunction>(
      reinterpret_cast<void*>(GetProcAddress(library_, "ShowDllBbsk")));
  ASSERT_NE(entry, nullptr);
  ExportSeen seen;
  std::thread driver([&] { DriveExport(c, &seen); });
  entry(host_, nullptr, nullptr, nullptr, nullptr, machine_.c_str());
  driver.join();

  ASSERT_TRUE(seen.window);
  EXPECT_EQ(seen.count, c.count);
  EXPECT_EQ(U8(seen.question_caption), "确认");
  EXPECT_EQ(U8(seen.question), c.question + U8(path));
  EXPECT_EQ(U8(seen.done_caption), "提示");
  EXPECT_EQ(U8(seen.done), c.done);
  EXPECT_EQ(ReadWholeFile(path), Gbk(W(c.file)));
  EXPECT_EQ(ReadWholeFile(other), "<missing>");
  // The run has ended: busy text and progress bar gone.
  EXPECT_EQ(U8(seen.busy_text), "");
  EXPECT_FALSE(seen.progress_bar);
  EXPECT_TRUE(seen.closed);
  EXPECT_TRUE(seen.later_boxes.empty()) << U8(seen.later_boxes.front());
}

INSTANTIATE_TEST_SUITE_P(Views, InterfaceWindowExportE2eTest,
                         ::testing::ValuesIn(kExportCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace skjk::e2e
