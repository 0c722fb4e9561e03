// The invoicing cycle of each line's window end to end: the sales documents
// exported by "导出", answered by the native skjk-taxsim, and the answer read
// back by "读入". Each test here is one step of a CTest sequence per line
// (tests/e2e/CMakeLists.txt), not a test to run on its own:
//
//   invoicing_cycle_<line>_export  (this program) writes 税控\<Line>\销售.txt
//   invoicing_cycle_<line>_taxsim  (native)       answers with
//   税控\<Line>\发票.txt invoicing_cycle_<line>_import  (this program) reads
//   税控\<Line>\发票.txt
//
// The windows are skjk.dll's, shown through their entry points against a
// skjk-server of this program's own (a CTest fixture, its port in server.port
// beside this program), on a database of its own, none of its documents
// invoiced at the start:
//   head office  sales 101, 103, 104 of 2024-01-15..16; 104 has no tax
//                registration number
//   visit sales  deliveries 301 (one line of quantity 0), 302, 303 of
//                2024-01-15..16; 303's customer has no bank
//   customer     deliveries 401, 402 of 2024-01-18..19 to a "vediruza"
//                customer, which the customer window copies when it is shown
// Every line has an exchange folder and a settings section of its own. After
// each import a screenshot of the window is saved beside this program.
//
// The exchange journal's checks show on the way: the export step exports
// the same view a second time, which warns that its documents went out
// before (answered No: the file stays as it was); the import step first
// reads the line's answer in another line's window, which warns that the
// file's documents are not there (answered No: nothing is written).
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "entry/entry_points.h"
#include "gtest/gtest.h"
#include "interface_window/win32/interface_window_frame.h"
#include "testing/win32/driver.h"

namespace skjk::e2e {
namespace {

using Ids = win32::InterfaceWindowFrame;

// The exchange folder of a line, beside this program, and its files; the
// CTest steps that run skjk-taxsim name the same ones.
constexpr char kExchangeFolder[] = "税控\\";
constexpr char kSalesFile[] = "销售.txt";
constexpr char kAnswerFile[] = "发票.txt";

// One line's window.
struct LineWindow {
  const char* name;  // settings section, exchange folder, test name
  const char* entry_point;
  const char* caption;       // UTF-8
  const char* dialog_title;  // of its settings dialog
  // The reviewer, payee and tax item settings and how the export's question
  // shows them.
  const char* reviewer;
  const char* payee;
  const char* tax_item;
  const char* shown_reviewer;
  const char* shown_payee;
  const char* shown_tax_item;
};

const LineWindow kHeadOffice{.name = "Bbsk",
                             .entry_point = "ShowDllBbsk",
                             .caption = "本部税控机接口",
                             .dialog_title = "本部税控机接口参数设置",
                             .reviewer = "复核甲",
                             .payee = "@YWRY00",
                             .tax_item = "卷烟",
                             .shown_reviewer = "复核甲",
                             .shown_payee = "字段YWRY00",
                             .shown_tax_item = "卷烟"};
const LineWindow kVisitSales{.name = "Fxsk",
                             .entry_point = "ShowDllFxsk",
                             .caption = "税控机接口",
                             .dialog_title = "税控机接口参数设置",
                             .reviewer = "复核乙",
                             .payee = "@YWRY00",
                             .tax_item = "卷烟",
                             .shown_reviewer = "复核乙",
                             .shown_payee = "字段YWRY00",
                             .shown_tax_item = "卷烟"};
// No field reference: the customer line then writes the fixed tax rate.
const LineWindow kCustomer{.name = "Jqsk",
                           .entry_point = "ShowDllJqsk",
                           .caption = "vu税控机接口",
                           .dialog_title = "vu税控机接口参数设置",
                           .reviewer = "复核丙",
                           .payee = "收款丙",
                           .tax_item = "卷烟",
                           .shown_reviewer = "复核丙",
                           .shown_payee = "收款丙",
                           .shown_tax_item = "卷烟"};

// What is read of a view: per document the cells under `documents`, and
// when `lines` is not empty, per line of the document the cells under
// `lines` (grid column captions).
struct ViewColumns {
  std::vector<std::string> documents;
  std::vector<std::string> lines;
};

struct Cycle {
  const LineWindow* window;
  int first_day, last_day;  // of January 2024
  int not_invoiced;         // sales documents before the export
  const char* exported;     // the export's final message
  const char* file;         // the sales-document file after its header
  ViewColumns columns;
  // After the import: the rows of the invoiced view (see ReadView), the
  // documents left in the not-invoiced view.
  std::vector<std::string> invoiced;
  std::vector<std::string> left;
  // A window of another line, whose tables hold none of the answer's
  // documents, and how its warning lists them.
  const LineWindow* wrong_window;
  const char* wrong_missing;
  // When the import also writes delivery lines: the window that shows
  // them, and its invoiced view of the same dates.
  const LineWindow* delivery = nullptr;
  ViewColumns delivery_columns = {};
  std::vector<std::string> delivery_rows = {};
};

const Cycle kCycles[] = {
    {.window = &kHeadOffice,
     .first_day = 15,
     .last_day = 16,
     .not_invoiced = 3,
     .exported = "导出成功！\r其中有1条记录因缺少税务登记号或开户银行而被忽略",
     // Address DZ0000, remark BEIZHU, the document's own tax rate.
     .file =
         "//单据\r\n"
         "101~~2~~第一商店~~370102123456789~~东大街1号~~"
         "工商银行东街支行1602001234~~月结~~复核甲~~业务员甲~~~~20240115\r\n"
         "卷烟甲~~条~~84mm~~10~~450~~0.17~~卷烟\r\n"
         "卷烟乙~~条~~84mm~~5~~137.5~~0.17~~卷烟\r\n"
         "//单据\r\n"
         "103~~1~~第二商店~~370102987654321~~西大街2号~~"
         "农业银行西街支行2001009876~~~~复核甲~~业务员乙~~~~20240116\r\n"
         "卷烟甲~~条~~84mm~~2~~90~~0.13~~卷烟\r\n",
     .columns = {{"单号", "发票本号", "发票号"}, {}},
     .invoiced = {"101 3300052160 00000001", "103 3300052160 00000002"},
     .left = {"104  "},
     .wrong_window = &kVisitSales,
     .wrong_missing = "2张（101、103）"},
    {.window = &kVisitSales,
     .first_day = 15,
     .last_day = 16,
     .not_invoiced = 3,
     .exported = "导出成功！\r其中有1条记录因缺少税务登记号或开户银行而被忽略",
     // The customer's name and address for invoicing where it has them, no
     // remark, the fixed tax rate; the line of quantity 0 is written too.
     .file = "//单据\r\n"
             "301~~2~~访销一店~~370102111111111~~北大街4号~~"
             "工商银行北街支行1602005555~~~~复核乙~~业务员丙~~~~20240115\r\n"
             "卷烟甲~~条~~84mm~~4~~180~~0.17~~卷烟\r\n"
             "卷烟乙~~条~~84mm~~0~~0~~0.17~~卷烟\r\n"
             "//单据\r\n"
             "302~~1~~访销二店开票名~~370102222222222~~开票路5号~~"
             "建设银行北街支行3003002222~~~~复核乙~~业务员丁~~~~20240116\r\n"
             "卷烟乙~~条~~84mm~~2~~55~~0.17~~卷烟\r\n",
     // The invoice numbers are on the lines; the line of quantity 0 gets
     // none.
     .columns = {{"单号"}, {"商品名称", "发票本号", "发票号"}},
     .invoiced = {"301", "301 line: 卷烟甲 3300052160 00000011",
                  "301 line: 卷烟乙  ", "302",
                  "302 line: 卷烟乙 3300052160 00000012"},
     .left = {"303"},
     .wrong_window = &kHeadOffice,
     .wrong_missing = "2张（301、302）"},
    {.window = &kCustomer,
     .first_day = 18,
     .last_day = 19,
     .not_invoiced = 2,
     .exported = "导出成功！",
     // Address DWDZ00 (the address for invoicing, copied at show time), no
     // remark, the fixed tax rate.
     .file = "//单据\r\n"
             "401~~2~~vediruza批发部~~370102444444444~~开票路7号~~"
             "中国银行南街支行4004004444~~~~复核丙~~收款丙~~~~20240118\r\n"
             "卷烟甲~~条~~84mm~~10~~450~~0.17~~卷烟\r\n"
             "卷烟乙~~条~~84mm~~5~~137.5~~0.17~~卷烟\r\n"
             "//单据\r\n"
             "402~~1~~vediruza批发部~~370102444444444~~开票路7号~~"
             "中国银行南街支行4004004444~~~~复核丙~~收款丙~~~~20240119\r\n"
             "卷烟甲~~条~~84mm~~2~~90~~0.17~~卷烟\r\n",
     // Invoice date, book and number on the document, the invoice's tax
     // amount on every line.
     .columns = {{"单号", "开票日期", "发票本号", "发票号"},
                 {"商品名称", "税额（元）"}},
     .invoiced = {"401 2024-01-17 3300052160 00000021",
                  "401 line: 卷烟甲 76.50", "401 line: 卷烟乙 23.38",
                  "402 2024-01-17 3300052160 00000022",
                  "402 line: 卷烟甲 15.30"},
     .left = {},
     // Not the visit-sales window: its tables hold the deliveries the
     // customer documents were copied from.
     .wrong_window = &kHeadOffice,
     .wrong_missing = "2张（401、402）",
     // The closing statement puts the invoice numbers, without book, onto
     // the delivery lines the documents were copied from.
     .delivery = &kVisitSales,
     .delivery_columns = {{"单号"}, {"商品名称", "发票本号", "发票号"}},
     .delivery_rows = {"401", "401 line: 卷烟甲  00000021",
                       "401 line: 卷烟乙  00000021", "402",
                       "402 line: 卷烟甲  00000022"}},
};

// A date picker's day as "YYYY-MM-DD".
std::string PickerDay(HWND picker) {
  SYSTEMTIME st{};
  if (SendMessageW(picker, DTM_GETSYSTEMTIME, 0,
                   reinterpret_cast<LPARAM>(&st)) != GDT_VALID) {
    return "<no date>";
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", st.wYear, st.wMonth,
                st.wDay);
  return text;
}

bool Checked(HWND button) {
  return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// GBK bytes as UTF-8, for comparing files with readable differences.
std::string FromGbk(const std::string& bytes) {
  if (bytes.empty()) return "";
  int n = MultiByteToWideChar(936, 0, bytes.data(),
                              static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()),
                      wide.data(), n);
  return U8(wide);
}

// "2024年01月15日至2024年01月16日"
std::string RangeText(const Cycle& cycle) {
  char text[64];
  std::snprintf(text, sizeof text, "2024年01月%02d日至2024年01月%02d日",
                cycle.first_day, cycle.last_day);
  return text;
}

// Panel 0 once it reads `count` and the busy text is gone, else
// "timeout, <panel 0>".
std::string AwaitCount(HWND status, const std::string& count) {
  return WaitForCount(status, count) ? count
                                     : "timeout, " + U8(StatusText(status, 0));
}

std::string CountText(size_t count) {
  return "记录数=" + std::to_string(count);
}

// The number of documents among rows of ReadView().
size_t Documents(const std::vector<std::string>& rows) {
  return std::count_if(rows.begin(), rows.end(), [](const std::string& row) {
    return row.find(" line: ") == std::string::npos;
  });
}

// "2024-01-DD"
std::string PickerText(int day) {
  char text[16];
  std::snprintf(text, sizeof text, "2024-01-%02d", day);
  return text;
}

// The screen area of `window` as a 24-bit BMP file.
bool SaveWindowShot(HWND window, const std::wstring& path) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(200);
  return SaveScreenBitmap(window, path);
}

// The buttons of a Yes/No message box that are the default push button:
// "Yes", "No", both or "none".
std::string DefaultButton(HWND box) {
  std::string names;
  for (auto [id, name] : {std::pair{IDYES, "Yes"}, std::pair{IDNO, "No"}}) {
    HWND button = GetDlgItem(box, id);
    if (button != nullptr &&
        (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      names += names.empty() ? name : std::string(" ") + name;
    }
  }
  return names.empty() ? "none" : names;
}

// A message box as it was answered: "<caption>: <text>", or "<no box>";
// with `default_button`, followed by " [default <button>]".
std::string AnswerNextBox(HWND window, int button,
                          bool default_button = false) {
  HWND box = WaitForMessageBox();
  if (box == nullptr) return "<no box>";
  std::string seen = U8(Caption(box)) + ": " + U8(MessageBoxText(box));
  if (default_button) seen += " [default " + DefaultButton(box) + "]";
  AnswerMessageBox(box, button);
  WaitUntilHidden(box);
  RoundTrip(window);
  return seen;
}

// The grid's rows, each the cells under `captions` joined by blanks ("<no
// column X>" for a caption the grid lacks).
std::vector<std::string> Rows(HWND list,
                              const std::vector<std::string>& captions) {
  std::vector<std::string> rows;
  int count = ListView_GetItemCount(list);
  for (int row = 0; row < count; ++row) {
    std::string text;
    for (const std::string& caption : captions) {
      if (!text.empty() || &caption != &captions.front()) text += " ";
      int column = ListColumnIndex(list, caption);
      text += column < 0 ? "<no column " + caption + ">"
                         : U8(ListCellText(list, row, column));
    }
    rows.push_back(text);
  }
  return rows;
}

// The export's warning about documents exported before, with the server's
// time of the earlier export replaced by "<time>" when it has the form
// "YYYY-MM-DD HH:MM:SS".
std::string WithoutExportTime(std::string text) {
  const std::string before = "最近一次于", after = "导出到文件";
  const size_t start = text.find(before);
  if (start == std::string::npos) return text;
  const size_t from = start + before.size();
  const size_t end = text.find(after, from);
  if (end == from + 19 && text[from + 4] == '-' && text[from + 10] == ' ') {
    text.replace(from, 19, "<time>");
  }
  return text;
}

// The last write time of a file, 0 when it cannot be read.
uint64_t WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// The documents of the view shown, and with `columns.lines` the lines of
// each ("<document> line: <cells>"), selecting the documents in turn.
std::vector<std::string> ReadView(HWND window, const ViewColumns& columns) {
  HWND documents = GetDlgItem(window, Ids::kDocumentGridId);
  HWND lines = GetDlgItem(window, Ids::kLineGridId);
  std::vector<std::string> seen;
  const std::vector<std::string> rows = Rows(documents, columns.documents);
  std::vector<std::string> shown;
  for (size_t row = 0; row < rows.size(); ++row) {
    seen.push_back(rows[row]);
    if (columns.lines.empty()) continue;
    if (row > 0) {
      // The line grid follows the selection.
      ListView_SetItemState(documents, static_cast<int>(row),
                            LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
      RoundTrip(window);
      WaitUntil([&] { return Rows(lines, columns.lines) != shown; }, 2000);
    }
    shown = Rows(lines, columns.lines);
    const std::string number = rows[row].substr(0, rows[row].find(' '));
    for (const std::string& line : shown) {
      seen.push_back(number + " line: " + line);
    }
  }
  return seen;
}

// What a step's driver saw, checked on the main thread afterwards.
struct Seen {
  bool window = false;
  std::vector<std::string> steps;  // "<step>: <what was seen>" in order
  bool closed = false;
  std::vector<std::wstring> later_boxes;  // answered while closing
};

std::string PrintName(const ::testing::TestParamInfo<Cycle>& info) {
  return info.param.window->name;
}

class InvoicingCycleE2eTest : public ::testing::TestWithParam<Cycle> {
 protected:
  void SetUp() override {
    dir_ = ProgramDirectory();
    machine_ = ServerMachine(dir_);
    ASSERT_FALSE(machine_.empty())
        << "no server.port: the server fixture did not run";
    const std::wstring exchange = dir_ + W(kExchangeFolder);
    ASSERT_TRUE(CreateDirectoryW(exchange.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    for (const LineWindow* line : {&kHeadOffice, &kVisitSales, &kCustomer}) {
      const std::wstring folder = exchange + W(line->name) + L"\\";
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) ||
                  GetLastError() == ERROR_ALREADY_EXISTS);
    }
    ASSERT_TRUE(WriteSettings());
    const std::wstring folder = exchange + W(cycle().window->name) + L"\\";
    sales_ = folder + W(kSalesFile);
    answer_ = folder + W(kAnswerFile);
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

  const Cycle& cycle() const { return GetParam(); }

  // Every line's settings complete, each with the files of its own exchange
  // folder: no window asks for them first. With `reader`, that line's
  // window reads this cycle's answer file instead of its own.
  bool WriteSettings(const LineWindow* reader = nullptr) {
    const std::wstring exchange = dir_ + W(kExchangeFolder);
    std::string settings;
    for (const LineWindow* line : {&kHeadOffice, &kVisitSales, &kCustomer}) {
      const std::wstring folder = exchange + W(line->name) + L"\\";
      const std::wstring answer =
          line == reader
              ? exchange + W(cycle().window->name) + L"\\" + W(kAnswerFile)
              : folder + W(kAnswerFile);
      settings += "[" + std::string(line->name) + "]\r\n";
      settings += "read=" + Gbk(answer) + "\r\n";
      settings += "write1=" + Gbk(folder + W(kSalesFile)) + "\r\n";
      settings += "write2=" + Gbk(folder + W("作废.txt")) + "\r\n";
      settings += "fhr=" + Gbk(W(line->reviewer)) + "\r\n";
      settings += "skr=" + Gbk(W(line->payee)) + "\r\n";
      settings += "sm=" + Gbk(W(line->tax_item)) + "\r\n";
      settings += "d=0\r\n";
    }
    return WriteWholeFile(dir_ + L"params.cfg", settings);
  }

  // Shows `line`'s window through its entry point while `drive` works it
  // from a second thread (given the window, its status bar and `seen`),
  // then closes it.
  template <class Drive>
  Seen Run(const LineWindow& line, Drive drive) {
    auto entry = reinterpret_cast<ShowDllFunction>(
        reinterpret_cast<void*>(GetProcAddress(library_, line.entry_point)));
    Seen seen;
    if (entry == nullptr) return seen;
    std::thread driver([&] {
      HWND window = WaitForWindow(W(line.caption), 10000);
      if (window == nullptr) return;
      seen.window = true;
      HWND status = WaitForChild(window, L"msctls_statusbar32");
      HWND pick = GetDlgItem(window, Ids::kPickListId);
      // The show step has selected "销售单据".
      WaitUntil([&] { return U8(Text(pick)) == "销售单据"; }, 5000);
      drive(window, status, &seen);
      seen.closed = CloseAndWait(window, GetDlgItem(window, Ids::kExitId),
                                 &seen.later_boxes, W(line.dialog_title));
    });
    entry(host_, nullptr, nullptr, nullptr, nullptr, machine_.c_str());
    driver.join();
    return seen;
  }

  std::wstring dir_, sales_, answer_;
  std::string machine_;
  HMODULE library_ = nullptr;
  HWND host_ = nullptr;
  Watchdog watchdog_{55000, "InvoicingCycleE2eTest"};
};

// Step 1: the not-invoiced sales of the line's dates exported, one document
// left out in the head-office and visit-sales lines for its missing tax
// registration number or bank. Exporting the same view once more warns that
// its documents went out before; answered No, the file stays as it was and
// nothing else is shown.
TEST_P(InvoicingCycleE2eTest, ExportsTheNotInvoicedSales) {
  // Nothing of an earlier run may stand in for this run's files.
  DeleteFileW(sales_.c_str());
  DeleteFileW(answer_.c_str());
  const Cycle& c = cycle();
  Seen seen = Run(*c.window, [&](HWND window, HWND status, Seen* seen) {
    SetDate(GetDlgItem(window, Ids::kStartDateId), 2024, 1, c.first_day);
    SetDate(GetDlgItem(window, Ids::kEndDateId), 2024, 1, c.last_day);
    PostClick(GetDlgItem(window, Ids::kRefreshId));
    seen->steps.push_back("query: " +
                          AwaitCount(status, CountText(c.not_invoiced)));
    PostClick(GetDlgItem(window, Ids::kExportId));
    seen->steps.push_back("question: " + AnswerNextBox(window, IDYES));
    seen->steps.push_back("done: " + AnswerNextBox(window, IDOK));

    const std::string exported = ReadWholeFile(sales_);
    const uint64_t written = WriteTime(sales_);
    PostClick(GetDlgItem(window, Ids::kExportId));
    seen->steps.push_back("again: " + AnswerNextBox(window, IDYES));
    seen->steps.push_back("warning: " +
                          WithoutExportTime(AnswerNextBox(
                              window, IDNO, /*default_button=*/true)));
    WaitUntilIdle(status);
    seen->steps.push_back(
        std::string("file: ") +
        (ReadWholeFile(sales_) == exported && WriteTime(sales_) == written
             ? "as it was"
             : "changed"));
  });

  ASSERT_TRUE(seen.window);
  const LineWindow& line = *c.window;
  const std::string question =
      "确认: 是否导出日期为" + RangeText(c) + "的销售单据？\r发票的复核人是:“" +
      line.shown_reviewer + "”,收款人是:“" + line.shown_payee + "”,税目是:“" +
      line.shown_tax_item + "”，\r导出文件为：" + U8(sales_);
  EXPECT_EQ(seen.steps,
            (std::vector<std::string>{
                "query: " + CountText(c.not_invoiced), "question: " + question,
                std::string("done: 提示: ") + c.exported, "again: " + question,
                "warning: 警告: 本次导出的单据中有" +
                    std::to_string(Documents(c.invoiced)) +
                    "张已经导出过，至今还没有开具发票（最近一次于<time>"
                    "导出到文件" +
                    U8(sales_) +
                    "）。\r重复导出可能造成重复开票，是否仍然导出？ [default "
                    "No]",
                "file: as it was"}));
  EXPECT_EQ(FromGbk(ReadWholeFile(sales_)),
            "SJJK0101~~销售单据传入~~" + RangeText(c) + "\r\n" + c.file);
  EXPECT_TRUE(seen.closed);
  EXPECT_TRUE(seen.later_boxes.empty()) << U8(seen.later_boxes.front());
}

// Step 3: skjk-taxsim's answer (book 3300052160, invoice date 2024-01-17)
// read back. First into the window of another line, which warns that the
// file's documents are not in its tables; answered No, the import fails with
// nothing written. Then into the line's own window: it starts on other
// dates; the import takes the file's range, writes the invoice numbers and
// shows the invoiced view.
TEST_P(InvoicingCycleE2eTest, ImportsTheIssuedInvoices) {
  ASSERT_NE(ReadWholeFile(answer_), "<missing>")
      << "no answer file: run as the CTest step after the skjk-taxsim step";
  const Cycle& c = cycle();

  ASSERT_TRUE(WriteSettings(c.wrong_window));
  Seen wrong = Run(*c.wrong_window, [&](HWND window, HWND, Seen* seen) {
    PostClick(GetDlgItem(window, Ids::kImportId));
    seen->steps.push_back("question: " + AnswerNextBox(window, IDYES));
    seen->steps.push_back("warning: " +
                          AnswerNextBox(window, IDNO, /*default_button=*/true));
    seen->steps.push_back("failed: " + AnswerNextBox(window, IDOK));
    seen->steps.push_back(
        std::string("radio buttons: ") +
        (Checked(GetDlgItem(window, Ids::kInvoicedId)) ? "已开发票" : "-") +
        (Checked(GetDlgItem(window, Ids::kNotInvoicedId)) ? " 未开发票" : ""));
  });
  ASSERT_TRUE(wrong.window);
  EXPECT_EQ(wrong.steps,
            (std::vector<std::string>{
                "question: 确认: 是否读入销售发票文件" + U8(answer_),
                std::string("warning: 警告: 发票文件与数据库中的单据不符：\r"
                            "单据不存在：") +
                    c.wrong_missing +
                    "\r已有发票号（与文件中的不同）：0张\r是否仍然读入？ "
                    "[default No]",
                "failed: 错误: 文件读入发生意外错误！",
                "radio buttons: - 未开发票"}));
  EXPECT_TRUE(wrong.closed);
  EXPECT_TRUE(wrong.later_boxes.empty()) << U8(wrong.later_boxes.front());
  ASSERT_TRUE(WriteSettings());

  const std::wstring shot =
      dir_ + L"invoicing-cycle-" + W(c.window->name) + L".bmp";
  const std::string invoiced_count = CountText(Documents(c.invoiced));
  Seen seen = Run(*c.window, [&](HWND window, HWND status, Seen* seen) {
    HWND start = GetDlgItem(window, Ids::kStartDateId);
    HWND end = GetDlgItem(window, Ids::kEndDateId);
    SetDate(start, 2024, 3, 1);
    SetDate(end, 2024, 3, 31);
    PostClick(GetDlgItem(window, Ids::kImportId));
    seen->steps.push_back("question: " + AnswerNextBox(window, IDYES));
    seen->steps.push_back("done: " + AnswerNextBox(window, IDOK));
    seen->steps.push_back("invoiced view: " +
                          AwaitCount(status, invoiced_count));
    seen->steps.push_back("dates: " + PickerDay(start) + ".." + PickerDay(end));
    seen->steps.push_back(
        std::string("radio buttons: ") +
        (Checked(GetDlgItem(window, Ids::kInvoicedId)) ? "已开发票" : "-") +
        (Checked(GetDlgItem(window, Ids::kNotInvoicedId)) ? " 未开发票" : ""));
    for (const std::string& row : ReadView(window, c.columns)) {
      seen->steps.push_back("invoiced: " + row);
    }
    if (!SaveWindowShot(window, shot)) seen->steps.push_back("no screenshot");
    // Only what the export left out is still to be invoiced.
    PostClick(GetDlgItem(window, Ids::kNotInvoicedId));
    seen->steps.push_back("not invoiced view: " +
                          AwaitCount(status, CountText(c.left.size())));
    for (const std::string& row :
         Rows(GetDlgItem(window, Ids::kDocumentGridId), c.columns.documents)) {
      seen->steps.push_back("not invoiced: " + row);
    }
  });

  ASSERT_TRUE(seen.window);
  std::vector<std::string> expected = {
      "question: 确认: 是否读入销售发票文件" + U8(answer_),
      "done: 提示: 读入成功！",
      "invoiced view: " + invoiced_count,
      "dates: " + PickerText(c.first_day) + ".." + PickerText(c.last_day),
      "radio buttons: 已开发票",
  };
  for (const std::string& row : c.invoiced) {
    expected.push_back("invoiced: " + row);
  }
  expected.push_back("not invoiced view: " + CountText(c.left.size()));
  for (const std::string& row : c.left) {
    expected.push_back("not invoiced: " + row);
  }
  EXPECT_EQ(seen.steps, expected);
  EXPECT_TRUE(seen.closed);
  EXPECT_TRUE(seen.later_boxes.empty()) << U8(seen.later_boxes.front());
  if (c.delivery == nullptr) return;

  // The delivery lines in the window that shows them.
  const std::string delivered_count = CountText(Documents(c.delivery_rows));
  seen = Run(*c.delivery, [&](HWND window, HWND status, Seen* seen) {
    SetDate(GetDlgItem(window, Ids::kStartDateId), 2024, 1, c.first_day);
    SetDate(GetDlgItem(window, Ids::kEndDateId), 2024, 1, c.last_day);
    PostClick(GetDlgItem(window, Ids::kInvoicedId));
    seen->steps.push_back("delivery lines: " +
                          AwaitCount(status, delivered_count));
    for (const std::string& row : ReadView(window, c.delivery_columns)) {
      seen->steps.push_back("delivered: " + row);
    }
  });
  ASSERT_TRUE(seen.window);
  expected = {"delivery lines: " + delivered_count};
  for (const std::string& row : c.delivery_rows) {
    expected.push_back("delivered: " + row);
  }
  EXPECT_EQ(seen.steps, expected);
  EXPECT_TRUE(seen.closed);
}

INSTANTIATE_TEST_SUITE_P(Lines, InvoicingCycleE2eTest,
                         ::testing::ValuesIn(kCycles), PrintName);

}  // namespace
}  // namespace skjk::e2e
