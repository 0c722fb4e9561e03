#include "interface_window/win32/record_grid.h"

#include <algorithm>

#include "window_framework/ui_text.h"

namespace skjk::win32 {
namespace {

constexpr UINT_PTR kHeaderSubclassId = 0x534B;
constexpr wchar_t kFooterClass[] = L"SkjkGridFooter";
constexpr int kFooterHeight = 20;

}  // namespace

// The list view hears its header's notifications (they go to the header's
// parent) and answers them here: the header draws its captions centred on
// the window colour, and its columns are sized only where the grid allows it
// (never moved).
LRESULT CALLBACK RecordGrid::ListSubclass(HWND hwnd, UINT message,
                                          WPARAM wparam, LPARAM lparam,
                                          UINT_PTR, DWORD_PTR data) {
  auto* grid = reinterpret_cast<RecordGrid*>(data);
  if (message == WM_NOTIFY) {
    auto* header = reinterpret_cast<NMHDR*>(lparam);
    if (header->hwndFrom != ListView_GetHeader(hwnd)) {
      return DefSubclassProc(hwnd, message, wparam, lparam);
    }
    switch (header->code) {
      case HDN_BEGINTRACKW:
      case HDN_BEGINTRACKA:
        // TRUE refuses the drag of a column divider.
        return grid->columns_sizable_ ? FALSE : TRUE;
      case HDN_DIVIDERDBLCLICKW:
      case HDN_DIVIDERDBLCLICKA:
        // The list view would fit the column to its content.
        if (!grid->columns_sizable_) return 0;
        break;
      default:
        break;
    }
    if (header->code == NM_CUSTOMDRAW) {
      auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(lparam);
      if (draw->dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (draw->dwDrawStage == CDDS_ITEMPREPAINT) {
        grid->DrawHeaderItem(draw, header->hwndFrom);
        return CDRF_SKIPDEFAULT;
      }
    }
    const LRESULT result = DefSubclassProc(hwnd, message, wparam, lparam);
    // A column was sized: the footer cells follow.
    if (header->code == HDN_ITEMCHANGEDW || header->code == HDN_ITEMCHANGEDA ||
        header->code == HDN_TRACKW || header->code == HDN_TRACKA ||
        header->code == HDN_ENDTRACKW || header->code == HDN_ENDTRACKA) {
      if (grid->footer_ != nullptr)
        InvalidateRect(grid->footer_, nullptr, TRUE);
    }
    return result;
  } else if (message == WM_KEYDOWN || message == WM_VSCROLL ||
             message == WM_MOUSEWHEEL || message == WM_HSCROLL ||
             message == WM_MOUSEHWHEEL) {
    const int focused = ListView_GetNextItem(hwnd, -1, LVNI_FOCUSED);
    const LRESULT result = DefSubclassProc(hwnd, message, wparam, lparam);
    grid->AfterInput(message, wparam, focused);
    return result;
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &ListSubclass, kHeaderSubclassId);
  }
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

void RecordGrid::AfterInput(UINT message, WPARAM wparam, int focused_before) {
  // Horizontal scrolling moves the columns over the footer.
  if (footer_ != nullptr) InvalidateRect(footer_, nullptr, TRUE);
  if (!on_past_end_ || set_ == nullptr) return;
  const int count = ListView_GetItemCount(hwnd_);
  if (count == 0) return;
  bool past_end = false;
  if (message == WM_KEYDOWN) {
    // The list view stays on its last row; the set is asked to go on.
    past_end =
        (wparam == VK_DOWN || wparam == VK_NEXT) && focused_before == count - 1;
  } else {
    const bool down =
        message == WM_VSCROLL
            ? (LOWORD(wparam) == SB_LINEDOWN || LOWORD(wparam) == SB_PAGEDOWN ||
               LOWORD(wparam) == SB_BOTTOM ||
               LOWORD(wparam) == SB_THUMBPOSITION)
            : message == WM_MOUSEWHEEL && GET_WHEEL_DELTA_WPARAM(wparam) < 0;
    past_end =
        down &&
        ListView_GetTopIndex(hwnd_) + ListView_GetCountPerPage(hwnd_) >= count;
  }
  if (past_end) on_past_end_();
}

void RecordGrid::DrawHeaderItem(NMCUSTOMDRAW* draw, HWND header) const {
  const COLORREF colour = header_colour_;
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = draw->rc;
  FillRect(draw->hdc, &r, brush);
  DeleteObject(brush);
  DrawEdge(draw->hdc, &r, BDR_RAISEDINNER, BF_RECT);
  wchar_t caption[64] = {};
  HDITEMW item{};
  item.mask = HDI_TEXT;
  item.pszText = caption;
  item.cchTextMax = 64;
  SendMessageW(header, HDM_GETITEMW, draw->dwItemSpec,
               reinterpret_cast<LPARAM>(&item));
  const size_t column = draw->dwItemSpec;
  // A small triangle at the right edge: up for the sorted column, down for
  // a filterable one (dark while it filters).
  const bool sorted = static_cast<int>(column) == sort_column_;
  const bool filterable =
      column < columns_.size() && columns_[column].filterable;
  RECT text = r;
  if ((sorted || filterable) && r.right - r.left > 24) {
    const int cx = r.right - 8, cy = (r.top + r.bottom) / 2;
    POINT tri[3];
    if (sorted) {
      tri[0] = {cx - 4, cy + 2};
      tri[1] = {cx + 4, cy + 2};
      tri[2] = {cx, cy - 2};
    } else {
      tri[0] = {cx - 4, cy - 2};
      tri[1] = {cx + 4, cy - 2};
      tri[2] = {cx, cy + 2};
    }
    const bool dark =
        sorted || (column < filtered_.size() && filtered_[column]);
    const COLORREF mark = dark ? RGB(0, 0, 0) : RGB(128, 128, 128);
    HBRUSH fill = CreateSolidBrush(mark);
    HPEN pen = CreatePen(PS_SOLID, 1, mark);
    HGDIOBJ old_brush = SelectObject(draw->hdc, fill);
    HGDIOBJ old_pen = SelectObject(draw->hdc, pen);
    Polygon(draw->hdc, tri, 3);
    SelectObject(draw->hdc, old_brush);
    SelectObject(draw->hdc, old_pen);
    DeleteObject(fill);
    DeleteObject(pen);
    text.right -= 12;
  }
  SetBkMode(draw->hdc, TRANSPARENT);
  SetTextColor(draw->hdc, GetSysColor(COLOR_BTNTEXT));
  HGDIOBJ old = SelectObject(draw->hdc, reinterpret_cast<HGDIOBJ>(SendMessageW(
                                            hwnd_, WM_GETFONT, 0, 0)));
  DrawTextW(draw->hdc, caption, -1, &text,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  SelectObject(draw->hdc, old);
}

RecordGrid::~RecordGrid() {
  if (set_ != nullptr) set_->RemoveObserver(this);
}

bool RecordGrid::Create(HWND parent, int id,
                        std::span<const GridColumn> columns,
                        bool columns_sizable, HFONT font,
                        COLORREF header_colour, int footer_id) {
  id_ = id;
  header_colour_ = header_colour;
  columns_sizable_ = columns_sizable;
  hwnd_ = CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
          LVS_SINGLESEL | LVS_SHOWSELALWAYS,
      0, 0, 10, 10, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
      nullptr);
  if (hwnd_ == nullptr) return false;
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SetWindowSubclass(hwnd_, &ListSubclass, kHeaderSubclassId,
                    reinterpret_cast<DWORD_PTR>(this));
  ListView_SetExtendedListViewStyle(
      hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
  int index = 0;
  bool any_footer = false;
  for (size_t i = 0; i < columns.size(); ++i) {
    const GridColumn& column = columns[i];
    if (!column.visible) continue;
    if (column.sorted && sort_column_ < 0) sort_column_ = index;
    any_footer = any_footer || column.footer != Footer::kNone;
    columns_.push_back(column);
    indexes_.push_back(static_cast<int>(i));
    std::wstring caption = WideFromUtf8(column.caption);
    LVCOLUMNW lvc{};
    lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    lvc.fmt = LVCFMT_LEFT;
    lvc.cx = column.width;
    lvc.pszText = caption.data();
    SendMessageW(hwnd_, LVM_INSERTCOLUMNW, index,
                 reinterpret_cast<LPARAM>(&lvc));
    // Centred caption, cells left-aligned.
    HWND header = ListView_GetHeader(hwnd_);
    HDITEMW hdi{};
    hdi.mask = HDI_FORMAT;
    if (Header_GetItem(header, index, &hdi)) {
      hdi.fmt = (hdi.fmt & ~HDF_JUSTIFYMASK) | HDF_CENTER;
      Header_SetItem(header, index, &hdi);
    }
    ++index;
  }
  filtered_.assign(columns_.size(), false);
  footer_texts_.assign(columns_.size(), std::wstring());
  if (any_footer) {
    HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(instance, kFooterClass, &wc)) {
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &FooterProc;
      wc.hInstance = instance;
      wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
      wc.lpszClassName = kFooterClass;
      if (RegisterClassExW(&wc) == 0) return false;
    }
    footer_ = CreateWindowExW(
        0, kFooterClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, kFooterHeight,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(footer_id)),
        instance, nullptr);
    if (footer_ == nullptr) return false;
    SetWindowLongPtrW(footer_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SendMessageW(footer_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  return true;
}

void RecordGrid::Move(int left, int top, int width, int height) {
  const int footer = footer_ != nullptr ? std::min(kFooterHeight, height) : 0;
  MoveWindow(hwnd_, left, top, width, height - footer, FALSE);
  if (footer_ != nullptr) {
    MoveWindow(footer_, left, top + height - footer, width, footer, FALSE);
  }
}

void RecordGrid::SetFiltered(int column, bool filtered) {
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (indexes_[i] == column) filtered_[i] = filtered;
  }
  InvalidateRect(ListView_GetHeader(hwnd_), nullptr, TRUE);
}

LRESULT CALLBACK RecordGrid::FooterProc(HWND hwnd, UINT message, WPARAM wparam,
                                        LPARAM lparam) {
  auto* grid =
      reinterpret_cast<RecordGrid*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_SETFONT:
      SetPropW(hwnd, L"SkjkFont", reinterpret_cast<HANDLE>(wparam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropW(hwnd, L"SkjkFont"));
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      if (grid != nullptr) {
        grid->PaintFooter();
        return 0;
      }
      break;
    case WM_NCDESTROY:
      RemovePropW(hwnd, L"SkjkFont");
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void RecordGrid::UpdateFooter() {
  if (footer_ == nullptr) return;
  std::wstring all;
  for (size_t i = 0; i < columns_.size(); ++i) {
    footer_texts_[i] = set_ != nullptr
                           ? Wide(FooterText(*set_, columns_[i], fields_[i]))
                           : std::wstring();
    all += footer_texts_[i];
    all += L'\t';
  }
  SetWindowTextW(footer_, all.c_str());
  InvalidateRect(footer_, nullptr, TRUE);
}

void RecordGrid::PaintFooter() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(footer_, &ps);
  RECT client;
  GetClientRect(footer_, &client);
  HBRUSH background = CreateSolidBrush(header_colour_);
  FillRect(dc, &client, background);
  DeleteObject(background);
  DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  HGDIOBJ old = SelectObject(
      dc, reinterpret_cast<HGDIOBJ>(SendMessageW(footer_, WM_GETFONT, 0, 0)));
  // Each cell lies under its column's header item, wherever the columns
  // were sized or scrolled to.
  HWND header = ListView_GetHeader(hwnd_);
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].footer == Footer::kNone) continue;
    RECT item;
    if (!Header_GetItemRect(header, static_cast<int>(i), &item)) continue;
    MapWindowPoints(header, footer_, reinterpret_cast<POINT*>(&item), 2);
    RECT cell{item.left + 1, client.top + 2, item.right - 1, client.bottom - 2};
    if (cell.right <= cell.left) continue;
    DrawEdge(dc, &cell, BDR_SUNKENOUTER, BF_RECT);
    RECT text = cell;
    InflateRect(&text, -3, 0);
    DrawTextW(dc, footer_texts_[i].c_str(), -1, &text,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
  SelectObject(dc, old);
  EndPaint(footer_, &ps);
}

int RecordGrid::RecordAt(int row) const {
  if (order_.empty()) return row;
  return row >= 0 && static_cast<size_t>(row) < order_.size() ? order_[row]
                                                              : -1;
}

int RecordGrid::RowOf(int record) const {
  if (row_of_.empty()) return record;
  return record >= 0 && static_cast<size_t>(record) < row_of_.size()
             ? row_of_[record]
             : -1;
}

void RecordGrid::Bind(RecordSet* set) {
  if (set_ != nullptr) set_->RemoveObserver(this);
  set_ = set;
  if (set_ != nullptr) set_->AddObserver(this);
  ResolveFields();
  DataChanged();
}

void RecordGrid::ResolveFields() {
  fields_.assign(columns_.size(), -1);
  if (set_ == nullptr) return;
  fields_ = ResolveColumns(set_->fields(), columns_);
}

void RecordGrid::DataChanged() {
  if (hwnd_ == nullptr) return;
  const int count = set_ != nullptr ? set_->RecordCount() : 0;
  order_.clear();
  row_of_.clear();
  if (sort_column_ >= 0 && set_ != nullptr) {
    order_ = SortedOrder(*set_, fields_[sort_column_]);
    row_of_.assign(order_.size(), 0);
    for (size_t row = 0; row < order_.size(); ++row) {
      row_of_[order_[row]] = static_cast<int>(row);
    }
  }
  UpdateFooter();
  // O(1) for an owner-data list: it asks for the cells it draws.
  ListView_SetItemCountEx(hwnd_, count, LVSICF_NOSCROLL);
  InvalidateRect(hwnd_, nullptr, TRUE);
  SelectCurrent();
}

void RecordGrid::CursorMoved() { SelectCurrent(); }

void RecordGrid::SelectCurrent() {
  if (hwnd_ == nullptr || set_ == nullptr) return;
  const int current = RowOf(set_->RecNo());
  syncing_ = true;
  if (current >= 0) {
    ListView_SetItemState(hwnd_, current, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(hwnd_, current, FALSE);
  }
  syncing_ = false;
}

bool RecordGrid::OnNotify(NMHDR* header, LRESULT* result) {
  if (header->hwndFrom != hwnd_) return false;
  *result = 0;
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      LVITEMW& item = info->item;
      if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr ||
          item.cchTextMax <= 0) {
        return true;
      }
      item.pszText[0] = L'\0';
      if (set_ == nullptr || item.iSubItem < 0 ||
          item.iSubItem >= static_cast<int>(columns_.size())) {
        return true;
      }
      const int field = fields_[item.iSubItem];
      if (field < 0) return true;
      const CellValue value = set_->Cell(RecordAt(item.iItem), field);
      cell_ = Wide(CellText(set_->fields()[field].type, value,
                            columns_[item.iSubItem].format));
      lstrcpynW(item.pszText, cell_.c_str(), item.cchTextMax);
      return true;
    }
    case LVN_ITEMCHANGED: {
      auto* change = reinterpret_cast<NMLISTVIEW*>(header);
      if (!syncing_ && change->iItem >= 0 &&
          (change->uNewState & LVIS_SELECTED) != 0 &&
          (change->uOldState & LVIS_SELECTED) == 0 && on_select_) {
        on_select_(RecordAt(change->iItem));
      }
      return true;
    }
    case LVN_COLUMNCLICK: {
      const int column = reinterpret_cast<NMLISTVIEW*>(header)->iSubItem;
      if (on_column_click_ && column >= 0 &&
          static_cast<size_t>(column) < indexes_.size()) {
        RECT item{};
        Header_GetItemRect(ListView_GetHeader(hwnd_), column, &item);
        POINT below{item.left, item.bottom};
        ClientToScreen(ListView_GetHeader(hwnd_), &below);
        on_column_click_(indexes_[column], below);
      }
      return true;
    }
    case NM_CUSTOMDRAW: {
      // The current record stays highlighted also while the grid has no
      // focus (the list view would show it in a faint grey).
      auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
      if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
        *result = CDRF_NOTIFYITEMDRAW;
        return true;
      }
      if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        const int row = static_cast<int>(draw->nmcd.dwItemSpec);
        if (ListView_GetItemState(hwnd_, row, LVIS_SELECTED) != 0) {
          draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
          draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
          draw->nmcd.uItemState &= ~(CDIS_SELECTED | CDIS_FOCUS);
        }
        *result = CDRF_DODEFAULT;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

}  // namespace skjk::win32
