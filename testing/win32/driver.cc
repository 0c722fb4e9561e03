#include "testing/win32/driver.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace skjk::e2e {
namespace {

struct FindContext {
  std::wstring_view caption;
  std::wstring_view class_name;
  HWND except;
  HWND found;
  bool any_text;
};

bool SameClass(HWND window, std::wstring_view class_name) {
  if (class_name.empty()) return true;
  std::wstring name = ClassName(window);
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name.data(),
                        static_cast<int>(name.size()), class_name.data(),
                        static_cast<int>(class_name.size())) == CSTR_EQUAL;
}

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM lparam) {
  auto* context = reinterpret_cast<FindContext*>(lparam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != GetCurrentProcessId() || window == context->except ||
      !IsWindowVisible(window) || !SameClass(window, context->class_name)) {
    return TRUE;
  }
  if (context->any_text || Caption(window) == context->caption) {
    context->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK MatchChild(HWND window, LPARAM lparam) {
  auto* context = reinterpret_cast<FindContext*>(lparam);
  if (SameClass(window, context->class_name) &&
      (context->any_text || Caption(window) == context->caption)) {
    context->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

DWORD Scaled(DWORD ms) {
  static const DWORD scale = [] {
    wchar_t text[16] = {};
    DWORD n = GetEnvironmentVariableW(L"SKJK_TIME_SCALE", text, 16);
    long value = n > 0 && n < 16 ? std::wcstol(text, nullptr, 10) : 1;
    return static_cast<DWORD>(value >= 1 && value <= 100 ? value : 1);
  }();
  return ms > MAXDWORD / scale ? MAXDWORD - 1 : ms * scale;
}

Watchdog::Watchdog(DWORD timeout_ms, std::string what)
    : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      timeout_ms_(Scaled(timeout_ms)),
      what_(std::move(what)) {
  thread_ = CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr);
}

Watchdog::~Watchdog() {
  SetEvent(done_);
  if (thread_ != nullptr) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  CloseHandle(done_);
}

DWORD WINAPI Watchdog::Run(void* self) {
  auto* dog = static_cast<Watchdog*>(self);
  if (WaitForSingleObject(dog->done_, dog->timeout_ms_) == WAIT_TIMEOUT) {
    std::fprintf(stderr, "watchdog: %s did not finish within %lu ms\n",
                 dog->what_.c_str(),
                 static_cast<unsigned long>(dog->timeout_ms_));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 124);
  }
  return 0;
}

std::wstring W(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      out.data(), n);
  return out;
}

namespace {
std::string FromWide(UINT code_page, std::wstring_view wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(code_page, 0, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}
}  // namespace

std::string U8(std::wstring_view wide) { return FromWide(CP_UTF8, wide); }
std::string Gbk(std::wstring_view wide) { return FromWide(936, wide); }

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  ULONGLONG end = GetTickCount64() + Scaled(timeout_ms);
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(10);
  }
}

std::wstring Text(HWND window) {
  wchar_t buf[1024] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024,
                           reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                           Scaled(2000), &copied)) {
    return {};
  }
  return std::wstring(buf, copied < 1024 ? copied : 1023);
}

std::wstring Caption(HWND window) {
  wchar_t buf[1024] = {};
  int n = InternalGetWindowText(window, buf, 1024);
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring ClassName(HWND window) {
  wchar_t buf[256] = {};
  int n = GetClassNameW(window, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

HWND WaitForWindow(std::wstring_view caption, DWORD timeout_ms,
                   std::wstring_view class_name, HWND except) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        FindContext context{caption, class_name, except, nullptr, false};
        EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&context));
        found = context.found;
        return found != nullptr;
      },
      timeout_ms);
  return found;
}

HWND FindTopLevel(std::wstring_view class_name, std::wstring_view caption) {
  FindContext context{caption, class_name, nullptr, nullptr, caption.empty()};
  EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

HWND FindChild(HWND parent, std::wstring_view class_name,
               std::wstring_view text) {
  FindContext context{text, class_name, nullptr, nullptr, text.empty()};
  EnumChildWindows(parent, &MatchChild, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

HWND WaitForChild(HWND parent, std::wstring_view class_name,
                  std::wstring_view text, DWORD timeout_ms) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = FindChild(parent, class_name, text);
        return found != nullptr && IsWindowVisible(found);
      },
      timeout_ms);
  return found;
}

namespace {

struct OwnedContext {
  HWND owner;
  std::wstring_view class_name;
  HWND found;
};

BOOL CALLBACK MatchOwned(HWND window, LPARAM lparam) {
  auto* context = reinterpret_cast<OwnedContext*>(lparam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(window) &&
      GetWindow(window, GW_OWNER) == context->owner &&
      SameClass(window, context->class_name)) {
    context->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND WaitForOwnedWindow(HWND owner, std::wstring_view class_name,
                        DWORD timeout_ms) {
  OwnedContext context{owner, class_name, nullptr};
  WaitUntil(
      [&] {
        EnumWindows(&MatchOwned, reinterpret_cast<LPARAM>(&context));
        return context.found != nullptr;
      },
      timeout_ms);
  return context.found;
}

bool RoundTrip(HWND window, DWORD timeout_ms) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL,
                             Scaled(timeout_ms), &ignored) != 0;
}

void PostClick(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void PostCloseBox(HWND window) {
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::wstring StatusText(HWND status_bar, int panel) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(status_bar, SB_GETTEXTLENGTHW, panel, 0,
                           SMTO_ABORTIFHUNG, Scaled(2000), &length)) {
    return {};
  }
  std::vector<wchar_t> buf(LOWORD(length) + 1, L'\0');
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(status_bar, SB_GETTEXTW, panel,
                      reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                      Scaled(2000), &ignored);
  return std::wstring(buf.data());
}

bool WaitUntilIdle(HWND status_bar, DWORD timeout_ms) {
  return WaitUntil([&] { return StatusText(status_bar, 2).empty(); },
                   timeout_ms);
}

bool WaitForCount(HWND status_bar, const std::string& count, DWORD timeout_ms) {
  return WaitUntil(
      [&] {
        return U8(StatusText(status_bar, 0)) == count &&
               StatusText(status_bar, 2).empty();
      },
      timeout_ms);
}

bool WaitUntilHidden(HWND window, DWORD timeout_ms) {
  return WaitUntil(
      [&] { return !IsWindow(window) || !IsWindowVisible(window); },
      timeout_ms);
}

HWND WaitForMessageBox(DWORD timeout_ms) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = FindTopLevel(L"#32770");
        return found != nullptr && FindChild(found, L"Button") != nullptr;
      },
      timeout_ms);
  return found;
}

std::wstring MessageBoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text != nullptr ? Caption(text) : std::wstring();
}

bool AnswerMessageBox(HWND box, int button_id) {
  HWND button = GetDlgItem(box, button_id);
  if (button == nullptr) return false;
  PostClick(button);
  return true;
}

namespace {

// Answers a message box or dismisses a `dismiss` dialog if one is up; true
// when it did.
bool HandleInterruption(std::vector<std::wstring>* boxes,
                        std::wstring_view dismiss) {
  HWND box = FindTopLevel(L"#32770");
  if (box != nullptr && GetDlgItem(box, 0xFFFF) != nullptr &&
      FindChild(box, L"Button") != nullptr) {
    std::wstring text = MessageBoxText(box);
    for (int id : {IDOK, IDNO, IDCANCEL}) {
      if (AnswerMessageBox(box, id)) break;
    }
    if (WaitUntilHidden(box) && boxes != nullptr) boxes->push_back(text);
    return true;
  }
  if (!dismiss.empty()) {
    HWND dialog = FindTopLevel(L"", dismiss);
    if (dialog != nullptr) {
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      WaitUntilHidden(dialog);
      return true;
    }
  }
  return false;
}

}  // namespace

HWND WaitForReadyWindow(std::wstring_view caption, std::wstring_view button,
                        std::vector<std::wstring>* boxes,
                        std::wstring_view dismiss, DWORD timeout_ms) {
  // Ready must hold for a while: a window may still post itself a step
  // (its first activation) that opens a box.
  constexpr ULONGLONG kSettleMs = 150;
  HWND window = nullptr;
  ULONGLONG ready_since = 0;
  bool ready = WaitUntil(
      [&] {
        if (HandleInterruption(boxes, dismiss)) {
          ready_since = 0;
          return false;
        }
        window = FindTopLevel(L"", caption);
        bool usable = window != nullptr && IsWindowEnabled(window);
        if (usable && !button.empty()) {
          HWND b = FindChild(window, L"Button", button);
          usable = b != nullptr && IsWindowVisible(b);
        }
        if (!usable) {
          ready_since = 0;
          return false;
        }
        if (ready_since == 0) ready_since = GetTickCount64();
        return GetTickCount64() - ready_since >= kSettleMs;
      },
      timeout_ms);
  return ready ? window : nullptr;
}

bool CloseAndWait(HWND window, HWND button, std::vector<std::wstring>* boxes,
                  std::wstring_view dismiss, DWORD timeout_ms) {
  auto close = [&] {
    if (button != nullptr) {
      PostClick(button);
    } else {
      PostCloseBox(window);
    }
  };
  close();
  bool interrupted = false;
  return WaitUntil(
      [&] {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        if (HandleInterruption(boxes, dismiss)) {
          interrupted = true;
        } else if (interrupted && IsWindowEnabled(window)) {
          // The close may have been taken by a box that opened meanwhile.
          interrupted = false;
          close();
        }
        return false;
      },
      timeout_ms);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::wstring ProgramDirectory() {
  std::wstring path(MAX_PATH * 4, L'\0');
  DWORD n =
      GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring ListCellText(HWND list, int row, int column) {
  wchar_t buffer[256] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 256;
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return buffer;
}

namespace {

// The caption of column `column` into *caption; false when the list has no
// such column.
bool GetColumnCaption(HWND list, int column, std::wstring* caption) {
  wchar_t text[64] = {};
  LVCOLUMNW lvc{};
  lvc.mask = LVCF_TEXT;
  lvc.pszText = text;
  lvc.cchTextMax = 64;
  if (!SendMessageW(list, LVM_GETCOLUMNW, column,
                    reinterpret_cast<LPARAM>(&lvc))) {
    return false;
  }
  *caption = text;
  return true;
}

}  // namespace

std::wstring ListColumnCaption(HWND list, int column) {
  std::wstring caption;
  GetColumnCaption(list, column, &caption);
  return caption;
}

int ListColumnIndex(HWND list, std::string_view caption) {
  HWND header = ListView_GetHeader(list);
  for (int i = 0; i < Header_GetItemCount(header); ++i) {
    std::wstring text;
    if (GetColumnCaption(list, i, &text) && U8(text) == caption) return i;
  }
  return -1;
}

bool SaveScreenBitmap(HWND window, const std::wstring& path) {
  const RECT screen_rect{0, 0, GetSystemMetrics(SM_CXSCREEN),
                         GetSystemMetrics(SM_CYSCREEN)};
  RECT r = screen_rect;
  // Only the part on the screen: a copy from outside it fails as a whole
  // under X11 (the customer window stands at left -1).
  if (window != nullptr &&
      !(GetWindowRect(window, &r) && IntersectRect(&r, &r, &screen_rect))) {
    return false;
  }
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::string pixels(static_cast<size_t>(stride) * height, '\0');
  GetDIBits(memory, bitmap, 0, height, pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(h, &file, sizeof file, &n, nullptr) &&
            WriteFile(h, &info, sizeof info, &n, nullptr) &&
            WriteFile(h, pixels.data(), static_cast<DWORD>(pixels.size()), &n,
                      nullptr);
  return CloseHandle(h) && ok;
}

HWND CreateHostWindow(int x, int y, int width, int height) {
  static const wchar_t kClass[] = L"SkjkE2eHost";
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);  // fails harmlessly when registered already
  return CreateWindowExW(0, kClass, L"e2e host",
                         WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height,
                         nullptr, nullptr, wc.hInstance, nullptr);
}

std::string ReadWholeFile(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    data.append(buffer, n);
  }
  CloseHandle(h);
  return data;
}

void SetDate(HWND picker, WORD year, WORD month, WORD day) {
  SYSTEMTIME date{};
  date.wYear = year;
  date.wMonth = month;
  date.wDay = day;
  SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID,
               reinterpret_cast<LPARAM>(&date));
}

std::string ServerMachine(const std::wstring& dir) {
  std::string port = ReadWholeFile(dir + L"server.port");
  while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) {
    port.pop_back();
  }
  if (port.empty() || port == "<missing>") return std::string();
  return "127.0.0.1:" + port;
}

bool WriteWholeFile(const std::wstring& path, const std::string& data) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n,
                      nullptr) != FALSE;
  return CloseHandle(h) && ok;
}

}  // namespace skjk::e2e
