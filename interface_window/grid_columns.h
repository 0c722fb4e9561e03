// What the interface windows look like (the types of each business line's
// look, the geometry all three share) and how a field's value becomes the
// text of a grid cell.
#ifndef SKJK_INTERFACE_WINDOW_GRID_COLUMNS_H_
#define SKJK_INTERFACE_WINDOW_GRID_COLUMNS_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "documents/document_set.h"
#include "wire/records.h"

namespace skjk {

// How a cell shows its value. Text fields always show their text.
enum class CellFormat {
  kPlain,  // numbers without trailing zeros, date-times as YYYY-MM-DD
  kDate,   // YYYY-MM-DD
  kMoney,  // two decimals
};

// What a column's cell in the summary footer under its grid shows.
enum class Footer {
  kNone,
  kCount,  // "品牌数=N": the number of records
  kSum,    // the sum of the column over the records, in the column's format
};

struct GridColumn {
  std::string_view caption;  // UTF-8; the Win32 layer converts
  std::string_view field;
  int width;
  bool visible = true;
  CellFormat format = CellFormat::kPlain;
  Footer footer = Footer::kNone;
  // The user may filter the grid's records by the column's cell texts.
  bool filterable = false;
  // The grid shows its records in ascending order of this column (the set
  // keeps its own order).
  bool sorted = false;
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
std::string CellText(FieldType type, const CellValue& value, CellFormat format);

// Orders two values of one field: empty first, then numbers (and
// date-times) by value, then texts by their bytes. <0, 0 or >0.
int CompareValues(const CellValue& a, const CellValue& b);

// The records of `set` in ascending order of field `field` (equal values
// keep the set's order): display position -> record index. The set's order
// when `field` is -1.
std::vector<int> SortedOrder(const RecordSet& set, int field);

// The text of `column`'s footer cell over the records of `set`, whose field
// `field` (-1: the set lacks it) the column shows; GBK. Empty for a column
// without a footer and for a sum of a field the set lacks.
std::string FooterText(const RecordSet& set, const GridColumn& column,
                       int field);

// A date-time value as YYYY-MM-DD, the time of day dropped; empty outside
// the calendar (text/forms.h).
std::string DateText(double days);
// Two decimals: 12 -> "12.00".
std::string MoneyText(double value);

}  // namespace skjk

#endif  // SKJK_INTERFACE_WINDOW_GRID_COLUMNS_H_
