// The head-office interface window end to end: skjk.dll loaded by a host,
// ShowDllBbsk against a real skjk-server (started by the CTest fixture, its
// port in server.port beside this program), the window driven from a second
// thread through its controls. Screenshots of the window and of the settings
// dialog are saved beside this program.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

#include "entry/entry_points.h"
#include "gtest/gtest.h"
#include "tests/e2e/driver.h"
#include "windows/win32/interface_window_win32.h"

namespace skjk::e2e {
namespace {

using Ids = win32::InterfaceWindowWin32;

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

void SetDate(HWND picker, WORD year, WORD month, WORD day) {
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID,
               reinterpret_cast<LPARAM>(&st));
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
  void SetUp() override {
    dir_ = ProgramDirectory();
    std::string port = ReadWholeFile(dir_ + L"server.port");
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) {
      port.pop_back();
    }
    ASSERT_TRUE(!port.empty() && port != "<missing>")
        << "no server.port: the server fixture did not run";
    machine_ = "127.0.0.1:" + port;
    // File settings present: the first activation asks for nothing.
    ASSERT_TRUE(WriteWholeFile(dir_ + L"params.cfg", kSeededSettings));
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

// Waits until status panel 0 reads `text` and the busy text is gone.
bool WaitForCount(HWND status, const std::string& text) {
  return WaitUntil(
      [&] {
        return U8(StatusText(status, 0)) == text &&
               StatusText(status, 2).empty();
      },
      10000);
}

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
    seen->steps.push_back(std::string(name) + ": " +
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
  auto entry = reinterpret_cast<ShowDllFunction>(reinterpret_cast<void*>(
      GetProcAddress(library_, "ShowDllBbsk")));
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

}  // namespace
}  // namespace skjk::e2e
