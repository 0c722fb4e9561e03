#include "windows/grid_columns.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "text/forms.h"

namespace skjk {
namespace {}  // namespace

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

std::string DateText(double days) {
  std::optional<text::Day> day = text::DayOf(days);
  return day ? text::IsoDate(*day) : std::string();
}

std::string NumberText(double value) {
  if (!std::isfinite(value)) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", value);
  std::string text(buf);
  size_t dot = text.find('.');
  if (dot != std::string::npos) {
    size_t end = text.find_last_not_of('0');
    text.erase(end == dot ? dot : end + 1);
  }
  if (text == "-0") text = "0";
  return text;
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

std::string CellText(FieldType type, const Value& value, CellFormat format) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    return type == FieldType::kText ? *text : std::string();
  }
  const auto* number = std::get_if<double>(&value);
  if (number == nullptr) return std::string();
  if (type == FieldType::kDateTime || format == CellFormat::kDate) {
    return type == FieldType::kDateTime ? DateText(*number) : std::string();
  }
  if (type != FieldType::kNumber) return std::string();
  return format == CellFormat::kMoney ? MoneyText(*number)
                                      : NumberText(*number);
}

}  // namespace skjk
