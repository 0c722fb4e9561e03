// skjk-host: a small Windows program in place of the management client. It
// loads skjk.dll from its own folder and calls an entry point per business
// line with its window and five texts; text 5 (the server machine) comes from
// the field on the window, empty meaning this computer.
//
//   skjk-host                 interactive
//   skjk-host --demo OUTDIR   opens each of the three windows in turn from a
//                             driver thread, saves a screenshot of each to
//                             OUTDIR and closes it with its "退出" button
//   skjk-host --cycle OUTDIR  the invoicing cycle in each of the three
//                             windows in turn (head office, customer, visit
//                             sales), from a driver thread: queries the
//                             not-invoiced sales documents of the line's
//                             dates (kCycles), exports them to the write1
//                             file of the line's section of params.cfg,
//                             writes the empty file OUTDIR\exported-<section>,
//                             waits (up to 90 s) for the issued-invoice file
//                             at the read path (which the caller makes from
//                             the export), imports it, shows the invoiced
//                             view and closes the window; every message box
//                             is answered as a user going through would, and
//                             each step saved as a screenshot to OUTDIR
//   skjk-host --load OUTDIR N MACHINE
//                             the head-office window on the server MACHINE,
//                             its query of every date (2000-01-01 to
//                             2099-12-31) from a driver thread, timed from
//                             "刷新" until the status bar reads "记录数=N";
//                             prints that time and the process's peak
//                             working set, or what went wrong (a message
//                             box's text, another count, no answer within
//                             20 minutes) and exits with 1
#include <windows.h>
// The headers below need windows.h first.
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "entry/entry_points.h"
#include "interface_window/win32/interface_window_frame.h"
#include "testing/win32/driver.h"

namespace skjk::host {
namespace {

using e2e::Gbk;
using e2e::SetDate;
using e2e::W;

constexpr int kEditId = 100;
constexpr int kFirstButtonId = 200;

struct Line {
  const char* label;        // UTF-8 button text
  const char* entry_point;  // exported name
  const char* caption;      // UTF-8 caption of the window it opens
  const char* file;         // screenshot name
  const wchar_t* section;   // of params.cfg
};

const Line kLines[] = {
    {"本部", "ShowDllBbsk", "本部税控机接口", "1-bbsk", L"Bbsk"},
    {"访销", "ShowDllFxsk", "税控机接口", "2-fxsk", L"Fxsk"},
    {"vu", "ShowDllJqsk", "vu税控机接口", "3-jqsk", L"Jqsk"},
};

// The invoicing cycle of one window on the sample database: the dates (of
// 2024) whose not-invoiced sales documents it exports. The customer window
// goes before the visit-sales window: its import writes the invoice numbers
// onto the delivery lines its documents were copied from, so that the
// visit-sales export leaves those deliveries out (the other way round, the
// customer import would clear the numbers the visit-sales import wrote on
// its customer's deliveries).
struct CycleDates {
  int line;          // index into kLines
  const char* file;  // screenshot names begin with it
  int first_month, first_day, last_month, last_day;
};

const CycleDates kCycles[] = {
    {0, "4-cycle-bbsk", 3, 1, 3, 2},
    {2, "5-cycle-jqsk", 3, 1, 3, 2},
    {1, "6-cycle-fxsk", 3, 1, 3, 2},
};

HMODULE g_library = nullptr;
HWND g_main = nullptr;
HWND g_edit = nullptr;
HWND g_buttons[3] = {};
HFONT g_font = nullptr;

void CallEntryPoint(int line) {
  auto entry = reinterpret_cast<ShowDllFunction>(reinterpret_cast<void*>(
      GetProcAddress(g_library, kLines[line].entry_point)));
  if (entry == nullptr) {
    MessageBoxW(g_main, W(kLines[line].entry_point).c_str(),
                L"skjk.dll: entry point missing", MB_OK | MB_ICONERROR);
    return;
  }
  std::string server = Gbk(e2e::Text(g_edit));
  // Texts 1 to 4 stand for what the management client passes (operator,
  // name, branch, date); the plug-in keeps them and needs nothing of them.
  std::string name = Gbk(W("演示操作员"));
  entry(g_main, "0001", name.c_str(), "01", "", server.c_str());
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wparam,
                          LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      if (id >= kFirstButtonId && id < kFirstButtonId + 3 &&
          HIWORD(wparam) == BN_CLICKED) {
        CallEntryPoint(id - kFirstButtonId);
        return 0;
      }
      break;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

HWND Child(const wchar_t* cls, const std::wstring& text, DWORD style, int x,
           int y, int w, int h, int id) {
  HWND child =
      CreateWindowExW(cls == std::wstring(L"Edit") ? WS_EX_CLIENTEDGE : 0, cls,
                      text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                      g_main, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                      GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), TRUE);
  return child;
}

bool CreateMainWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &MainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"SkjkHost";
  if (RegisterClassW(&wc) == 0) return false;
  g_main =
      CreateWindowExW(0, L"SkjkHost", W("卷烟批发管理系统（演示宿主）").c_str(),
                      WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 820, 20, 360, 180,
                      nullptr, nullptr, wc.hInstance, nullptr);
  if (g_main == nullptr) return false;
  LOGFONTW lf{};
  lf.lfHeight = -12;
  lf.lfCharSet = GB2312_CHARSET;
  g_font = CreateFontIndirectW(&lf);
  Child(L"Static", W("服务器："), SS_RIGHT, 10, 16, 70, 20, -1);
  g_edit = Child(L"Edit", L"", WS_TABSTOP | ES_AUTOHSCROLL, 84, 12, 240, 22,
                 kEditId);
  for (int i = 0; i < 3; ++i) {
    g_buttons[i] =
        Child(L"Button", W(kLines[i].label), WS_TABSTOP | BS_PUSHBUTTON,
              20 + i * 110, 60, 90, 40, kFirstButtonId + i);
  }
  ShowWindow(g_main, SW_SHOW);
  UpdateWindow(g_main);
  return true;
}

// Whole-screen screenshot as a 24-bit BMP file.
bool SaveScreenshot(const std::wstring& path) {
  return e2e::SaveScreenBitmap(nullptr, path);
}

// The demo's own settings, so that no window asks for them first: the
// exchange files go to OUTDIR. Written only when params.cfg is missing.
void SeedSettings(const std::wstring& outdir) {
  std::wstring config = e2e::ProgramDirectory() + L"params.cfg";
  if (GetFileAttributesW(config.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  for (const wchar_t* section : {L"Bbsk", L"Fxsk", L"Jqsk"}) {
    std::wstring prefix = outdir + L"\\" + section;
    WritePrivateProfileStringW(section, L"read", (prefix + L"-fp.txt").c_str(),
                               config.c_str());
    WritePrivateProfileStringW(section, L"write1",
                               (prefix + L"-xs.txt").c_str(), config.c_str());
    WritePrivateProfileStringW(section, L"write2",
                               (prefix + L"-bf.txt").c_str(), config.c_str());
    WritePrivateProfileStringW(section, L"d", L"0", config.c_str());
  }
}

// Answers a message box that a window shows on opening (for example when
// the application server cannot be reached), saving a screenshot of it.
void AnswerBox(HWND box, const std::wstring& shot) {
  SaveScreenshot(shot);
  std::printf("message box: %s\n", e2e::U8(e2e::MessageBoxText(box)).c_str());
  for (int id : {IDOK, IDNO, IDCANCEL}) {
    if (e2e::AnswerMessageBox(box, id)) break;
  }
  e2e::WaitUntilHidden(box);
}

// Loads the documents of the view from `first` to `last` (month and day of
// 2024, the sample database's year) as a user would: both dates, then
// "刷新"; returns once the count is shown (or after a few seconds when the
// range holds none).
void Query(HWND window, int first_month, int first_day, int last_month,
           int last_day) {
  using Ids = win32::InterfaceWindowFrame;
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2024, first_month, first_day);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2024, last_month, last_day);
  e2e::PostClick(GetDlgItem(window, Ids::kRefreshId));
  HWND status = GetDlgItem(window, Ids::kStatusBarId);
  e2e::WaitUntil(
      [&] {
        const std::string count = e2e::U8(e2e::StatusText(status, 0));
        return e2e::StatusText(status, 2).empty() &&
               count.starts_with("记录数=") && count != "记录数=0";
      },
      4000);
  std::printf("%s\n", e2e::U8(e2e::StatusText(status, 0)).c_str());
}

// Opens the window of kLines[index] by its button and waits until it is
// ready, answering (and saving) the message boxes it shows on the way; sets
// *window and its "退出" button *exit, or returns false.
bool OpenWindow(int index, const std::wstring& base, HWND* window, HWND* exit) {
  const Line& line = kLines[index];
  e2e::PostClick(g_buttons[index]);
  *window = nullptr;
  *exit = nullptr;
  int boxes = 0;
  e2e::WaitUntil(
      [&] {
        HWND box = e2e::FindTopLevel(L"#32770");
        if (box != nullptr && e2e::FindChild(box, L"Button") != nullptr) {
          AnswerBox(box, base + L"-box" + std::to_wstring(++boxes) + L".bmp");
          return false;
        }
        *window = e2e::FindTopLevel(L"", W(line.caption));
        *exit = *window != nullptr
                    ? e2e::FindChild(*window, L"Button", W("退出"))
                    : nullptr;
        return *exit != nullptr && IsWindowEnabled(*window) &&
               IsWindowVisible(*exit);
      },
      20000);
  if (*exit != nullptr) return true;
  std::printf("%s: window \"%s\" did not open\n", line.entry_point,
              line.caption);
  if (*window != nullptr) PostMessageW(*window, WM_CLOSE, 0, 0);
  return false;
}

// Driver thread of --demo. Returns the number of windows that did not open.
int RunDemo(const std::wstring& outdir) {
  int failures = 0;
  for (int i = 0; i < 3; ++i) {
    const Line& line = kLines[i];
    std::wstring base = outdir + L"\\" + W(line.file);
    HWND window = nullptr;
    HWND exit = nullptr;
    if (!OpenWindow(i, base, &window, &exit)) {
      ++failures;
      continue;
    }
    Query(window, 1, 1, 12, 31);
    Sleep(500);  // let it paint
    std::wstring shot = base + L".bmp";
    bool saved = SaveScreenshot(shot);
    std::printf("%s: window \"%s\" shown%s%s\n", line.entry_point, line.caption,
                saved ? ", screenshot " : "",
                saved ? e2e::U8(shot).c_str() : "");
    std::fflush(stdout);
    if (!e2e::CloseAndWait(window, exit, nullptr, {}, 10000)) {
      std::printf("%s: window did not close\n", line.entry_point);
      ++failures;
    }
    Sleep(200);
  }
  PostMessageW(g_main, WM_CLOSE, 0, 0);
  return failures;
}

// Saves, prints and answers the message box `box` with `button` (with OK
// when it has no such button); returns its caption.
std::string Answer(HWND window, HWND box, int button,
                   const std::wstring& shot) {
  Sleep(300);  // let it paint
  SaveScreenshot(shot);
  const std::string seen = e2e::U8(e2e::Caption(box));
  std::printf("cycle: %s: %s\n", seen.c_str(),
              e2e::U8(e2e::MessageBoxText(box)).c_str());
  if (!e2e::AnswerMessageBox(box, button)) e2e::AnswerMessageBox(box, IDOK);
  e2e::WaitUntilHidden(box);
  e2e::RoundTrip(window);
  return seen;
}

// The next message box of the window: saved as `shot`, its caption and text
// printed, answered with `button`. A warning question before it (a repeated
// export, an issued-invoice file that does not fit the database) is shown
// and answered Yes, as the demo goes on whatever its data holds. True when
// the box came and its caption is `caption`.
bool AnswerNext(HWND window, const char* caption, int button,
                const std::wstring& shot, DWORD timeout_ms) {
  for (int warnings = 0;; ++warnings) {
    HWND box = e2e::WaitForMessageBox(timeout_ms);
    if (box == nullptr) {
      std::printf("cycle: no \"%s\" box came\n", caption);
      return false;
    }
    const bool warning = e2e::U8(e2e::Caption(box)) == "警告";
    if (!warning || std::string_view(caption) == "警告") {
      return Answer(window, box, button, shot) == caption;
    }
    // "...-4-import-question.bmp" -> "...-4-import-question-warning-1.bmp"
    std::wstring warning_shot = shot;
    warning_shot.insert(warning_shot.rfind(L'.'),
                        L"-warning-" + std::to_wstring(warnings + 1));
    Answer(window, box, IDYES, warning_shot);
  }
}

// A further notice right after the one just answered (the import's count
// of invoices that matched no document), answered with OK when it is there.
void AnswerFurtherNotice(HWND window, const std::wstring& shot) {
  // The window shows it as soon as the previous box has gone, before it
  // handles anything else: a round trip later it is there or not at all.
  e2e::RoundTrip(window);
  HWND box = e2e::FindTopLevel(L"#32770");
  if (box != nullptr) Answer(window, box, IDOK, shot);
}

// The texts of the list's column `caption`, row by row.
std::vector<std::wstring> ColumnTexts(HWND list, const char* caption) {
  std::vector<std::wstring> texts;
  const int column = e2e::ListColumnIndex(list, caption);
  for (int row = 0; column >= 0 && row < ListView_GetItemCount(list); ++row) {
    texts.push_back(e2e::ListCellText(list, row, column));
  }
  return texts;
}

// Scrolls the list so that its column `column` shows.
void ScrollTo(HWND list, int column) {
  RECT cell{}, client{};
  if (ListView_GetItemCount(list) > 0 &&
      ListView_GetSubItemRect(list, 0, column, LVIR_BOUNDS, &cell) &&
      GetClientRect(list, &client) && cell.right > client.right) {
    ListView_Scroll(list, cell.right - client.right + 4, 0);
  }
}

// Prints the invoice numbers of the rows of `list` ("<what> <key>: invoice
// <book> <number>") and scrolls it so that their columns show; the number
// of rows that have one, or -1 when the list has no such columns.
int PrintInvoiceNumbers(HWND list, const char* key, const std::string& what,
                        const std::vector<std::wstring>& only = {}) {
  const int key_column = e2e::ListColumnIndex(list, key);
  const int book = e2e::ListColumnIndex(list, "发票本号");
  const int number = e2e::ListColumnIndex(list, "发票号");
  if (key_column < 0 || book < 0 || number < 0) return -1;
  int invoiced = 0;
  for (int row = 0; row < ListView_GetItemCount(list); ++row) {
    const std::wstring row_key = e2e::ListCellText(list, row, key_column);
    if (!only.empty() &&
        std::find(only.begin(), only.end(), row_key) == only.end()) {
      continue;
    }
    std::string text = e2e::U8(e2e::ListCellText(list, row, number));
    if (!text.empty()) ++invoiced;
    std::printf(
        "cycle: %s %s: invoice %s %s\n", what.c_str(), e2e::U8(row_key).c_str(),
        e2e::U8(e2e::ListCellText(list, row, book)).c_str(), text.c_str());
  }
  ScrollTo(list, number);
  return invoiced;
}

// Prints the invoice numbers the import wrote for the `exported` documents
// of the invoiced view: from the document grid, or where the line grid
// holds them (the visit-sales window) from the lines of each, selected in
// turn. Leaves the first of them selected, its numbers in view; false when
// none has a number.
bool ShowInvoiceNumbers(HWND window,
                        const std::vector<std::wstring>& exported) {
  using Ids = win32::InterfaceWindowFrame;
  HWND documents = GetDlgItem(window, Ids::kDocumentGridId);
  HWND lines = GetDlgItem(window, Ids::kLineGridId);
  const std::vector<std::wstring> numbers = ColumnTexts(documents, "单号");
  int first = -1;
  int invoiced = PrintInvoiceNumbers(documents, "单号", "document", exported);
  const bool on_documents = invoiced >= 0;
  invoiced = std::max(invoiced, 0);
  for (int row = 0; row < static_cast<int>(numbers.size()); ++row) {
    if (std::find(exported.begin(), exported.end(), numbers[row]) ==
        exported.end()) {
      continue;
    }
    if (first < 0) first = row;
    if (on_documents) break;
    ListView_SetItemState(documents, row, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    e2e::RoundTrip(window);
    Sleep(100);
    const int lines_invoiced = PrintInvoiceNumbers(
        lines, "商品名称", "document " + e2e::U8(numbers[row]) + " line");
    invoiced += std::max(lines_invoiced, 0);
  }
  if (first >= 0) {
    ListView_SetItemState(documents, first, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(documents, first, FALSE);
    e2e::RoundTrip(window);
    ScrollTo(lines, e2e::ListColumnIndex(lines, "发票号"));
  }
  return invoiced > 0;
}

// The invoicing cycle in one window; false when a step failed.
bool RunCycle(const CycleDates& cycle, const std::wstring& outdir) {
  using Ids = win32::InterfaceWindowFrame;
  const Line& line = kLines[cycle.line];
  auto shot = [&](const char* name) {
    return outdir + L"\\" + W(cycle.file) + L"-" + W(name) + L".bmp";
  };
  std::wstring config = e2e::ProgramDirectory() + L"params.cfg";
  wchar_t read[MAX_PATH] = {};
  GetPrivateProfileStringW(line.section, L"read", L"", read, MAX_PATH,
                           config.c_str());
  std::printf("cycle: %s\n", line.entry_point);
  HWND window = nullptr;
  HWND exit = nullptr;
  if (read[0] == L'\0') {
    std::printf("cycle: params.cfg names no read file for %s\n",
                e2e::U8(line.section).c_str());
    return false;
  }
  if (!OpenWindow(cycle.line, outdir + L"\\" + W(cycle.file), &window, &exit)) {
    return false;
  }
  HWND status = GetDlgItem(window, Ids::kStatusBarId);
  Query(window, cycle.first_month, cycle.first_day, cycle.last_month,
        cycle.last_day);
  // The documents the export is to write (those with a tax registration
  // number and bank among them).
  const std::vector<std::wstring> exported =
      ColumnTexts(GetDlgItem(window, Ids::kDocumentGridId), "单号");
  Sleep(500);
  SaveScreenshot(shot("1-not-invoiced"));
  e2e::PostClick(GetDlgItem(window, Ids::kExportId));
  bool ok =
      AnswerNext(window, "确认", IDYES, shot("2-export-question"), 10000) &&
      AnswerNext(window, "提示", IDOK, shot("3-exported"), 60000);
  if (ok) {
    // The caller answers the export with the issued-invoice file.
    e2e::WriteWholeFile(outdir + L"\\exported-" + line.section, "");
    ok = e2e::WaitUntil(
        [&] { return GetFileAttributesW(read) != INVALID_FILE_ATTRIBUTES; },
        90000);
    if (!ok) std::printf("cycle: no file came at %s\n", e2e::U8(read).c_str());
  }
  if (ok) {
    e2e::PostClick(GetDlgItem(window, Ids::kImportId));
    ok = AnswerNext(window, "确认", IDYES, shot("4-import-question"), 10000) &&
         AnswerNext(window, "提示", IDOK, shot("5-imported"), 60000);
    if (ok) AnswerFurtherNotice(window, shot("5-imported-notice"));
  }
  if (ok) {
    // The window selects the invoiced view of the file's dates and loads it.
    std::string count;
    ok = e2e::WaitUntil(
        [&] {
          count = e2e::U8(e2e::StatusText(status, 0));
          return SendMessageW(GetDlgItem(window, Ids::kInvoicedId), BM_GETCHECK,
                              0, 0) == BST_CHECKED &&
                 e2e::StatusText(status, 2).empty() &&
                 count.starts_with("记录数=") && count != "记录数=0";
        },
        10000);
    std::printf("cycle: invoiced view: %s\n", count.c_str());
    ok = ok && ShowInvoiceNumbers(window, exported);
    Sleep(500);
    std::wstring last = shot("6-invoiced");
    SaveScreenshot(last);
    std::printf("cycle: invoiced view, screenshot %s\n", e2e::U8(last).c_str());
  }
  if (!e2e::CloseAndWait(window, exit, nullptr, {}, 10000)) {
    std::printf("cycle: window did not close\n");
    ok = false;
  }
  std::fflush(stdout);
  return ok;
}

// Driver thread of --cycle. Returns the number of windows whose cycle
// failed.
int RunCycles(const std::wstring& outdir) {
  int failures = 0;
  for (const CycleDates& cycle : kCycles) {
    if (!RunCycle(cycle, outdir)) ++failures;
    Sleep(200);
  }
  std::fflush(stdout);
  PostMessageW(g_main, WM_CLOSE, 0, 0);
  return failures;
}

// The longest --load waits for the count, and its watchdog.
constexpr DWORD kLoadTimeoutMs = 20 * 60 * 1000;

// The process's peak working set in MB (GetProcessMemoryInfo; under Wine
// the resident high-water mark of the process), or -1.
double PeakWorkingSetMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return -1;
  }
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// Driver thread of --load: true when the head-office window showed
// "记录数=<count>" after its query of every date. Every outcome is printed
// as a line beginning "load: ".
bool RunLoad(const std::wstring& outdir, long long count) {
  using Ids = win32::InterfaceWindowFrame;
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
  };
  // A message box fails the run with its text.
  auto box_up = [](const char* when) {
    HWND box = e2e::FindTopLevel(L"#32770");
    if (box == nullptr || e2e::FindChild(box, L"Button") == nullptr) {
      return false;
    }
    std::printf("load: FAILED: message box %s: %s\n", when,
                e2e::U8(e2e::MessageBoxText(box)).c_str());
    std::fflush(stdout);
    return true;
  };
  const Line& line = kLines[0];
  e2e::PostClick(g_buttons[0]);
  HWND window = nullptr;
  HWND exit = nullptr;
  bool failed = false;
  e2e::WaitUntil(
      [&] {
        failed = box_up("on opening");
        window = e2e::FindTopLevel(L"", W(line.caption));
        exit = window != nullptr ? e2e::FindChild(window, L"Button", W("退出"))
                                 : nullptr;
        return failed || (exit != nullptr && IsWindowEnabled(window) &&
                          IsWindowVisible(exit));
      },
      20000);
  if (failed) return false;
  if (exit == nullptr) {
    std::printf("load: FAILED: window \"%s\" did not open\n", line.caption);
    return false;
  }
  const std::string expected = "记录数=" + std::to_string(count);
  HWND status = GetDlgItem(window, Ids::kStatusBarId);
  SetDate(GetDlgItem(window, Ids::kStartDateId), 2000, 1, 1);
  SetDate(GetDlgItem(window, Ids::kEndDateId), 2099, 12, 31);
  std::printf("load: %s: querying 2000-01-01 to 2099-12-31, waiting for %s\n",
              line.entry_point, expected.c_str());
  std::fflush(stdout);
  const Clock::time_point press = Clock::now();
  e2e::PostClick(GetDlgItem(window, Ids::kRefreshId));
  // Reading the status bar waits up to 2 s for a window thread that
  // processes no messages; meanwhile the count cannot be read.
  std::string shown;
  bool busy_seen = false;
  Clock::time_point idle_since = Clock::now();
  enum { kWaiting, kShown, kOtherCount, kBox } outcome = kWaiting;
  // How long the window's thread takes to answer a message while it loads
  // (Windows calls a window that takes 5 s "not responding").
  double longest_answer_ms = 0;
  e2e::WaitUntil(
      [&] {
        if (box_up("during the query")) {
          outcome = kBox;
          return true;
        }
        const Clock::time_point asked = Clock::now();
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000,
                            &ignored);
        longest_answer_ms = std::max(
            longest_answer_ms,
            std::chrono::duration<double, std::milli>(Clock::now() - asked)
                .count());
        const std::wstring busy = e2e::StatusText(status, 2);
        shown = e2e::U8(e2e::StatusText(status, 0));
        if (!busy.empty()) busy_seen = true;
        if (shown == expected && busy.empty()) {
          outcome = kShown;
          return true;
        }
        // The busy text has come and gone but the count is another one:
        // settled once it stays so for 5 s. (A status bar that could not
        // be read gives empty texts.)
        if (!busy_seen || !busy.empty() || !shown.starts_with("记录数=")) {
          idle_since = Clock::now();
        } else if (seconds(idle_since) > 5) {
          outcome = kOtherCount;
          return true;
        }
        return false;
      },
      kLoadTimeoutMs);
  const double elapsed = seconds(press);
  switch (outcome) {
    case kShown:
      std::printf("load: %s shown %.1f s after 刷新\n", shown.c_str(), elapsed);
      break;
    case kOtherCount:
      std::printf(
          "load: FAILED: the window shows \"%s\" %.1f s after 刷新, "
          "not %s\n",
          shown.c_str(), elapsed, expected.c_str());
      break;
    case kBox:
      std::printf("load: the box came %.1f s after 刷新\n", elapsed);
      break;
    case kWaiting:
      std::printf(
          "load: FAILED: no %s within %.0f s; the window shows "
          "\"%s\"\n",
          expected.c_str(), elapsed, shown.c_str());
      break;
  }
  std::printf(
      "load: the window answered every message within %.0f ms meanwhile\n",
      longest_answer_ms);
  std::printf("load: peak working set (GetProcessMemoryInfo): %.1f MB\n",
              PeakWorkingSetMb());
  std::fflush(stdout);
  Sleep(500);  // let it paint
  std::wstring shot = outdir + L"\\load.bmp";
  if (SaveScreenshot(shot)) {
    std::printf("load: screenshot %s\n", e2e::U8(shot).c_str());
  }
  std::fflush(stdout);
  // The process ends without closing the window: freeing millions of
  // documents one by one is no part of the load.
  return outcome == kShown;
}

int Main(int argc, wchar_t** argv) {
  std::wstring demo_dir;
  bool cycle = false;
  long long load_count = -1;
  std::wstring load_machine;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if ((arg == L"--demo" || arg == L"--cycle") && i + 1 < argc &&
        demo_dir.empty()) {
      cycle = arg == L"--cycle";
      demo_dir = argv[++i];
    } else if (arg == L"--load" && i + 3 < argc && demo_dir.empty()) {
      demo_dir = argv[++i];
      load_count = std::wcstoll(argv[++i], nullptr, 10);
      load_machine = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: skjk-host [--demo OUTDIR | --cycle OUTDIR | "
                   "--load OUTDIR N MACHINE]\n");
      return 2;
    }
  }
  // The management client runs with COM initialised on its window thread.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  std::wstring dll = e2e::ProgramDirectory() + L"skjk.dll";
  g_library = LoadLibraryW(dll.c_str());
  if (g_library == nullptr) {
    std::fprintf(stderr, "skjk-host: cannot load %s (error %lu)\n",
                 e2e::U8(dll).c_str(), GetLastError());
    return 1;
  }
  if (!CreateMainWindow()) {
    std::fprintf(stderr, "skjk-host: cannot create the main window\n");
    return 1;
  }

  int failures = 0;
  std::thread driver;
  std::unique_ptr<e2e::Watchdog> watchdog;
  if (load_count >= 0) {
    CreateDirectoryW(demo_dir.c_str(), nullptr);
    SeedSettings(demo_dir);
    SetWindowTextW(g_edit, load_machine.c_str());
    driver = std::thread([&] {
      const bool loaded = RunLoad(demo_dir, load_count);
      std::fflush(stdout);
      // Straight out: the window may still be busy, or hold millions of
      // documents.
      ExitProcess(loaded ? 0 : 1);
    });
    watchdog = std::make_unique<e2e::Watchdog>(kLoadTimeoutMs + 60000,
                                               "skjk-host --load");
  } else if (!demo_dir.empty()) {
    CreateDirectoryW(demo_dir.c_str(), nullptr);
    SeedSettings(demo_dir);
    watchdog = std::make_unique<e2e::Watchdog>(
        cycle ? 330000 : 120000,
        cycle ? "skjk-host --cycle" : "skjk-host --demo");
    driver = std::thread(
        [&] { failures = cycle ? RunCycles(demo_dir) : RunDemo(demo_dir); });
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(g_main, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (driver.joinable()) driver.join();
  FreeLibrary(g_library);
  if (g_font != nullptr) DeleteObject(g_font);
  if (SUCCEEDED(com)) CoUninitialize();
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace skjk::host

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int rc = skjk::host::Main(argc, argv);
  LocalFree(argv);
  return rc;
}
