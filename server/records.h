// Records as the application server delivers them: a layout of named, typed
// fields and rows of values, a nested field holding rows of its own (the
// lines of a document).
#ifndef SKJK_SERVER_RECORDS_H_
#define SKJK_SERVER_RECORDS_H_

#include <cstdint>
#include <string>
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
  uint16_t size = 0;              // byte width of a text field, else 0
  std::vector<FieldDef> nested;   // layout of a nested field's rows
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

// One answer to a get-records request.
struct Packet {
  std::vector<FieldDef> layout;  // empty unless the layout was asked for
  Rows rows;
};

}  // namespace skjk

#endif  // SKJK_SERVER_RECORDS_H_
