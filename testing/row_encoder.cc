#include "testing/row_encoder.h"

#include <string>
#include <variant>

namespace skjk::testing {

void EncodeRow(const std::vector<FieldDef>& layout, const Row& row,
               protocol::Writer* w) {
  for (size_t i = 0; i < layout.size(); ++i) {
    const Value* v = i < row.values.size() ? &row.values[i] : nullptr;
    if (v == nullptr || std::holds_alternative<std::monostate>(*v)) {
      protocol::PutNull(w);
    } else if (const auto* s = std::get_if<std::string>(v)) {
      protocol::PutText(w, *s);
    } else if (const auto* d = std::get_if<double>(v)) {
      if (layout[i].type == FieldType::kDateTime) {
        protocol::PutDateTime(w, *d);
      } else {
        protocol::PutNumber(w, *d);
      }
    } else {
      const Rows& rows = std::get<Rows>(*v);
      protocol::PutNested(w, rows.size());
      for (const Row& r : rows) EncodeRow(layout[i].nested, r, w);
    }
  }
}

}  // namespace skjk::testing
