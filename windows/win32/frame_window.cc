#include "windows/win32/frame_window.h"

#include <commctrl.h>

#include <memory>

#include "base/env.h"
#include "text/gbk.h"
#include "windows/win32/error_display.h"
#include "windows/win32/ui_text.h"

namespace skjk::win32 {

using text::literals::operator""_gbk;

namespace {

constexpr COLORREF kWindowColour = RGB(197, 217, 220);

}  // namespace

FrameWindow::FrameWindow(const Variant& variant, const InterfaceContext& context)
    : variant_(variant), context_(context) {}

FrameWindow::~FrameWindow() {
  if (font_ != nullptr) DeleteObject(font_);
}

Status FrameWindow::Create() {
  CreateParams params;
  params.class_name = WideFromUtf8(variant_.window_class);
  params.caption = WideFromUtf8(variant_.caption);
  params.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  params.ex_style = WS_EX_CONTROLPARENT;
  params.x = 0;
  params.y = 79;
  params.width = 797;
  params.height = 492;
  params.owner = context_.owner;
  params.background = kWindowColour;
  SKJK_RETURN_IF_ERROR(CreateHandle(params));
  CreateControls();
  FormCreate();
  return Status::OK();
}

void FrameWindow::CreateControls() {
  font_ = CreateUiFont(9);
  exit_button_ = CreateWindowExW(
      0, WC_BUTTONW, Wide("退出"_gbk).c_str(),
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 504, 4, 49, 49,
      hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kExitId)),
      ModuleHandle(), nullptr);
  status_bar_ = CreateWindowExW(
      0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0,
      0, hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)),
      ModuleHandle(), nullptr);
  for (HWND control : {exit_button_, status_bar_}) {
    if (control != nullptr) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    }
  }
  LayoutStatusBar();
  if (status_bar_ != nullptr) {
    SendMessageW(status_bar_, SB_SETTEXTW, 0,
                 reinterpret_cast<LPARAM>(Wide("记录数=0"_gbk).c_str()));
  }
}

void FrameWindow::LayoutStatusBar() {
  if (status_bar_ == nullptr) return;
  SendMessageW(status_bar_, WM_SIZE, 0, 0);
  int parts[3] = {100, 250, -1};
  SendMessageW(status_bar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
}

void FrameWindow::FormCreate() {
  Env* env = Env::Default();
  Status status = LoadSettings(env, SettingsPath(env), variant_.name, &settings_);
  if (!status.ok()) ShowGeneralError(context_.owner, status.message());
}

LRESULT FrameWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == kExitId && HIWORD(wparam) == BN_CLICKED) {
        Close();  // fbExitClick
        return 0;
      }
      break;
    case WM_SIZE:
      LayoutStatusBar();
      return 0;
    default:
      break;
  }
  return InterfaceWindow::HandleMessage(message, wparam, lparam);
}

}  // namespace skjk::win32
