// RecordGrid: an owner-data list view that reads its cells straight from a
// record set. Setting the item count is all a (re)load costs, whatever the
// number of records; cells are formatted only when the list view draws them.
//
// Columns may carry a summary footer (a strip under the list whose cells
// stay under their columns when columns are sized or scrolled), a sort (the
// rows are shown in ascending order of the column; the set keeps its own
// order) and a filter mark in their header.
#ifndef SKJK_INTERFACE_WINDOW_WIN32_RECORD_GRID_H_
#define SKJK_INTERFACE_WINDOW_WIN32_RECORD_GRID_H_

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "documents/document_set.h"
#include "interface_window/grid_columns.h"
#include "window_framework/controls.h"

namespace skjk::win32 {

class RecordGrid : public Control, public RecordSetObserver {
 public:
  RecordGrid() = default;
  ~RecordGrid() override;
  RecordGrid(const RecordGrid&) = delete;
  RecordGrid& operator=(const RecordGrid&) = delete;

  // Creates the list view as a child `id` of `parent` with the visible
  // columns of `columns`, and the footer (child `footer_id`) when a column
  // has one. The user may size the columns when `columns_sizable`; columns are
  // never moved. The grid must not move in memory while its list view
  // exists.
  bool Create(HWND parent, int id, std::span<const GridColumn> columns,
              bool columns_sizable, HFONT font, COLORREF header_colour,
              int footer_id = 0);
  // The footer strip, or nullptr. Its window text holds the footer cells'
  // texts, each followed by a tab.
  HWND footer() const { return footer_; }
  // Places the list and, under it, the footer in the rectangle.
  void Move(int left, int top, int width, int height) override;

  // Follows `set` from now on (nullptr: none), and re-reads everything.
  void Bind(RecordSet* set);
  RecordSet* set() const { return set_; }

  // The user chose a record: called with its index in the set.
  void set_on_select(std::function<void(int)> on_select) {
    on_select_ = std::move(on_select);
  }
  // The user tried to move past the last row: down arrow or page down on
  // it, or scrolling down with the last row in view.
  void set_on_past_end(std::function<void()> on_past_end) {
    on_past_end_ = std::move(on_past_end);
  }
  // The user clicked the header of column `column` (index into the columns
  // given to Create()); `below` is the screen point under its left edge.
  void set_on_column_click(std::function<void(int, POINT)> on_column_click) {
    on_column_click_ = std::move(on_column_click);
  }
  // Marks column `column` (index as above) as filtered in its header.
  void SetFiltered(int column, bool filtered);

  // WM_NOTIFY from the list view; true when handled, *result then holds the
  // answer.
  bool OnNotify(NMHDR* header, LRESULT* result) override;

  // RecordSetObserver.
  void DataChanged() override;
  void CursorMoved() override;

 private:
  static LRESULT CALLBACK ListSubclass(HWND hwnd, UINT message, WPARAM wparam,
                                       LPARAM lparam, UINT_PTR id,
                                       DWORD_PTR data);
  static LRESULT CALLBACK FooterProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void ResolveFields();
  void SelectCurrent();
  // The set's record shown in row `row`, and back.
  int RecordAt(int row) const;
  int RowOf(int record) const;
  void DrawHeaderItem(NMCUSTOMDRAW* draw, HWND header) const;
  void UpdateFooter();
  void PaintFooter();
  // After a key or scroll message went through the list view.
  void AfterInput(UINT message, WPARAM wparam, int focused_before);

  HWND footer_ = nullptr;
  COLORREF header_colour_ = 0;
  bool columns_sizable_ = false;
  std::vector<GridColumn> columns_;  // visible columns only
  std::vector<int> indexes_;         // their indexes in Create()'s columns
  std::vector<int> fields_;          // field index per column, -1: empty
  std::vector<bool> filtered_;       // per visible column
  std::vector<std::wstring> footer_texts_;  // per visible column
  int sort_column_ = -1;                    // visible column, -1: none
  std::vector<int> order_;                  // row -> record while sorted
  std::vector<int> row_of_;                 // record -> row while sorted
  RecordSet* set_ = nullptr;
  bool syncing_ = false;
  std::wstring cell_;  // text handed to the list view
  std::function<void(int)> on_select_;
  std::function<void()> on_past_end_;
  std::function<void(int, POINT)> on_column_click_;
};

}  // namespace skjk::win32

#endif  // SKJK_INTERFACE_WINDOW_WIN32_RECORD_GRID_H_
