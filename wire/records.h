// Records as the application server delivers them: a layout of named, typed
// fields and rows of values, a nested field holding rows of its own (the
// lines of a document).
#ifndef SKJK_WIRE_RECORDS_H_
#define SKJK_WIRE_RECORDS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace skjk {

enum class FieldType : uint8_t {
  kText = 1,      // at most `size` bytes of GBK text
  kNumber = 2,    // 64-bit floating point
  kDateTime = 3,  // days since 1899-12-30, fraction = time of day
  kNested = 4,    // rows of the layout `nested`
};

struct FieldDef {
  std::string name;  // six upper-case letters/digits, or e.g. "qry_bbsk2"
  FieldType type = FieldType::kText;
  uint16_t size = 0;             // byte width of a text field, else 0
  std::vector<FieldDef> nested;  // layout of a nested field's rows
};

struct Row;
using Rows = std::vector<Row>;

// One field's value. Empty (monostate) for a missing value; a text holds GBK
// bytes; a number or a date-time a double (the layout tells which); a nested
// field its rows.
using Value = std::variant<std::monostate, std::string, double, Rows>;

struct Row {
  std::vector<Value> values;  // in layout order
};

// A document's lines as a document set holds them: the first of them among
// the set's lines and their number.
struct LineRun {
  uint32_t first = 0;
  uint32_t count = 0;
};

// One field's value as a document set presents it: empty, a text (GBK bytes,
// a view into the set's storage, valid while the set keeps its records), a
// number or date-time, or a document's lines.
using CellValue =
    std::variant<std::monostate, std::string_view, double, LineRun>;

// The CellValue of a Value (a view into it; nested rows give a run of their
// number).
inline CellValue ViewOf(const Value& v) {
  switch (v.index()) {
    case 1:
      return std::string_view(*std::get_if<std::string>(&v));
    case 2:
      return *std::get_if<double>(&v);
    case 3:
      return LineRun{0, static_cast<uint32_t>(std::get_if<Rows>(&v)->size())};
  }
  return std::monostate();
}

// One answer to a get-records request.
struct Packet {
  std::vector<FieldDef> layout;  // empty unless the layout was asked for
  Rows rows;
};

}  // namespace skjk

#endif  // SKJK_WIRE_RECORDS_H_
