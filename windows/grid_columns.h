// What the interface windows look like (the types of each business line's
// look, the geometry all three share) and how a field's value becomes the
// text of a grid cell.
#ifndef SKJK_WINDOWS_GRID_COLUMNS_H_
#define SKJK_WINDOWS_GRID_COLUMNS_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/records.h"

namespace skjk {

// How a cell shows its value. Text fields always show their text.
enum class CellFormat {
  kPlain,  // numbers without trailing zeros, date-times as YYYY-MM-DD
  kDate,   // YYYY-MM-DD
  kMoney,  // two decimals
};

struct GridColumn {
  std::string_view caption;  // UTF-8; the Win32 layer converts
  std::string_view field;
  int width;
  bool visible = true;
  CellFormat format = CellFormat::kPlain;
};

// Width the grids give a column that has no width of its own.
inline constexpr int kStandardColumnWidth = 80;

// A rectangle in the window's client coordinates (or its parent panel's).
struct Box {
  int left, top, width, height;
};

// One of the total edits under the line grid, bound to a master field.
struct TotalField {
  std::string_view field;
  Box box;
  CellFormat format;
};

// Everything that differs in the look of the three windows.
struct WindowLook {
  Box window;                   // outer rectangle
  bool work_panel;              // Panel2 and the totals Panel4 exist
  bool simsun_window_font;      // else MS Sans Serif 8 for toolbar and grids
  std::string_view date_label;  // UTF-8
  Box date_label_box;           // in the query bar
  std::span<const GridColumn> document_columns;
  std::span<const GridColumn> line_columns;
  bool line_columns_sizable;  // the user may size the line grid's columns
  std::span<const TotalField> totals;  // empty without a totals panel
  bool line_summary;      // footer "品牌数=N" and the column sums
  bool pick_list_preset;  // pick list reads "销售单据" before the show step
};

// Common geometry of every window.
inline constexpr int kToolbarHeight = 57;
inline constexpr int kQueryBarHeight = 24;
inline constexpr int kDocumentGridHeight = 216;
inline constexpr int kSplitterHeight = 5;
inline constexpr int kTotalsHeight = 42;
inline constexpr int kStatusBarHeight = 19;

// For each column, the index of its field in `layout`, or -1 when the layout
// does not carry it (the column then stays empty).
std::vector<int> ResolveColumns(const std::vector<FieldDef>& layout,
                                std::span<const GridColumn> columns);

// The text a cell shows for `value` of a field of type `type`. An empty
// value, or a value of another kind than the type, shows nothing.
std::string CellText(FieldType type, const Value& value, CellFormat format);

// A date-time value as YYYY-MM-DD, the time of day dropped; empty outside
// the calendar (text/forms.h).
std::string DateText(double days);
// A number without trailing zeros after the decimal point (at most six
// decimals): 12 -> "12", 2.50 -> "2.5".
std::string NumberText(double value);
// Two decimals: 12 -> "12.00".
std::string MoneyText(double value);

}  // namespace skjk

#endif  // SKJK_WINDOWS_GRID_COLUMNS_H_
