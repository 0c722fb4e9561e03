#include "interface_window/win32/interface_window_frame.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <initializer_list>
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
  void (InterfaceWindowModel::*action)();
};
constexpr ToolButton kToolButtons[] = {
    {InterfaceWindowFrame::kImportId, 88, "读入", "读入税控机的传出文件",
     Picture::kImport, &InterfaceWindowModel::ImportInvoices},
    {InterfaceWindowFrame::kExportId, 176, "导出", "导出指定的文件到税控机",
     Picture::kExport, &InterfaceWindowModel::ExportDocuments},
    {InterfaceWindowFrame::kSetId, 392, "设置", "设置税控机接口的参数",
     Picture::kSettings, &InterfaceWindowModel::EditSettings},
    {InterfaceWindowFrame::kExitId, 504, "退出", "退出", Picture::kExit,
     &InterfaceWindowModel::Exit},
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

InterfaceWindowFrame::InterfaceWindowFrame(const BusinessLine& business_line,
                                           const InterfaceContext& context)
    : business_line_(business_line),
      look_(business_line.look),
      context_(context) {
  model_ = std::make_unique<InterfaceWindowModel>(business_line_,
                                                  Env::Default(), this);
}

InterfaceWindowFrame::~InterfaceWindowFrame() {
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

Status InterfaceWindowFrame::Create() {
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
  model_->LoadSettings();
  return Status::OK();
}

void InterfaceWindowFrame::CreateControls() {
  HFONT main_font = window_font_ != nullptr ? window_font_ : simsun_;
  CreateToolbar(main_font);
  CreateQueryBar();
  CreateGrids(main_font);
  if (look_.work_panel) CreateTotals();
  CreateStatusBar();
  RebindGrids();
}

void InterfaceWindowFrame::CreateToolbar(HFONT font) {
  for (size_t i = 0; i < std::size(kToolButtons); ++i) {
    const ToolButton& b = kToolButtons[i];
    toolbar_[i].Create(
        {.parent = hwnd(),
         .id = b.id,
         .text = WideFromUtf8(b.caption),
         .style = WS_TABSTOP | BS_OWNERDRAW,
         .x = b.left,
         .y = 4,
         .width = 49,
         .height = 49,
         .font = font},
        b.picture, PictureButton::Layout::kToolbar, background_,
        [this, action = b.action] { (model_.get()->*action)(); });
    controls_.Add(&toolbar_[i]);
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
    tool.uId = reinterpret_cast<UINT_PTR>(toolbar_[i].hwnd());
    tool.lpszText = hint.data();
    SendMessageW(hints_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  SendMessageW(hints_, TTM_ACTIVATE, FALSE, 0);
}

void InterfaceWindowFrame::CreateQueryBar() {
  // SimSun in every business line; positions are set by Layout().
  CreateViewButtons();
  CreateDatePickers();
  refresh_.Create({.parent = hwnd(),
                   .id = kRefreshId,
                   .text = WideFromUtf8("刷新"),
                   .style = WS_TABSTOP | BS_OWNERDRAW,
                   .font = simsun_},
                  Picture::kRefresh, PictureButton::Layout::kInline,
                  background_, [this] { model_->Refresh(); });
  pick_list_.Create({.parent = hwnd(),
                     .id = kPickListId,
                     .style = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                     .font = simsun_},
                    [this](int item) { model_->PickListChanged(item); });
  for (const char* item : {"销售单据", "报废单据"}) {
    pick_list_.AddItem(WideFromUtf8(item));
  }
  pick_list_.Select(model_->pick_item());
  for (Control* control : std::initializer_list<Control*>{
           &invoiced_button_, &not_invoiced_button_, &start_date_, &end_date_,
           &refresh_, &pick_list_}) {
    controls_.Add(control);
  }
}

void InterfaceWindowFrame::CreateViewButtons() {
  invoiced_button_.Create({.parent = hwnd(),
                           .id = kInvoicedId,
                           .text = WideFromUtf8("已开发票"),
                           .style = WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON,
                           .font = simsun_},
                          [this] { model_->RadioChecked(true); });
  not_invoiced_button_.Create({.parent = hwnd(),
                               .id = kNotInvoicedId,
                               .text = WideFromUtf8("未开发票"),
                               .style = BS_AUTORADIOBUTTON,
                               .font = simsun_},
                              [this] { model_->RadioChecked(false); });
  // The view controls start as the model's view state.
  (model_->invoiced() ? invoiced_button_ : not_invoiced_button_)
      .SetChecked(true);
}

void InterfaceWindowFrame::CreateDatePickers() {
  date_label_ = AddControl(WC_STATICW, WideFromUtf8(look_.date_label),
                           SS_LEFT | WS_GROUP, -1, 0, 0, 0, 0, simsun_);
  start_date_.Create({.parent = hwnd(),
                      .id = kStartDateId,
                      .style = WS_TABSTOP | WS_GROUP | DTS_SHORTDATEFORMAT,
                      .font = simsun_},
                     [this] { model_->StartDateChosen(); });
  to_label_ = AddControl(WC_STATICW, WideFromUtf8("至"), SS_LEFT, -1, 0, 0, 0,
                         0, simsun_);
  end_date_.Create({.parent = hwnd(),
                    .id = kEndDateId,
                    .style = WS_TABSTOP | DTS_SHORTDATEFORMAT,
                    .font = simsun_},
                   [this] { model_->EndDateChosen(); });
  // The date stored with the window's layout: 23 August 2002.
  const SYSTEMTIME initial =
      ToSystemTime(std::chrono::year{2002} / std::chrono::August / 23);
  start_date_.SetDate(initial);
  end_date_.SetDate(initial);
}

void InterfaceWindowFrame::CreateGrids(HFONT font) {
  documents_.Create(hwnd(), kDocumentGridId, look_.document_columns,
                    /*columns_sizable=*/false, font, kWindowColour);
  lines_.Create(hwnd(), kLineGridId, look_.line_columns,
                look_.line_columns_sizable, font, kWindowColour, kLineFooterId);
  documents_.set_on_past_end([this] { model_->MovePastLastDocument(); });
  documents_.set_on_column_click(
      [this](int column, POINT below) { ShowFilterMenu(column, below); });
  documents_.set_on_select([this](int row) { SelectDocument(row); });
  controls_.Add(&documents_);
  controls_.Add(&lines_);
}

void InterfaceWindowFrame::CreateTotals() {
  totals_label1_ = AddControl(WC_STATICW, WideFromUtf8("合       计"), SS_LEFT,
                              -1, 0, 0, 0, 0, simsun_);
  totals_label2_ = AddControl(WC_STATICW, WideFromUtf8("价 税 合 计"), SS_LEFT,
                              -1, 0, 0, 0, 0, simsun_);
  for (size_t i = 0; i < look_.totals.size() && i < totals_.size(); ++i) {
    totals_[i] = AddControl(WC_EDITW, L"", ES_READONLY | ES_AUTOHSCROLL,
                            kTotalsFirstId + static_cast<int>(i), 0, 0, 0, 0,
                            simsun_, WS_EX_CLIENTEDGE);
  }
}

void InterfaceWindowFrame::CreateStatusBar() {
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
}

void InterfaceWindowFrame::SelectDocument(int row) {
  DocumentSet& set = model_->documents();
  // While the grid is detached (an export walks the set) a click must not
  // move the walk's cursor; the grid takes the cursor's row back when it is
  // attached again.
  if (set.ControlsDisabled()) return;
  if (set.RecNo() != row) set.MoveTo(row);
}

void InterfaceWindowFrame::MoveSplitter(int top) {
  document_height_ = std::max(0, top - (WorkTop() + kQueryBarHeight));
  Layout();
}

void InterfaceWindowFrame::Layout() {
  if (hwnd() == nullptr) return;
  RECT client;
  GetClientRect(hwnd(), &client);
  const int width = client.right;
  const int status_height = kStatusBarHeight;
  MoveWindow(status_bar_, 0, client.bottom - status_height, width,
             status_height, FALSE);

  const int query = WorkTop();
  invoiced_button_.Move(16, query + 4, 73, 17);
  not_invoiced_button_.Move(96, query + 4, 73, 17);
  const Box& label = look_.date_label_box;
  MoveWindow(date_label_, label.left, query + label.top, label.width,
             label.height, FALSE);
  start_date_.Move(272, query + 2, 89, 20);
  MoveWindow(to_label_, 370, query + 6, 16, 13, FALSE);
  end_date_.Move(392, query + 2, 89, 20);
  refresh_.Move(496, query + 2, 55, 20);
  pick_list_.Move(624, query + 2, 159, 120);

  const int bottom = client.bottom - status_height;
  const int totals_top = look_.work_panel ? bottom - kTotalsHeight : bottom;
  const int grid_top = query + kQueryBarHeight;
  const int max_doc = std::max(0, totals_top - grid_top - kSplitterHeight);
  document_height_ = std::clamp(document_height_, 0, max_doc);
  documents_.Move(0, grid_top, width, document_height_);
  const int splitter_top = grid_top + document_height_;
  splitter_.Place({0, splitter_top, width, splitter_top + kSplitterHeight});
  const int lines_top = splitter_top + kSplitterHeight;
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

void InterfaceWindowFrame::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client;
  GetClientRect(hwnd(), &client);
  FillRect(dc, &client, background_);
  RECT toolbar{0, 0, client.right, kToolbarHeight};
  DrawEdge(dc, &toolbar, BDR_RAISEDINNER, BF_RECT);
  splitter_.Paint(dc);
  if (look_.work_panel) {
    const int bottom = client.bottom - kStatusBarHeight;
    RECT totals{0, bottom - kTotalsHeight, client.right, bottom};
    DrawEdge(dc, &totals, BDR_SUNKENOUTER, BF_RECT);
  }
  EndPaint(hwnd(), &ps);
}

void InterfaceWindowFrame::UpdateTotals() {
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

void InterfaceWindowFrame::ShowFilterMenu(int column, POINT below) {
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

bool InterfaceWindowFrame::OnControlMessage(UINT message, WPARAM wparam,
                                            LPARAM lparam, LRESULT* result) {
  switch (message) {
    case WM_COMMAND:
      *result = 0;
      return controls_.Command(wparam);
    case WM_NOTIFY:
      *result = 0;
      return controls_.Notify(reinterpret_cast<NMHDR*>(lparam), result);
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (!controls_.DrawItem(item) && item.hwndItem == status_bar_) {
        // Status panel 1: nothing of its own; the progress bar lies on it.
        FillRect(item.hDC, &item.rcItem, background_);
      }
      *result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HWND control = reinterpret_cast<HWND>(lparam);
      HDC dc = reinterpret_cast<HDC>(wparam);
      if (std::find(totals_.begin(), totals_.end(), control) != totals_.end()) {
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        *result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        return true;
      }
      SetBkColor(dc, kWindowColour);
      SetTextColor(dc, RGB(0, 0, 0));
      *result = reinterpret_cast<LRESULT>(background_);
      return true;
    }
    default:
      return false;
  }
}

bool InterfaceWindowFrame::OnMouseMessage(UINT message, WPARAM wparam,
                                          LPARAM lparam, LRESULT* result) {
  *result = 0;
  switch (message) {
    case WM_SETCURSOR:
      if (busy_cursor_) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
        *result = TRUE;
        return true;
      }
      if (splitter_.SetCursor(hwnd(), wparam, lparam)) {
        *result = TRUE;
        return true;
      }
      return false;
    case WM_LBUTTONDOWN:
      splitter_.MouseDown(hwnd(), lparam);
      return true;
    case WM_MOUSEMOVE:
      splitter_.MouseMove(lparam);
      return true;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      splitter_.EndDrag(message == WM_LBUTTONUP);
      return true;
    default:
      return false;
  }
}

LRESULT InterfaceWindowFrame::HandleMessage(UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  LRESULT result = 0;
  if (OnControlMessage(message, wparam, lparam, &result) ||
      OnMouseMessage(message, wparam, lparam, &result)) {
    return result;
  }
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_SHOWWINDOW:
      if (wparam != 0 && !shown_) {
        shown_ = true;
        model_->Connect(context_.server_machine);
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE && !activated_) {
        activated_ = true;
        PostMessageW(hwnd(), kActivateMessage, 0, 0);
      }
      break;
    case kActivateMessage:
      model_->AskForMissingSettings();
      return 0;
    case WM_CLOSE:
      if (!model_->CanClose()) return 0;
      break;
    default:
      break;
  }
  return InterfaceWindow::HandleMessage(message, wparam, lparam);
}

void InterfaceWindowFrame::OnClose() { model_->Close(); }

// ---- Display.

bool InterfaceWindowFrame::ShowMessage(std::string_view text, MessageKind kind,
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
    case MessageKind::kWarningQuestion:
      caption = "警告";
      flags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
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
  return (kind == MessageKind::kConfirm ||
          kind == MessageKind::kWarningQuestion) &&
         answer == IDYES;
}

void InterfaceWindowFrame::ShowError(std::string_view text) {
  HWND owner = OwnerWindow();
  ShowGeneralError(owner != nullptr ? owner : hwnd(), text);
}

void InterfaceWindowFrame::SetStatusText(int panel, std::string_view text) {
  if (status_bar_ == nullptr || panel == kProgressPanel) return;
  SendMessageW(status_bar_, SB_SETTEXTW, panel,
               reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void InterfaceWindowFrame::SetBusyCursor(bool busy) {
  busy_cursor_ = busy;
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy ? 32514 : 32512)));
}

void InterfaceWindowFrame::StartProgress(int n) {
  EndProgress();
  progress_ =
      CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 101, 1,
                      148, 18, status_bar_, nullptr, ModuleHandle(), nullptr);
  if (progress_ == nullptr) return;
  SendMessageW(progress_, PBM_SETRANGE32, 0, std::max(0, n));
  SendMessageW(progress_, PBM_SETSTEP, 1, 0);
  SendMessageW(progress_, PBM_SETPOS, 0, 0);
}

void InterfaceWindowFrame::StepProgress() {
  if (progress_ != nullptr) SendMessageW(progress_, PBM_STEPIT, 0, 0);
}

void InterfaceWindowFrame::EndProgress() {
  if (progress_ != nullptr) DestroyWindow(progress_);
  progress_ = nullptr;
}

void InterfaceWindowFrame::ProcessMessages() {
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

void InterfaceWindowFrame::RebindGrids() {
  documents_.Bind(&model_->documents());
  lines_.Bind(&model_->lines());
  if (totals_set_ != nullptr) totals_set_->RemoveObserver(this);
  totals_set_ = &model_->documents();
  totals_set_->AddObserver(this);
  UpdateTotals();
}

CalendarDate InterfaceWindowFrame::StartDate() {
  return FromSystemTime(start_date_.date());
}

CalendarDate InterfaceWindowFrame::EndDate() {
  return FromSystemTime(end_date_.date());
}

void InterfaceWindowFrame::SetStartDate(CalendarDate date) {
  start_date_.SetDate(ToSystemTime(date));
}

void InterfaceWindowFrame::CheckInvoiced() {
  invoiced_button_.SetChecked(true);
  not_invoiced_button_.SetChecked(false);
}

void InterfaceWindowFrame::SetEndDate(CalendarDate date) {
  end_date_.SetDate(ToSystemTime(date));
}

void InterfaceWindowFrame::FocusEndDate() { SetFocus(end_date_.hwnd()); }

void InterfaceWindowFrame::EnableRefresh(bool enabled) {
  refresh_.Enable(enabled);
}

void InterfaceWindowFrame::SelectPickListItem(int index) {
  pick_list_.Select(index);
}

std::string InterfaceWindowFrame::RegionalDateTime(double value) {
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

Status InterfaceWindowFrame::RunSettingsDialog(const SettingsRules& line,
                                               Settings* values) {
  return RunSettingsDialogWin32(hwnd(), line, values);
}

void InterfaceWindowFrame::CloseWindow() { Close(); }

std::unique_ptr<InterfaceWindow> CreateInterfaceWindow(
    const BusinessLine& business_line, const InterfaceContext& context) {
  return std::make_unique<InterfaceWindowFrame>(business_line, context);
}

}  // namespace skjk::win32
