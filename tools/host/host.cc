// skjk-host: a small Windows program in place of the management client. It
// loads skjk.dll from its own folder and calls an entry point per business
// line with its window and five texts; text 5 (the server machine) comes from
// the field on the window, empty meaning this computer.
//
//   skjk-host                 interactive
//   skjk-host --demo OUTDIR   opens each of the three windows in turn from a
//                             driver thread, saves a screenshot of each to
//                             OUTDIR and closes it with its "退出" button
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "entry/entry_points.h"
#include "tests/e2e/driver.h"
#include "windows/win32/interface_window_win32.h"

namespace skjk::host {
namespace {

using e2e::W;

constexpr int kEditId = 100;
constexpr int kFirstButtonId = 200;

struct Line {
  const char* label;        // UTF-8 button text
  const char* entry_point;  // exported name
  const char* caption;      // UTF-8 caption of the window it opens
  const char* file;         // screenshot name
};

const Line kLines[] = {
    {"本部", "ShowDllBbsk", "本部税控机接口", "1-bbsk"},
    {"访销", "ShowDllFxsk", "税控机接口", "2-fxsk"},
    {"vu", "ShowDllJqsk", "vu税控机接口", "3-jqsk"},
};

HMODULE g_library = nullptr;
HWND g_main = nullptr;
HWND g_edit = nullptr;
HWND g_buttons[3] = {};
HFONT g_font = nullptr;

std::string ToGbk(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

void CallEntryPoint(int line) {
  auto entry = reinterpret_cast<ShowDllFunction>(reinterpret_cast<void*>(
      GetProcAddress(g_library, kLines[line].entry_point)));
  if (entry == nullptr) {
    MessageBoxW(g_main, W(kLines[line].entry_point).c_str(),
                L"skjk.dll: entry point missing", MB_OK | MB_ICONERROR);
    return;
  }
  std::string server = ToGbk(e2e::Text(g_edit));
  // Texts 1 to 4 stand for what the management client passes (operator,
  // name, branch, date); the plug-in keeps them and needs nothing of them.
  std::string name = ToGbk(W("演示操作员"));
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
  HWND child = CreateWindowExW(
      cls == std::wstring(L"Edit") ? WS_EX_CLIENTEDGE : 0, cls, text.c_str(),
      WS_CHILD | WS_VISIBLE | style, x, y, w, h, g_main,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
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
  g_main = CreateWindowExW(0, L"SkjkHost", W("卷烟批发管理系统（演示宿主）").c_str(),
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 820, 20, 360,
                           180, nullptr, nullptr, wc.hInstance, nullptr);
  if (g_main == nullptr) return false;
  LOGFONTW lf{};
  lf.lfHeight = -12;
  lf.lfCharSet = GB2312_CHARSET;
  g_font = CreateFontIndirectW(&lf);
  Child(L"Static", W("服务器："), SS_RIGHT, 10, 16, 70, 20, -1);
  g_edit = Child(L"Edit", L"", WS_TABSTOP | ES_AUTOHSCROLL, 84, 12, 240, 22,
                 kEditId);
  for (int i = 0; i < 3; ++i) {
    g_buttons[i] = Child(L"Button", W(kLines[i].label), WS_TABSTOP |
                         BS_PUSHBUTTON, 20 + i * 110, 60, 90, 40,
                         kFirstButtonId + i);
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

// Loads the sample database's documents (the year 2024) as a user would:
// both dates, then "刷新"; returns once the count is shown (or after a few
// seconds when the range holds none).
void QuerySample(HWND window) {
  using Ids = win32::InterfaceWindowWin32;
  SYSTEMTIME first{};
  first.wYear = 2024;
  first.wMonth = 1;
  first.wDay = 1;
  SYSTEMTIME last = first;
  last.wMonth = 12;
  last.wDay = 31;
  SendMessageW(GetDlgItem(window, Ids::kStartDateId), DTM_SETSYSTEMTIME,
               GDT_VALID, reinterpret_cast<LPARAM>(&first));
  SendMessageW(GetDlgItem(window, Ids::kEndDateId), DTM_SETSYSTEMTIME,
               GDT_VALID, reinterpret_cast<LPARAM>(&last));
  e2e::PostClick(GetDlgItem(window, Ids::kRefreshId));
  HWND status = GetDlgItem(window, Ids::kStatusBarId);
  e2e::WaitUntil(
      [&] {
        return e2e::StatusText(status, 2).empty() &&
               e2e::U8(e2e::StatusText(status, 0)) != "记录数=0";
      },
      4000);
  std::printf("%s\n", e2e::U8(e2e::StatusText(status, 0)).c_str());
}

// Driver thread of --demo. Returns the number of windows that did not open.
int RunDemo(const std::wstring& outdir) {
  int failures = 0;
  for (int i = 0; i < 3; ++i) {
    const Line& line = kLines[i];
    std::wstring base = outdir + L"\\" + W(line.file);
    e2e::PostClick(g_buttons[i]);
    HWND window = nullptr;
    HWND exit = nullptr;
    int boxes = 0;
    e2e::WaitUntil(
        [&] {
          HWND box = e2e::FindTopLevel(L"#32770");
          if (box != nullptr && e2e::FindChild(box, L"Button") != nullptr) {
            AnswerBox(box, base + L"-box" + std::to_wstring(++boxes) + L".bmp");
            return false;
          }
          window = e2e::FindTopLevel(L"", W(line.caption));
          exit = window != nullptr ? e2e::FindChild(window, L"Button", W("退出"))
                                   : nullptr;
          return exit != nullptr && IsWindowEnabled(window) &&
                 IsWindowVisible(exit);
        },
        20000);
    if (exit == nullptr) {
      std::printf("%s: window \"%s\" did not open\n", line.entry_point,
                  line.caption);
      ++failures;
      if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
      continue;
    }
    QuerySample(window);
    Sleep(500);  // let it paint
    std::wstring shot = base + L".bmp";
    bool saved = SaveScreenshot(shot);
    std::printf("%s: window \"%s\" shown%s%s\n", line.entry_point, line.caption,
                saved ? ", screenshot " : "", saved ? e2e::U8(shot).c_str() : "");
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

int Main(int argc, wchar_t** argv) {
  std::wstring demo_dir;
  for (int i = 1; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--demo" && i + 1 < argc) {
      demo_dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: skjk-host [--demo OUTDIR]\n");
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
  if (!demo_dir.empty()) {
    CreateDirectoryW(demo_dir.c_str(), nullptr);
    SeedSettings(demo_dir);
    watchdog = std::make_unique<e2e::Watchdog>(120000, "skjk-host --demo");
    driver = std::thread([&] { failures = RunDemo(demo_dir); });
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
