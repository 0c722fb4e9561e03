// RecordGrid: an owner-data list view that reads its cells straight from a
// record set. Setting the item count is all a (re)load costs, whatever the
// number of records; cells are formatted only when the list view draws them.
#ifndef SKJK_WINDOWS_WIN32_RECORD_GRID_H_
#define SKJK_WINDOWS_WIN32_RECORD_GRID_H_

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "server/document_set.h"
#include "windows/grid_columns.h"

namespace skjk::win32 {

class RecordGrid : public RecordSetObserver {
 public:
  RecordGrid() = default;
  ~RecordGrid() override;
  RecordGrid(const RecordGrid&) = delete;
  RecordGrid& operator=(const RecordGrid&) = delete;

  // Creates the list view as a child `id` of `parent` with the visible
  // columns of `columns`. The user may size the columns when
  // `columns_sizable`; columns are never moved. The grid must not move in
  // memory while its list view exists.
  bool Create(HWND parent, int id, std::span<const GridColumn> columns,
              bool columns_sizable, HFONT font, COLORREF header_colour);
  HWND hwnd() const { return hwnd_; }

  // Follows `set` from now on (nullptr: none), and re-reads everything.
  void Bind(RecordSet* set);
  RecordSet* set() const { return set_; }

  // The user chose a row: called with its index.
  void set_on_select(std::function<void(int)> on_select) {
    on_select_ = std::move(on_select);
  }

  // WM_NOTIFY from the list view; true when handled, *result then holds the
  // answer.
  bool OnNotify(NMHDR* header, LRESULT* result);

  // RecordSetObserver.
  void DataChanged() override;
  void CursorMoved() override;

 private:
  static LRESULT CALLBACK ListSubclass(HWND hwnd, UINT message, WPARAM wparam,
                                       LPARAM lparam, UINT_PTR id,
                                       DWORD_PTR data);
  void ResolveFields();
  void SelectCurrent();

  HWND hwnd_ = nullptr;
  COLORREF header_colour_ = 0;
  bool columns_sizable_ = false;
  std::vector<GridColumn> columns_;  // visible columns only
  std::vector<int> fields_;          // field index per column, -1: empty
  RecordSet* set_ = nullptr;
  bool syncing_ = false;
  std::wstring cell_;  // text handed to the list view
  std::function<void(int)> on_select_;
};

}  // namespace skjk::win32

#endif  // SKJK_WINDOWS_WIN32_RECORD_GRID_H_
