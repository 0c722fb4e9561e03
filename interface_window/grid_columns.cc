#include "interface_window/grid_columns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>

#include "text/forms.h"
#include "text/gbk.h"
#include "text/number_forms.h"

namespace skjk {

using namespace text::literals;

std::vector<int> ResolveColumns(const std::vector<FieldDef>& layout,
                                std::span<const GridColumn> columns) {
  std::vector<int> indexes;
  indexes.reserve(columns.size());
  for (const GridColumn& column : columns) {
    int found = -1;
    for (size_t i = 0; i < layout.size(); ++i) {
      if (layout[i].name == column.field &&
          layout[i].type != FieldType::kNested) {
        found = static_cast<int>(i);
        break;
      }
    }
    indexes.push_back(found);
  }
  return indexes;
}

int CompareValues(const CellValue& a, const CellValue& b) {
  // monostate < double < string; the variant's own order would put the
  // alternatives in declaration order, whatever that is.
  auto rank = [](const CellValue& v) {
    return std::holds_alternative<std::monostate>(v)     ? 0
           : std::holds_alternative<double>(v)           ? 1
           : std::holds_alternative<std::string_view>(v) ? 2
                                                         : 3;
  };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb || ra == 0 || ra == 3) return ra - rb;
  if (ra == 1) {
    const double x = std::get<double>(a), y = std::get<double>(b);
    return x < y ? -1 : y < x ? 1 : 0;
  }
  const int c =
      std::get<std::string_view>(a).compare(std::get<std::string_view>(b));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::vector<int> SortedOrder(const RecordSet& set, int field) {
  std::vector<int> order(static_cast<size_t>(set.RecordCount()));
  std::iota(order.begin(), order.end(), 0);
  if (field < 0) return order;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return CompareValues(set.Cell(a, field), set.Cell(b, field)) < 0;
  });
  return order;
}

std::string FooterText(const RecordSet& set, const GridColumn& column,
                       int field) {
  switch (column.footer) {
    case Footer::kNone:
      return std::string();
    case Footer::kCount:
      return "品牌数="_gbk + std::to_string(set.RecordCount());
    case Footer::kSum:
      break;
  }
  if (field < 0) return std::string();
  double sum = 0;
  for (int i = 0, n = set.RecordCount(); i < n; ++i) {
    const CellValue v = set.Cell(i, field);
    if (const auto* number = std::get_if<double>(&v)) sum += *number;
  }
  return column.format == CellFormat::kMoney ? MoneyText(sum)
                                             : text::GridNumberText(sum);
}

std::string DateText(double days) {
  std::optional<text::Day> day = text::DayOf(days);
  return day ? text::IsoDate(*day) : std::string();
}

std::string MoneyText(double value) {
  if (!std::isfinite(value)) return std::string();
  // Half a cent rounds away from zero also where the binary value lies a
  // hair below it (351.585 is held as 351.58499...).
  const double cents = std::round(value * 100.0 + (value >= 0 ? 1e-6 : -1e-6));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", cents / 100.0);
  std::string text(buf);
  if (text == "-0.00") text = "0.00";
  return text;
}

std::string CellText(FieldType type, const CellValue& value,
                     CellFormat format) {
  if (const auto* text = std::get_if<std::string_view>(&value)) {
    return type == FieldType::kText ? std::string(*text) : std::string();
  }
  const auto* number = std::get_if<double>(&value);
  if (number == nullptr) return std::string();
  if (type == FieldType::kDateTime || format == CellFormat::kDate) {
    return type == FieldType::kDateTime ? DateText(*number) : std::string();
  }
  if (type != FieldType::kNumber) return std::string();
  return format == CellFormat::kMoney ? MoneyText(*number)
                                      : text::GridNumberText(*number);
}

}  // namespace skjk
