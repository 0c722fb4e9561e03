#include "settings/win32/settings_dialog_win32.h"

#include <shlobj.h>

#include <exception>
#include <new>
#include <string>

#include "settings/settings_dialog.h"
#include "text/error_text.h"
#include "window_framework/error_display.h"
#include "window_framework/modal.h"
#include "window_framework/ui_text.h"

namespace skjk::win32 {
namespace {

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
    {SettingsField::kInvoiceFile, kBEReadId, kBEReadButtonId},
    {SettingsField::kSalesFile, kBEWrite1Id, kBEWrite1ButtonId},
    {SettingsField::kVoidFile, kBEWrite2Id, kBEWrite2ButtonId},
    {SettingsField::kReviewer, kEfhrId, 0},
    {SettingsField::kPayee, kEskrId, 0},
    {SettingsField::kTaxItem, kEsmId, 0},
};

// The dialog's window: shows the model in its controls and forwards the
// user's input to the model's handlers. The modal loop ends once the model
// has a result; the close box cancels.
class SettingsDialogWindow final : public ModalWindow {
 public:
  explicit SettingsDialogWindow(SettingsDialog* model) : model_(model) {}
  ~SettingsDialogWindow() override;

  // Creates the window, hidden, with its controls showing the model.
  Status Create(HWND owner);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnClose() override { model_->BtnCancelClick(); }

 private:
  HWND Add(const wchar_t* window_class, std::string_view caption_utf8,
           DWORD style, int x, int y, int width, int height, int id = 0,
           DWORD ex_style = 0);
  void CreateControls();
  // Brings the controls in line with the model.
  void ShowModel();
  void OnCommand(int id, int code);

  SettingsDialog* model_;
  HFONT font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HBRUSH brush_ = nullptr;
  HWND focus_ = nullptr;        // the control to focus on activation
  bool showing_model_ = false;  // edits' change notifications are ours
};

SettingsDialogWindow::~SettingsDialogWindow() {
  // The controls go before the fonts and the brush they use.
  if (hwnd() != nullptr) DestroyWindow(hwnd());
  for (HGDIOBJ object :
       {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(bold_font_),
        static_cast<HGDIOBJ>(brush_)}) {
    if (object != nullptr) DeleteObject(object);
  }
}

Status SettingsDialogWindow::Create(HWND owner) {
  brush_ = CreateSolidBrush(kWindowColour);
  font_ = CreateUiFont(9);
  bold_font_ = CreateUiFont({.points = 10.5, .weight = FW_BOLD});

  CreateParams params;
  params.class_name = kSettingsDialogClass;
  params.caption = Wide(model_->title());
  params.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  params.ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  params.x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  params.y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  params.width = kWidth;
  params.height = kHeight;
  params.owner = owner;
  params.background = kWindowColour;
  SKJK_RETURN_IF_ERROR(CreateHandle(params));
  CreateControls();
  focus_ = GetDlgItem(hwnd(), kBEReadId);
  ShowModel();
  return Status::OK();
}

void SettingsDialogWindow::CreateControls() {
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
}

HWND SettingsDialogWindow::Add(const wchar_t* window_class,
                               std::string_view caption_utf8, DWORD style,
                               int x, int y, int width, int height, int id,
                               DWORD ex_style) {
  return AddControl(window_class, WideFromUtf8(caption_utf8),
                    style | WS_CLIPSIBLINGS, id, x, y, width, height, font_,
                    ex_style);
}

void SettingsDialogWindow::ShowModel() {
  showing_model_ = true;
  std::wstring title = Wide(model_->title());
  if (WindowTextW(hwnd()) != title) SetWindowTextW(hwnd(), title.c_str());
  HWND heading = GetDlgItem(hwnd(), kLabelBtId);
  if (WindowTextW(heading) != title) SetWindowTextW(heading, title.c_str());
  for (const FieldControl& f : kFields) {
    HWND control = GetDlgItem(hwnd(), f.id);
    std::wstring text = Wide(model_->text(f.field));
    if (WindowTextW(control) != text) SetWindowTextW(control, text.c_str());
  }
  SendMessageW(GetDlgItem(hwnd(), kCEDayId), BM_SETCHECK,
               model_->day() ? BST_CHECKED : BST_UNCHECKED, 0);
  EnableWindow(GetDlgItem(hwnd(), kBtnApplyId), model_->apply_enabled());
  showing_model_ = false;
}

LRESULT SettingsDialogWindow::HandleMessage(UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      SetBkColor(reinterpret_cast<HDC>(wparam), kWindowColour);
      return reinterpret_cast<LRESULT>(brush_);
    case WM_COMMAND:
      if (lparam != 0) OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_ACTIVATE:
      // As in a dialog box, the control that had the focus when the window
      // was left gets it back (the first file field at first).
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd(), focus)) focus_ = focus;
      } else if (HIWORD(wparam) == 0) {  // not minimised
        SetFocus(focus_ != nullptr && IsWindow(focus_) ? focus_ : hwnd());
      }
      return 0;
  }
  return ModalWindow::HandleMessage(message, wparam, lparam);
}

void SettingsDialogWindow::OnCommand(int id, int code) {
  if (code == EN_CHANGE) {
    if (showing_model_) return;
    for (const FieldControl& f : kFields) {
      if (f.id == id) {
        model_->SetText(f.field, Gbk(WindowTextW(GetDlgItem(hwnd(), id))));
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
      model_->SetDay(SendMessageW(GetDlgItem(hwnd(), kCEDayId), BM_GETCHECK, 0,
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
  if (hwnd() == nullptr) return;
  ShowModel();
  if (model_->result() != SettingsDialog::Result::kNone) EndModal();
}

// The model's screen on Windows: the dialog window, its message boxes and
// the folder browser.
class SettingsDialogHostWin32 final : public SettingsDialogHost {
 public:
  explicit SettingsDialogHostWin32(HWND owner) : owner_(owner) {}

  Status ShowModal(SettingsDialog* dialog) override;
  std::string BrowseForFolder() override;
  void ShowErrorMessage(std::string_view text) override {
    OwnedMessageBox(MessageOwner(), Wide(text).c_str(),
                    WideFromUtf8("错误").c_str(), MB_OK | MB_ICONERROR);
  }

 private:
  // The host's owner window, or the dialog when there is none.
  HWND MessageOwner() const {
    HWND owner = OwnerWindow();
    if (owner == nullptr && window_ != nullptr) owner = window_->hwnd();
    return owner;
  }

  HWND owner_;
  SettingsDialogWindow* window_ = nullptr;  // while it is shown
};

Status SettingsDialogHostWin32::ShowModal(SettingsDialog* dialog) {
  SettingsDialogWindow window(dialog);
  Status created = window.Create(owner_);
  if (!created.ok()) {
    return created;
  }
  window_ = &window;
  Status status = window.ShowModal(owner_);
  window_ = nullptr;
  // Ended otherwise than by the model (destroyed with its owner, WM_QUIT).
  if (dialog->result() == SettingsDialog::Result::kNone) {
    dialog->BtnCancelClick();
  }
  return status;
}

std::string SettingsDialogHostWin32::BrowseForFolder() {
  std::wstring title = WideFromUtf8("请选择文件夹");
  wchar_t display_name[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = MessageOwner();
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = display_name;
  info.lpszTitle = title.c_str();
  LPITEMIDLIST item = nullptr;
  {
    OwnerChainGuard keep(info.hwndOwner);
    item = SHBrowseForFolderW(&info);
  }
  if (item == nullptr) return {};
  wchar_t path[MAX_PATH] = {};
  BOOL has_path = SHGetPathFromIDListW(item, path);
  CoTaskMemFree(item);
  return has_path ? Gbk(path) : std::string();
}

}  // namespace

Status RunSettingsDialogWin32(HWND owner, const SettingsRules& line, Env* env,
                              std::string_view path, Settings* values) {
  try {
    SettingsDialogHostWin32 host(owner);
    return RunSettingsDialog(&host, line, env, path, values);
  } catch (const std::bad_alloc&) {
    return Status::Error(OutOfMemoryErrorText());
  } catch (const std::exception& e) {
    return Status::Error(std::string("Settings dialog: ") + e.what());
  } catch (...) {
    return Status::Error("Settings dialog: unexpected error");
  }
}

Status RunSettingsDialogWin32(HWND owner, const SettingsRules& line,
                              Settings* values) {
  try {
    Env* env = Env::Default();
    return RunSettingsDialogWin32(owner, line, env, SettingsPath(env), values);
  } catch (...) {
    return Status::Error("Settings dialog: unexpected error");
  }
}

}  // namespace skjk::win32
