#include "windows/grid_columns.h"

#include <cmath>
#include <cstdio>

namespace skjk {
namespace {

constexpr CellFormat kDate = CellFormat::kDate;
constexpr CellFormat kMoney = CellFormat::kMoney;
constexpr CellFormat kPlain = CellFormat::kPlain;
constexpr int kStd = kStandardColumnWidth;

constexpr GridColumn kBbskDocuments[] = {
    {"单号", "DHAO00", 56},         {"业务日期", "YWRQ00", 72, true, kDate},
    {"单位代码", "DWDM00", 76},     {"单位名称", "DWMC00", 147},
    {"单位地址", "DZ0000", 129},    {"税务登记号", "SWDJH0", 131},
    {"开户银行", "KHYH00", 162},    {"银行帐号", "YHZH00", 106},
    {"发票本号", "FPBBH0", 99},     {"发票号", "FPHAO0", 85},
    {"备注", "BEIZHU", 267},
};

constexpr GridColumn kBbskLines[] = {
    {"单号", "DHAO00", 61, false},
    {"商品代码", "SPDM00", 81},
    {"商品名称", "SPMC00", 178},
    {"规格", "SPGG00", 59},
    {"单位", "JYDW00", 62},
    {"单价", "DJIA00", 65, true, kMoney},
    {"数量（条）", "SL0000", 105, true, kPlain},
    {"金额（元）", "JE0000", 105, true, kMoney},
    {"税额（元）", "SE0000", 105, true, kMoney},
};

constexpr TotalField kBbskTotals[] = {
    {"SLHJ00", {444, 1, 105, 20}, kPlain},
    {"JEHJ00", {550, 1, 105, 20}, kMoney},
    {"SEHJ00", {656, 1, 105, 20}, kMoney},
    {"ZJE000", {444, 21, 105, 20}, kMoney},
    {"JSHJ00", {550, 21, 211, 20}, kPlain},
};

constexpr GridColumn kFxskDocuments[] = {
    {"单号", "DHAO00", 56},         {"业务日期", "YWRQ00", kStd, true, kDate},
    {"单位代码", "DWDM00", 81},     {"单位名称", "DWMC00", 201},
    {"单位地址", "DZ0000", 170},    {"税务登记号", "SWDJH0", 104},
    {"开户银行", "KHYH00", 137},    {"银行帐号", "YHZH00", 124},
};

constexpr GridColumn kFxskLines[] = {
    {"单号", "DHAO00", 54, false},
    {"商品代码", "SPDM00", 74},
    {"商品名称", "SPMC00", 124},
    {"规格", "SPGG00", 39},
    {"单位", "JYDW00", 30},
    {"发票本号", "FPBBH0", 70},
    {"发票号", "FPHAO0", 78},
    {"单价", "DJIA00", 46, true, kMoney},
    {"数量（条）", "SL0000", 100, true, kPlain},
    {"金额（元）", "JE0000", 100, true, kMoney},
    {"税额（元）", "SE0000", 100, true, kMoney},
};

constexpr GridColumn kJqskDocuments[] = {
    {"单号", "DHAO00", 65},         {"业务日期", "YWRQ00", 116, true, kDate},
    {"单位代码", "KHDM00", 81},     {"单位名称", "DWMC00", 201},
    {"单位地址", "DWDZ00", 170},    {"税务登记号", "SWDJH0", 104},
    {"开户银行", "KHYH00", 137},    {"银行帐号", "YHZH00", 124},
    {"开票日期", "KPRQ00", kStd, true, kDate},
    {"发票本号", "FPBBH0", 79},     {"发票号", "FPHAO0", 80},
};

constexpr GridColumn kJqskLines[] = {
    {"单号", "DHAO00", 65, false},
    {"商品代码", "SPDM00", 81},
    {"商品名称", "SPMC00", 153},
    {"规格", "SPGG00", 71},
    {"单位", "JYDW00", 54},
    {"单价", "DJIA00", 79, true, kMoney},
    {"数量（条）", "SL0000", 110, true, kPlain},
    {"金额（元）", "JE0000", 110, true, kMoney},
    {"税额（元）", "SE0000", 110, true, kMoney},
};

constexpr WindowLook kBbskLook{
    {0, 79, 797, 492}, true, true, "日期区间：", {203, 6, 66, 13},
    kBbskDocuments,    kBbskLines, kBbskTotals, false, false};
constexpr WindowLook kFxskLook{
    {1, 81, 797, 492}, false, false, "日期区间：", {203, 6, 66, 13},
    kFxskDocuments,    kFxskLines, {},          true,  true};
constexpr WindowLook kJqskLook{
    {-1, 80, 797, 492}, false, false, "业务日期区间：", {187, 6, 84, 13},
    kJqskDocuments,     kJqskLines, {},               true,  true};

// Days since 1970-01-01 to the civil date (proleptic Gregorian).
void CivilFromDays(long long z, int* y, int* m, int* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

// Days between 1899-12-30 and 1970-01-01.
constexpr long long kUnixEpochDay = 25569;

}  // namespace

const WindowLook& LookOf(VariantKey key) {
  switch (key) {
    case VariantKey::kFxsk:
      return kFxskLook;
    case VariantKey::kJqsk:
      return kJqskLook;
    case VariantKey::kBbsk:
      break;
  }
  return kBbskLook;
}

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
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return std::string();
  int y, m, d;
  CivilFromDays(static_cast<long long>(std::floor(days)) - kUnixEpochDay, &y,
                &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
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
  return format == CellFormat::kMoney ? MoneyText(*number) : NumberText(*number);
}

}  // namespace skjk
