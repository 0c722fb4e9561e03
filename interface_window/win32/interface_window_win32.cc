#include "interface_window/win32/interface_window_win32.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/env.h"
#include "interface_window/win32/toolbar_pictures.h"
#include "settings/win32/settings_dialog_win32.h"
#include "text/gbk.h"
#include "window_framework/error_display.h"
#include "window_framework/modal.h"
#include "window_framework/ui_text.h"

namespace skjk::win32 {

using text::literals::operator""_gbk;

namespace {

// Runs the activation step once the window has become active.
constexpr UINT kActivateMessage = WM_APP + 0x101;

struct ToolButton {
  int id;
  int left;
  std::string_view caption;  // UTF-8
  std::string_view hint;     // UTF-8
  Picture picture;
};
constexpr ToolButton kToolButtons[] = {
    {InterfaceWindowWin32::kImportId, 88, "读入", "读入税控机的传出文件",
     Picture::kImport},
    {InterfaceWindowWin32::kExportId, 176, "导出", "导出指定的文件到税控机",
     Picture::kExport},
    {InterfaceWindowWin32::kSetId, 392, "设置", "设置税控机接口的参数",
     Picture::kSettings},
    {InterfaceWindowWin32::kExitId, 504, "退出", "退出", Picture::kExit},
};

CalendarDate FromSystemTime(const SYSTEMTIME& st) {
  return CalendarDate{std::chrono::year{st.wYear},
                      std::chrono::month{st.wMonth}, std::chrono::day{st.wDay}};
}

SYSTEMTIME ToSystemTime(CalendarDate date) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(static_cast<int>(date.year()));
  st.wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
  st.wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
  return st;
}

}  // namespace

InterfaceWindowWin32::InterfaceWindowWin32(const BusinessLine& business_line,
                                           const InterfaceContext& context)
    : business_line_(business_line),
      look_(business_line.look),
      context_(context) {
  model_ = std::make_unique<skjk::InterfaceWindow>(business_line_,
                                                   Env::Default(), this);
}

InterfaceWindowWin32::~InterfaceWindowWin32() {
  // The grids and the totals stop following the sets before the sets go.
  documents_.Bind(nullptr);
  lines_.Bind(nullptr);
  if (totals_set_ != nullptr) totals_set_->RemoveObserver(this);
  totals_set_ = nullptr;
  if (hwnd() != nullptr) DestroyWindow(hwnd());
  for (HFONT font : {simsun_, window_font_}) {
    if (font != nullptr) DeleteObject(font);
  }
  if (background_ != nullptr) DeleteObject(background_);
}

Status InterfaceWindowWin32::Create() {
  CreateParams params;
  params.class_name = WideFromUtf8(business_line_.window_class);
  params.caption = WideFromUtf8(business_line_.caption);
  params.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  params.ex_style = WS_EX_CONTROLPARENT;
  params.x = look_.window.left;
  params.y = look_.window.top;
  params.width = look_.window.width;
  params.height = look_.window.height;
  params.owner = context_.owner;
  params.background = kWindowColour;
  background_ = CreateSolidBrush(kWindowColour);
  simsun_ = CreateUiFont(9);
  window_font_ = look_.simsun_window_font
                     ? nullptr
                     : CreateUiFont({.face = L"MS Sans Serif",
                                     .points = 8,
                                     .charset = DEFAULT_CHARSET});
  SKJK_RETURN_IF_ERROR(CreateHandle(params));
  CreateControls();
  Layout();
  model_->FormCreate();
  return Status::OK();
}

void InterfaceWindowWin32::CreateControls() {
  HFONT main_font = window_font_ != nullptr ? window_font_ : simsun_;
  for (size_t i = 0; i < std::size(kToolButtons); ++i) {
    const ToolButton& b = kToolButtons[i];
    toolbar_[i] = AddControl(WC_BUTTONW, WideFromUtf8(b.caption),
                             WS_TABSTOP | BS_OWNERDRAW, b.id, b.left, 4, 49, 49,
                             main_font);
  }
  // The buttons' hints are held by a tooltip that stays switched off.
  hints_ =
      CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, hwnd(), nullptr, ModuleHandle(), nullptr);
  for (size_t i = 0; i < std::size(kToolButtons); ++i) {
    std::wstring hint = WideFromUtf8(kToolButtons[i].hint);
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(toolbar_[i]);
    tool.lpszText = hint.data();
    SendMessageW(hints_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  SendMessageW(hints_, TTM_ACTIVATE, FALSE, 0);
  // Query bar (SimSun in every business line); positions are set by Layout().
  rb1_ = AddControl(WC_BUTTONW, WideFromUtf8("已开发票"),
                    WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, kInvoicedId, 0,
                    0, 0, 0, simsun_);
  rb2_ = AddControl(WC_BUTTONW, WideFromUtf8("未开发票"), BS_AUTORADIOBUTTON,
                    kNotInvoicedId, 0, 0, 0, 0, simsun_);
  // The view controls start as the model's view state.
  SendMessageW(model_->invoiced() ? rb1_ : rb2_, BM_SETCHECK, BST_CHECKED, 0);
  date_label_ = AddControl(WC_STATICW, WideFromUtf8(look_.date_label),
                           SS_LEFT | WS_GROUP, -1, 0, 0, 0, 0, simsun_);
  start_date_ = AddControl(DATETIMEPICK_CLASSW, L"",
                           WS_TABSTOP | WS_GROUP | DTS_SHORTDATEFORMAT,
                           kStartDateId, 0, 0, 0, 0, simsun_);
  to_label_ = AddControl(WC_STATICW, WideFromUtf8("至"), SS_LEFT, -1, 0, 0, 0,
                         0, simsun_);
  end_date_ =
      AddControl(DATETIMEPICK_CLASSW, L"", WS_TABSTOP | DTS_SHORTDATEFORMAT,
                 kEndDateId, 0, 0, 0, 0, simsun_);
  // The date stored with the window's layout: 23 August 2002.
  SYSTEMTIME initial =
      ToSystemTime(std::chrono::year{2002} / std::chrono::August / 23);
  for (HWND picker : {start_date_, end_date_}) {
    SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID,
                 reinterpret_cast<LPARAM>(&initial));
  }
  refresh_ =
      AddControl(WC_BUTTONW, WideFromUtf8("刷新"), WS_TABSTOP | BS_OWNERDRAW,
                 kRefreshId, 0, 0, 0, 0, simsun_);
  pick_list_ =
      AddControl(WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                 kPickListId, 0, 0, 0, 0, simsun_);
  for (const char* item : {"销售单据", "报废单据"}) {
    SendMessageW(pick_list_, CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
  }
  SendMessageW(pick_list_, CB_SETCURSEL, model_->pick_item(), 0);

  documents_.Create(hwnd(), kDocumentGridId, look_.document_columns,
                    /*columns_sizable=*/false, main_font, kWindowColour);
  lines_.Create(hwnd(), kLineGridId, look_.line_columns,
                look_.line_columns_sizable, main_font, kWindowColour,
                kLineFooterId);
  documents_.set_on_past_end([this] { model_->MovePastLastDocument(); });
  documents_.set_on_column_click(
      [this](int column, POINT below) { ShowFilterMenu(column, below); });
  documents_.set_on_select([this](int row) {
    DocumentSet& set = model_->DataSource1();
    // While the grid is detached (an export walks the set) a click must not
    // move the walk's cursor; the grid takes the cursor's row back when it
    // is attached again.
    if (set.ControlsDisabled()) return;
    if (set.RecNo() != row) set.MoveTo(row);
  });

  if (look_.work_panel) {
    totals_label1_ = AddControl(WC_STATICW, WideFromUtf8("合       计"),
                                SS_LEFT, -1, 0, 0, 0, 0, simsun_);
    totals_label2_ = AddControl(WC_STATICW, WideFromUtf8("价 税 合 计"),
                                SS_LEFT, -1, 0, 0, 0, 0, simsun_);
    for (size_t i = 0; i < look_.totals.size() && i < totals_.size(); ++i) {
      totals_[i] = AddControl(WC_EDITW, L"", ES_READONLY | ES_AUTOHSCROLL,
                              kTotalsFirstId + static_cast<int>(i), 0, 0, 0, 0,
                              simsun_, WS_EX_CLIENTEDGE);
    }
  }

  // Placed by Layout() at its own height. Without a visual style the bar
  // takes the window colour (a style would paint its own background).
  status_bar_ = AddControl(STATUSCLASSNAMEW, L"",
                           SBARS_SIZEGRIP | CCS_NORESIZE | CCS_NOPARENTALIGN,
                           kStatusBarId, 0, 0, 0, 0, simsun_);
  SetWindowTheme(status_bar_, L"", L"");
  SendMessageW(status_bar_, SB_SETBKCOLOR, 0, kWindowColour);
  int parts[3] = {100, 250, -1};
  SendMessageW(status_bar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
  SetStatusText(kCountPanel, "记录数=0"_gbk);
  // Panel 1 is drawn by the window, which draws nothing there.
  SendMessageW(status_bar_, SB_SETTEXTW, kProgressPanel | SBT_OWNERDRAW, 0);

  RebindGrids();
}

RECT InterfaceWindowWin32::SplitterRect() const {
  RECT client;
  GetClientRect(hwnd(), &client);
  const int top = WorkTop() + kQueryBarHeight + document_height_;
  return RECT{0, top, client.right, top + kSplitterHeight};
}

void InterfaceWindowWin32::Layout() {
  if (hwnd() == nullptr) return;
  RECT client;
  GetClientRect(hwnd(), &client);
  const int width = client.right;
  const int status_height = kStatusBarHeight;
  MoveWindow(status_bar_, 0, client.bottom - status_height, width,
             status_height, FALSE);

  const int query = WorkTop();
  MoveWindow(rb1_, 16, query + 4, 73, 17, FALSE);
  MoveWindow(rb2_, 96, query + 4, 73, 17, FALSE);
  const Box& label = look_.date_label_box;
  MoveWindow(date_label_, label.left, query + label.top, label.width,
             label.height, FALSE);
  MoveWindow(start_date_, 272, query + 2, 89, 20, FALSE);
  MoveWindow(to_label_, 370, query + 6, 16, 13, FALSE);
  MoveWindow(end_date_, 392, query + 2, 89, 20, FALSE);
  MoveWindow(refresh_, 496, query + 2, 55, 20, FALSE);
  MoveWindow(pick_list_, 624, query + 2, 159, 120, FALSE);

  const int bottom = client.bottom - status_height;
  const int totals_top = look_.work_panel ? bottom - kTotalsHeight : bottom;
  const int grid_top = query + kQueryBarHeight;
  const int max_doc = std::max(0, totals_top - grid_top - kSplitterHeight);
  document_height_ = std::clamp(document_height_, 0, max_doc);
  documents_.Move(0, grid_top, width, document_height_);
  const int lines_top = grid_top + document_height_ + kSplitterHeight;
  lines_.Move(0, lines_top, width, std::max(0, totals_top - lines_top));
  if (look_.work_panel) {
    MoveWindow(totals_label1_, 368, totals_top + 5, 72, 13, FALSE);
    MoveWindow(totals_label2_, 368, totals_top + 24, 72, 13, FALSE);
    for (size_t i = 0; i < look_.totals.size() && i < totals_.size(); ++i) {
      const Box& box = look_.totals[i].box;
      MoveWindow(totals_[i], box.left, totals_top + box.top, box.width,
                 box.height, FALSE);
    }
  }
  // The controls were moved without repainting: everything at once now.
  RedrawWindow(hwnd(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void InterfaceWindowWin32::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client;
  GetClientRect(hwnd(), &client);
  FillRect(dc, &client, background_);
  RECT toolbar{0, 0, client.right, kToolbarHeight};
  DrawEdge(dc, &toolbar, BDR_RAISEDINNER, BF_RECT);
  RECT splitter = SplitterRect();
  DrawEdge(dc, &splitter, BDR_RAISEDINNER, BF_TOP | BF_BOTTOM);
  if (look_.work_panel) {
    const int bottom = client.bottom - kStatusBarHeight;
    RECT totals{0, bottom - kTotalsHeight, client.right, bottom};
    DrawEdge(dc, &totals, BDR_SUNKENOUTER, BF_RECT);
  }
  EndPaint(hwnd(), &ps);
}

void InterfaceWindowWin32::DrawButton(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  FillRect(dc, &r, background_);
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  if (pressed) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  if ((item.itemState & ODS_FOCUS) != 0 && !pressed) {
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  }
  const int shift = pressed ? 1 : 0;
  std::wstring caption = WindowTextW(item.hwndItem);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  if (item.CtlID == kRefreshId) {
    DrawPicture(dc, Picture::kRefresh, r.left + 4 + shift,
                (r.top + r.bottom - 16) / 2 + shift, 16, disabled);
    RECT text = r;
    text.left += 22 + shift;
    text.top += shift;
    DrawTextW(dc, caption.c_str(), -1, &text,
              DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    return;
  }
  Picture picture = Picture::kImport;
  for (const ToolButton& b : kToolButtons) {
    if (b.id == static_cast<int>(item.CtlID)) picture = b.picture;
  }
  const int x = (r.left + r.right - 24) / 2 + shift;
  DrawPicture(dc, picture, x, r.top + 4 + shift, 24, disabled);
  RECT text{r.left + shift, r.top + 30 + shift, r.right + shift,
            r.bottom + shift};
  DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_CENTER | DT_TOP);
}

void InterfaceWindowWin32::UpdateTotals() {
  if (!look_.work_panel || totals_set_ == nullptr) return;
  DocumentSet& set = *totals_set_;
  const int record = set.RecNo();
  for (size_t i = 0; i < look_.totals.size() && i < totals_.size(); ++i) {
    const TotalField& total = look_.totals[i];
    std::string text;
    const int field = set.FieldIndex(total.field);
    if (record >= 0 && field >= 0) {
      text = CellText(set.fields()[field].type, set.Cell(record, field),
                      total.format);
    }
    SetWindowTextW(totals_[i], Wide(text).c_str());
  }
}

void InterfaceWindowWin32::ShowFilterMenu(int column, POINT below) {
  const auto& columns = look_.document_columns;
  if (column < 0 || static_cast<size_t>(column) >= columns.size() ||
      !columns[static_cast<size_t>(column)].filterable || model_->busy()) {
    return;
  }
  // A menu longer than the screen scrolls; past this many it would only
  // take long to build and to search.
  constexpr size_t kMaxChoices = 1000;
  constexpr UINT kAllId = 1, kFirstChoiceId = 2;
  const std::vector<std::string> choices = model_->FilterChoices(column);
  const std::string* current = model_->ColumnFilter(column);
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  AppendMenuW(menu, MF_STRING | (current == nullptr ? MF_CHECKED : 0), kAllId,
              WideFromUtf8("（全部）").c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  const size_t shown = std::min(choices.size(), kMaxChoices);
  for (size_t i = 0; i < shown; ++i) {
    const bool checked = current != nullptr && *current == choices[i];
    const std::wstring label =
        choices[i].empty() ? WideFromUtf8("（空白）") : Wide(choices[i]);
    AppendMenuW(menu, MF_STRING | (checked ? MF_CHECKED : 0),
                kFirstChoiceId + static_cast<UINT>(i), label.c_str());
  }
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN,
                     below.x, below.y, 0, hwnd(), nullptr));
  DestroyMenu(menu);
  if (chosen == kAllId) {
    model_->SetColumnFilter(column, std::nullopt);
  } else if (chosen >= kFirstChoiceId && chosen - kFirstChoiceId < shown) {
    model_->SetColumnFilter(column, choices[chosen - kFirstChoiceId]);
  }
  documents_.SetFiltered(column, model_->ColumnFilter(column) != nullptr);
}

bool InterfaceWindowWin32::OnCommand(int id, int code) {
  switch (id) {
    case kRefreshId:
      if (code == BN_CLICKED) model_->fbRefreshClick();
      return true;
    case kImportId:
      if (code == BN_CLICKED) model_->fbImportClick();
      return true;
    case kExportId:
      if (code == BN_CLICKED) model_->fbExportClick();
      return true;
    case kSetId:
      if (code == BN_CLICKED) model_->fbSetClick();
      return true;
    case kExitId:
      if (code == BN_CLICKED) model_->fbExitClick();
      return true;
    case kInvoicedId:
    case kNotInvoicedId:
      if (code == BN_CLICKED &&
          SendMessageW(GetDlgItem(hwnd(), id), BM_GETCHECK, 0, 0) ==
              BST_CHECKED) {
        model_->RadioChecked(id == kInvoicedId);
      }
      return true;
    case kPickListId:
      if (code == CBN_SELCHANGE) {
        model_->PickListChanged(
            static_cast<int>(SendMessageW(pick_list_, CB_GETCURSEL, 0, 0)));
      }
      return true;
    default:
      return false;
  }
}

bool InterfaceWindowWin32::OnNotify(NMHDR* header, LRESULT* result) {
  if (documents_.OnNotify(header, result)) return true;
  if (lines_.OnNotify(header, result)) return true;
  if (header->code == DTN_CLOSEUP) {
    if (header->hwndFrom == start_date_) {
      model_->DateTimePicker1CloseUp();
    } else if (header->hwndFrom == end_date_) {
      model_->DateTimePicker2CloseUp();
    }
    *result = 0;
    return true;
  }
  return false;
}

LRESULT InterfaceWindowWin32::HandleMessage(UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (OnCommand(LOWORD(wparam), HIWORD(wparam))) return 0;
      break;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(reinterpret_cast<NMHDR*>(lparam), &result)) return result;
      break;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lparam);
      if (item->CtlType == ODT_BUTTON) {
        DrawButton(*item);
      } else if (item->hwndItem == status_bar_) {
        // Status panel 1: nothing of its own; the progress bar lies on it.
        FillRect(item->hDC, &item->rcItem, background_);
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HWND control = reinterpret_cast<HWND>(lparam);
      HDC dc = reinterpret_cast<HDC>(wparam);
      if (std::find(totals_.begin(), totals_.end(), control) != totals_.end()) {
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      SetBkColor(dc, kWindowColour);
      SetTextColor(dc, RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(background_);
    }
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_SETCURSOR:
      if (busy_cursor_) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
        return TRUE;
      }
      if (reinterpret_cast<HWND>(wparam) == hwnd() &&
          LOWORD(lparam) == HTCLIENT) {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(hwnd(), &pt);
        RECT splitter = SplitterRect();
        if (PtInRect(&splitter, pt)) {
          SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32645)));
          return TRUE;
        }
      }
      break;
    case WM_LBUTTONDOWN: {
      POINT pt{static_cast<short>(LOWORD(lparam)),
               static_cast<short>(HIWORD(lparam))};
      RECT splitter = SplitterRect();
      if (PtInRect(&splitter, pt)) {
        dragging_ = true;
        drag_offset_ = pt.y - splitter.top;
        SetCapture(hwnd());
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (dragging_) {
        const int y = static_cast<short>(HIWORD(lparam));
        document_height_ =
            std::max(0, y - drag_offset_ - (WorkTop() + kQueryBarHeight));
        Layout();
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (dragging_) {
        dragging_ = false;
        if (message == WM_LBUTTONUP) ReleaseCapture();
      }
      return 0;
    case WM_SHOWWINDOW:
      if (wparam != 0 && !shown_) {
        shown_ = true;
        model_->FormShow(context_.server_machine);
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE && !activated_) {
        activated_ = true;
        PostMessageW(hwnd(), kActivateMessage, 0, 0);
      }
      break;
    case kActivateMessage:
      model_->FormActivate();
      return 0;
    case WM_CLOSE:
      if (!model_->CloseQuery()) return 0;
      break;
    default:
      break;
  }
  return InterfaceWindow::HandleMessage(message, wparam, lparam);
}

void InterfaceWindowWin32::OnClose() { model_->FormClose(); }

// ---- Display.

bool InterfaceWindowWin32::ShowMessage(std::string_view text, MessageKind kind,
                                       MessageOwner owner) {
  const char* caption = "错误";
  UINT flags = MB_OK | MB_ICONERROR;
  switch (kind) {
    case MessageKind::kError:
      break;
    case MessageKind::kWarning:
      caption = "警告";
      flags = MB_OK | MB_ICONWARNING;
      break;
    case MessageKind::kInfo:
      caption = "提示";
      flags = MB_OK | MB_ICONINFORMATION;
      break;
    case MessageKind::kConfirm:
      caption = "确认";
      flags = MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL;
      break;
  }
  HWND parent = nullptr;
  if (owner == MessageOwner::kOwnerWindow) {
    parent = OwnerWindow();
    // Without a host window the box belongs to this window, so that it
    // cannot fall behind it.
    if (parent == nullptr) parent = hwnd();
  }
  const int answer = OwnedMessageBox(parent, Wide(text).c_str(),
                                     WideFromUtf8(caption).c_str(), flags);
  return kind == MessageKind::kConfirm && answer == IDYES;
}

void InterfaceWindowWin32::ShowError(std::string_view text) {
  HWND owner = OwnerWindow();
  ShowGeneralError(owner != nullptr ? owner : hwnd(), text);
}

void InterfaceWindowWin32::SetStatusText(int panel, std::string_view text) {
  if (status_bar_ == nullptr || panel == kProgressPanel) return;
  SendMessageW(status_bar_, SB_SETTEXTW, panel,
               reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void InterfaceWindowWin32::SetBusyCursor(bool busy) {
  busy_cursor_ = busy;
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy ? 32514 : 32512)));
}

void InterfaceWindowWin32::StartProgress(int n) {
  EndProgress();
  progress_ =
      CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 101, 1,
                      148, 18, status_bar_, nullptr, ModuleHandle(), nullptr);
  if (progress_ == nullptr) return;
  SendMessageW(progress_, PBM_SETRANGE32, 0, std::max(0, n));
  SendMessageW(progress_, PBM_SETSTEP, 1, 0);
  SendMessageW(progress_, PBM_SETPOS, 0, 0);
}

void InterfaceWindowWin32::StepProgress() {
  if (progress_ != nullptr) SendMessageW(progress_, PBM_STEPIT, 0, 0);
}

void InterfaceWindowWin32::EndProgress() {
  if (progress_ != nullptr) DestroyWindow(progress_);
  progress_ = nullptr;
}

void InterfaceWindowWin32::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (hwnd() == nullptr || !IsDialogMessageW(hwnd(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void InterfaceWindowWin32::RebindGrids() {
  documents_.Bind(&model_->DataSource1());
  lines_.Bind(&model_->DataSource2());
  if (totals_set_ != nullptr) totals_set_->RemoveObserver(this);
  totals_set_ = &model_->DataSource1();
  totals_set_->AddObserver(this);
  UpdateTotals();
}

CalendarDate InterfaceWindowWin32::StartDate() {
  SYSTEMTIME st{};
  SendMessageW(start_date_, DTM_GETSYSTEMTIME, 0,
               reinterpret_cast<LPARAM>(&st));
  return FromSystemTime(st);
}

CalendarDate InterfaceWindowWin32::EndDate() {
  SYSTEMTIME st{};
  SendMessageW(end_date_, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
  return FromSystemTime(st);
}

void InterfaceWindowWin32::SetStartDate(CalendarDate date) {
  SYSTEMTIME st = ToSystemTime(date);
  SendMessageW(start_date_, DTM_SETSYSTEMTIME, GDT_VALID,
               reinterpret_cast<LPARAM>(&st));
}

void InterfaceWindowWin32::CheckInvoiced() {
  SendMessageW(rb1_, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(rb2_, BM_SETCHECK, BST_UNCHECKED, 0);
}

void InterfaceWindowWin32::SetEndDate(CalendarDate date) {
  SYSTEMTIME st = ToSystemTime(date);
  SendMessageW(end_date_, DTM_SETSYSTEMTIME, GDT_VALID,
               reinterpret_cast<LPARAM>(&st));
}

void InterfaceWindowWin32::FocusEndDate() { SetFocus(end_date_); }

void InterfaceWindowWin32::EnableRefresh(bool enabled) {
  EnableWindow(refresh_, enabled ? TRUE : FALSE);
}

void InterfaceWindowWin32::SelectPickListItem(int index) {
  // CB_SETCURSEL sends no CBN_SELCHANGE.
  SendMessageW(pick_list_, CB_SETCURSEL, index, 0);
}

std::string InterfaceWindowWin32::RegionalDateTime(double value) {
  const std::optional<text::Day> day = text::DayOf(value);
  if (!day) return std::string();
  SYSTEMTIME st = ToSystemTime(*day);
  int64_t seconds = std::llround((value - std::floor(value)) * 86400.0);
  seconds = std::min<int64_t>(seconds, 86399);
  st.wHour = static_cast<WORD>(seconds / 3600);
  st.wMinute = static_cast<WORD>(seconds / 60 % 60);
  st.wSecond = static_cast<WORD>(seconds % 60);
  wchar_t buf[128];
  std::wstring out;
  if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf,
                     static_cast<int>(std::size(buf))) > 0) {
    out = buf;
  }
  if (seconds != 0 && GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf,
                                     static_cast<int>(std::size(buf))) > 0) {
    out += L' ';
    out += buf;
  }
  return Gbk(out);
}

Status InterfaceWindowWin32::RunSettingsDialog(const SettingsRules& line,
                                               Settings* values) {
  return RunSettingsDialogWin32(hwnd(), line, values);
}

void InterfaceWindowWin32::CloseWindow() { Close(); }

std::unique_ptr<InterfaceWindow> CreateInterfaceWindow(
    const BusinessLine& business_line, const InterfaceContext& context) {
  return std::make_unique<InterfaceWindowWin32>(business_line, context);
}

}  // namespace skjk::win32
