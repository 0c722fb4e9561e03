#include "settings/win32/settings_dialog_win32.h"

#include <shlobj.h>

#include <exception>
#include <string>
#include <vector>

#include "framework/modal.h"
#include "settings/settings_dialog.h"
#include "framework/ui_text.h"

namespace skjk::win32 {
namespace {

constexpr COLORREF kColour = RGB(197, 217, 220);
constexpr int kWidth = 443;
constexpr int kHeight = 328;
constexpr int kEditHeight = 21;
constexpr int kBrowseWidth = 21;

struct FieldControl {
  SettingsField field;
  int id;
  int button_id;  // 0: no browse button
};
constexpr FieldControl kFields[] = {
    {SettingsField::kBERead, kBEReadId, kBEReadButtonId},
    {SettingsField::kBEWrite1, kBEWrite1Id, kBEWrite1ButtonId},
    {SettingsField::kBEWrite2, kBEWrite2Id, kBEWrite2ButtonId},
    {SettingsField::kEfhr, kEfhrId, 0},
    {SettingsField::kEskr, kEskrId, 0},
    {SettingsField::kEsm, kEsmId, 0},
};

// SimSun with the GB2312 character set; where it is missing a Chinese font
// that is installed, so that the captions still show.
HFONT CreateDialogFont(int height, int weight) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = GB2312_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  for (const wchar_t* face : {L"SimSun", L"\u5B8B\u4F53", L"Microsoft YaHei",
                              L"WenQuanYi Micro Hei"}) {
    if (FontInstalled(face)) {
      lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
      break;
    }
  }
  HFONT font = CreateFontIndirectW(&lf);
  return font != nullptr ? font
                         : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int PointsToPixels(int points) {
  HDC dc = GetDC(nullptr);
  int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc != nullptr) ReleaseDC(nullptr, dc);
  return MulDiv(points, dpi, 72);
}

std::string SystemError(const char* what) {
  return std::string(what) + " failed (error " +
         std::to_string(GetLastError()) + ")";
}

class SettingsDialogWindow final : public SettingsDialogHost {
 public:
  SettingsDialogWindow(HINSTANCE instance, HWND owner)
      : instance_(instance), owner_(owner) {}
  ~SettingsDialogWindow() override {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    for (HGDIOBJ object :
         {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(bold_font_),
          static_cast<HGDIOBJ>(brush_)}) {
      if (object != nullptr) DeleteObject(object);
    }
  }
  SettingsDialogWindow(const SettingsDialogWindow&) = delete;
  SettingsDialogWindow& operator=(const SettingsDialogWindow&) = delete;

  Status ShowModal(SettingsDialog* dialog) override;
  std::string BrowseForFolder() override;
  void ShowErrorMessage(std::string_view text) override {
    MessageBoxW(MessageOwner(), Wide(text).c_str(),
                WideFromUtf8("错误").c_str(), MB_OK | MB_ICONERROR);
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code);
  Status Create();
  HWND Add(const wchar_t* window_class, std::string_view caption_utf8,
           DWORD style, int x, int y, int width, int height, int id = 0,
           DWORD ex_style = 0);
  // Brings the controls in line with the model.
  void ShowModel();
  // The host's owner window, or this dialog when there is none.
  HWND MessageOwner() const {
    HWND owner = OwnerWindow();
    return owner != nullptr ? owner : hwnd_;
  }

  HINSTANCE instance_;
  HWND owner_;
  HWND hwnd_ = nullptr;
  SettingsDialog* model_ = nullptr;
  HFONT font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HBRUSH brush_ = nullptr;
  bool showing_model_ = false;  // edits' change notifications are ours
};

Status SettingsDialogWindow::Create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &SettingsDialogWindow::WindowProc;
  wc.hInstance = instance_;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kSettingsDialogClass;
  if (RegisterClassExW(&wc) == 0 &&
      GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return Status::Error("Settings dialog: " + SystemError("RegisterClassEx"));
  }
  brush_ = CreateSolidBrush(kColour);
  font_ = CreateDialogFont(-PointsToPixels(9), FW_NORMAL);
  bold_font_ = CreateDialogFont(-14, FW_BOLD);

  int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  HWND hwnd = CreateWindowExW(
      WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kSettingsDialogClass,
      Wide(model_->title()).c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y,
      kWidth, kHeight, owner_, nullptr, instance_, this);
  if (hwnd == nullptr) {
    return Status::Error("Settings dialog: " + SystemError("CreateWindowEx"));
  }

  const DWORD label = WS_CHILD | WS_VISIBLE | SS_LEFT;
  const DWORD edit = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
  const DWORD button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  const DWORD group = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;

  HWND heading = Add(L"STATIC", "", WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 11,
                     435, 17, kLabelBtId);
  SendMessageW(heading, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font_), 0);

  // The content area starts 40 pixels down; the groups sit inside it.
  constexpr int kFilesLeft = 8, kFilesTop = 40 + 8;
  constexpr int kInvoiceLeft = 8, kInvoiceTop = 40 + 112;
  // Group boxes paint only their frame: they go below every other control
  // (created last, moved to the bottom), and the dialog does not clip its
  // children, so that its background shows through.
  auto add_group = [&](std::string_view caption, int x, int y, int width,
                       int height) {
    HWND box = Add(L"BUTTON", caption, group, x, y, width, height);
    SetWindowPos(box, HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  };
  const char* file_labels[] = {"已开发票读入文件", "销售单据导出文件",
                               "作废单据导出文件"};
  for (int i = 0; i < 3; ++i) {
    int top = kFilesTop + 21 + 25 * i;
    Add(L"STATIC", file_labels[i], label, kFilesLeft + 8, top + 4, 100, 14);
    Add(L"EDIT", "", edit, kFilesLeft + 112, top, 297 - kBrowseWidth,
        kEditHeight, kFields[i].id, WS_EX_CLIENTEDGE);
    Add(L"BUTTON", "...", button, kFilesLeft + 112 + 297 - kBrowseWidth, top,
        kBrowseWidth, kEditHeight, kFields[i].button_id);
  }

  struct InvoiceField {
    const char* caption;
    int left, top, id;
  } invoice_fields[] = {{"复 核 人", 24, 21, kEfhrId},
                        {"收 款 人", 224, 21, kEskrId},
                        {"商品税目", 24, 45, kEsmId}};
  for (const InvoiceField& f : invoice_fields) {
    Add(L"STATIC", f.caption, label, kInvoiceLeft + f.left,
        kInvoiceTop + f.top + 4, 54, 14);
    Add(L"EDIT", "", edit, kInvoiceLeft + f.left + 56, kInvoiceTop + f.top, 121,
        kEditHeight, f.id, WS_EX_CLIENTEDGE);
  }
  Add(L"BUTTON", "默认只导出一天的单据",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX | BS_FLAT, 16,
      40 + 191, 153, 17, kCEDayId);

  add_group("文件设置", kFilesLeft, kFilesTop, 417, 97);
  add_group("发票设置", kInvoiceLeft, kInvoiceTop, 417, 73);
  Add(L"BUTTON", "确定(&O)", button, 208, 264, 65, 22, kBtnOkId);
  Add(L"BUTTON", "取消(C)", button, 280, 264, 65, 22, kBtnCancelId);
  Add(L"BUTTON", "应用(&A)", button, 352, 264, 65, 22, kBtnApplyId);
  return Status::OK();
}

HWND SettingsDialogWindow::Add(const wchar_t* window_class,
                               std::string_view caption_utf8, DWORD style,
                               int x, int y, int width, int height, int id,
                               DWORD ex_style) {
  HWND control = CreateWindowExW(
      ex_style, window_class, WideFromUtf8(caption_utf8).c_str(),
      style | WS_CLIPSIBLINGS, x, y, width, height, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  if (control != nullptr) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
  }
  return control;
}

void SettingsDialogWindow::ShowModel() {
  showing_model_ = true;
  std::wstring title = Wide(model_->title());
  if (WindowTextW(hwnd_) != title) SetWindowTextW(hwnd_, title.c_str());
  HWND heading = GetDlgItem(hwnd_, kLabelBtId);
  if (WindowTextW(heading) != title) SetWindowTextW(heading, title.c_str());
  for (const FieldControl& f : kFields) {
    HWND control = GetDlgItem(hwnd_, f.id);
    std::wstring text = Wide(model_->text(f.field));
    if (WindowTextW(control) != text) SetWindowTextW(control, text.c_str());
  }
  SendMessageW(GetDlgItem(hwnd_, kCEDayId), BM_SETCHECK,
               model_->day() ? BST_CHECKED : BST_UNCHECKED, 0);
  EnableWindow(GetDlgItem(hwnd_, kBtnApplyId), model_->apply_enabled());
  showing_model_ = false;
}

struct DisabledWindows {
  HWND except;
  std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM lparam) {
  auto* disabled = reinterpret_cast<DisabledWindows*>(lparam);
  if (hwnd != disabled->except && IsWindowVisible(hwnd) &&
      IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    disabled->windows.push_back(hwnd);
  }
  return TRUE;
}

Status SettingsDialogWindow::ShowModal(SettingsDialog* dialog) {
  model_ = dialog;
  SKJK_RETURN_IF_ERROR(Create());
  ShowModel();

  DisabledWindows disabled{hwnd_, {}};
  EnumThreadWindows(GetCurrentThreadId(), &DisableOne,
                    reinterpret_cast<LPARAM>(&disabled));
  if (owner_ != nullptr && IsWindowEnabled(owner_)) {  // another thread's
    EnableWindow(owner_, FALSE);
    disabled.windows.push_back(owner_);
  }
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
  SetFocus(GetDlgItem(hwnd_, kBEReadId));

  Status status;
  MSG msg;
  while (model_->result() == SettingsDialog::Result::kNone && IsWindow(hwnd_)) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // WM_QUIT: end here, and let the caller's loop see it
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) {
      status = Status::Error("Settings dialog: " + SystemError("GetMessage"));
      break;
    }
    if (!IsDialogMessageW(hwnd_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (model_->result() == SettingsDialog::Result::kNone) {
    model_->BtnCancelClick();
  }

  // Enable first, then hide, so that the owner becomes active again.
  for (auto it = disabled.windows.rbegin(); it != disabled.windows.rend();
       ++it) {
    if (IsWindow(*it)) EnableWindow(*it, TRUE);
  }
  if (IsWindow(hwnd_)) {
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER);
    DestroyWindow(hwnd_);
  }
  hwnd_ = nullptr;
  return status;
}

std::string SettingsDialogWindow::BrowseForFolder() {
  std::wstring title = WideFromUtf8("请选择文件夹");
  wchar_t display_name[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = MessageOwner();
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = display_name;
  info.lpszTitle = title.c_str();
  LPITEMIDLIST item = SHBrowseForFolderW(&info);
  if (item == nullptr) return {};
  wchar_t path[MAX_PATH] = {};
  BOOL has_path = SHGetPathFromIDListW(item, path);
  CoTaskMemFree(item);
  return has_path ? Gbk(path) : std::string();
}

LRESULT CALLBACK SettingsDialogWindow::WindowProc(HWND hwnd, UINT message,
                                                  WPARAM wparam,
                                                  LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<SettingsDialogWindow*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<SettingsDialogWindow*>(
      GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  try {
    return self->HandleMessage(message, wparam, lparam);
  } catch (const std::exception& e) {
    MessageBoxW(self->MessageOwner(), Wide(e.what()).c_str(), nullptr,
                MB_OK | MB_ICONERROR);
  } catch (...) {
    MessageBoxW(self->MessageOwner(), L"Settings dialog: unexpected error",
                nullptr, MB_OK | MB_ICONERROR);
  }
  return 0;
}

LRESULT SettingsDialogWindow::HandleMessage(UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT rect;
      GetClientRect(hwnd_, &rect);
      FillRect(reinterpret_cast<HDC>(wparam), &rect, brush_);
      return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      SetBkColor(reinterpret_cast<HDC>(wparam), kColour);
      return reinterpret_cast<LRESULT>(brush_);
    case WM_COMMAND:
      if (lparam != 0) OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_CLOSE:  // the close box: cancel; the modal loop destroys
      model_->BtnCancelClick();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void SettingsDialogWindow::OnCommand(int id, int code) {
  if (model_ == nullptr) return;
  if (code == EN_CHANGE) {
    if (showing_model_) return;
    for (const FieldControl& f : kFields) {
      if (f.id == id) {
        model_->SetText(f.field, Gbk(WindowTextW(GetDlgItem(hwnd_, id))));
      }
    }
    ShowModel();
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case kBEReadButtonId:
      model_->BEReadButtonClick();
      break;
    case kBEWrite1ButtonId:
      model_->BEWrite1ButtonClick();
      break;
    case kBEWrite2ButtonId:
      model_->BEWrite2ButtonClick();
      break;
    case kCEDayId:
      model_->SetDay(SendMessageW(GetDlgItem(hwnd_, kCEDayId), BM_GETCHECK, 0,
                                  0) == BST_CHECKED);
      break;
    case kBtnApplyId:
      model_->BtnApplyClick();
      break;
    case kBtnOkId:
      model_->BtnOkClick();
      break;
    case kBtnCancelId:
      model_->BtnCancelClick();
      break;
    default:  // IDOK and IDCANCEL (Enter, Escape) are bound to nothing
      return;
  }
  if (IsWindow(hwnd_)) ShowModel();
}

}  // namespace

Status RunSettingsDialogWin32(HINSTANCE instance, HWND owner,
                              const SettingsLine& line, Env* env,
                              std::string_view path, Settings* values) {
  try {
    SettingsDialogWindow window(instance, owner);
    return RunSettingsDialog(&window, line, env, path, values);
  } catch (const std::exception& e) {
    return Status::Error(std::string("Settings dialog: ") + e.what());
  } catch (...) {
    return Status::Error("Settings dialog: unexpected error");
  }
}

Status RunSettingsDialogWin32(HWND owner, const SettingsLine& line,
                              Settings* values) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&kColour), &module);
  try {
    Env* env = Env::Default();
    return RunSettingsDialogWin32(module, owner, line, env,
                                  SettingsPath(env), values);
  } catch (...) {
    return Status::Error("Settings dialog: unexpected error");
  }
}

}  // namespace skjk::win32
