#include "windows/win32/record_grid.h"

#include "framework/ui_text.h"

namespace skjk::win32 {
namespace {

constexpr UINT_PTR kHeaderSubclassId = 0x534B;

}  // namespace

// The list view hears its header's notifications (they go to the header's
// parent) and answers them here: the header draws its captions centred on
// the window colour, and its columns are sized only where the grid allows it
// (never moved).
LRESULT CALLBACK RecordGrid::ListSubclass(HWND hwnd, UINT message,
                                          WPARAM wparam, LPARAM lparam,
                                          UINT_PTR, DWORD_PTR data) {
  const auto* grid = reinterpret_cast<const RecordGrid*>(data);
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
        const COLORREF colour = grid->header_colour_;
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
        SendMessageW(header->hwndFrom, HDM_GETITEMW, draw->dwItemSpec,
                     reinterpret_cast<LPARAM>(&item));
        SetBkMode(draw->hdc, TRANSPARENT);
        SetTextColor(draw->hdc, GetSysColor(COLOR_BTNTEXT));
        HGDIOBJ old = SelectObject(
            draw->hdc,
            reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
        DrawTextW(draw->hdc, caption, -1, &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        SelectObject(draw->hdc, old);
        return CDRF_SKIPDEFAULT;
      }
    }
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &ListSubclass, kHeaderSubclassId);
  }
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

RecordGrid::~RecordGrid() {
  if (set_ != nullptr) set_->RemoveObserver(this);
}

bool RecordGrid::Create(HWND parent, int id,
                        std::span<const GridColumn> columns,
                        bool columns_sizable, HFONT font,
                        COLORREF header_colour) {
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
  for (const GridColumn& column : columns) {
    if (!column.visible) continue;
    columns_.push_back(column);
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
  return true;
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
  // O(1) for an owner-data list: it asks for the cells it draws.
  ListView_SetItemCountEx(hwnd_, count, LVSICF_NOSCROLL);
  InvalidateRect(hwnd_, nullptr, TRUE);
  SelectCurrent();
}

void RecordGrid::CursorMoved() { SelectCurrent(); }

void RecordGrid::SelectCurrent() {
  if (hwnd_ == nullptr || set_ == nullptr) return;
  const int current = set_->RecNo();
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
      const Value& value = set_->Cell(item.iItem, field);
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
        on_select_(change->iItem);
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
