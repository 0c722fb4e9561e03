#include "windows/grid_columns.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/layouts.h"
#include "windows/variant.h"

namespace skjk {
namespace {

using ::testing::ElementsAre;

TEST(CellTextTest, FormatsByTypeAndColumn) {
  struct Case {
    FieldType type;
    Value value;
    CellFormat format;
    const char* text;
  } cases[] = {
      {FieldType::kNumber, 1001.0, CellFormat::kPlain, "1001"},
      {FieldType::kNumber, 2.5, CellFormat::kPlain, "2.5"},
      {FieldType::kNumber, 100.166667, CellFormat::kPlain, "100.166667"},
      {FieldType::kNumber, -0.0000001, CellFormat::kPlain, "0"},
      {FieldType::kNumber, 1404.0, CellFormat::kMoney, "1404.00"},
      {FieldType::kNumber, 351.585, CellFormat::kMoney, "351.59"},
      {FieldType::kNumber, -0.001, CellFormat::kMoney, "0.00"},
      {FieldType::kDateTime, 37491.0, CellFormat::kDate, "2002-08-23"},
      {FieldType::kDateTime, 37491.75, CellFormat::kPlain, "2002-08-23"},
      {FieldType::kDateTime, 0.0, CellFormat::kDate, "1899-12-30"},
      {FieldType::kDateTime, 36585.0, CellFormat::kDate, "2000-02-29"},
      {FieldType::kText, std::string("甲公司"), CellFormat::kPlain, "甲公司"},
      // Empty values and values of the wrong kind show nothing.
      {FieldType::kNumber, std::monostate{}, CellFormat::kMoney, ""},
      {FieldType::kText, 12.0, CellFormat::kPlain, ""},
      {FieldType::kNumber, std::string("12"), CellFormat::kPlain, ""},
      {FieldType::kNumber, 1e300 * 1e300, CellFormat::kPlain, ""},
      {FieldType::kDateTime, 1e12, CellFormat::kDate, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CellText(c.type, c.value, c.format), c.text) << c.text;
  }
}

TEST(ResolveColumnsTest, ColumnsWithoutTheirFieldStayEmpty) {
  // The head-office line grid on the basic line layout: no SE0000.
  const std::vector<int> bbsk = ResolveColumns(
      layouts::BasicLine(), GetVariant(VariantKey::kBbsk).look.line_columns);
  ASSERT_EQ(bbsk.size(), 9u);
  EXPECT_EQ(bbsk.back(), -1);
  for (size_t i = 0; i + 1 < bbsk.size(); ++i) EXPECT_GE(bbsk[i], 0) << i;

  // The customer document grid on the void layout: KHDM00, DWDZ00 and
  // KPRQ00 are missing.
  const layouts::Layout void_layout = layouts::Void("qry_bbbf2");
  const auto& columns = GetVariant(VariantKey::kJqsk).look.document_columns;
  const std::vector<int> jqsk = ResolveColumns(void_layout, columns);
  std::vector<std::string_view> empty;
  for (size_t i = 0; i < jqsk.size(); ++i) {
    if (jqsk[i] < 0) empty.push_back(columns[i].field);
  }
  EXPECT_THAT(empty, ElementsAre("KHDM00", "DWDZ00", "KPRQ00"));
}

TEST(WindowLookTest, EveryColumnNamesAFieldOfItsSalesLayout) {
  for (VariantKey key :
       {VariantKey::kBbsk, VariantKey::kFxsk, VariantKey::kJqsk}) {
    const Variant& variant = GetVariant(key);
    const layouts::Layout* master =
        layouts::ProviderLayout(variant.sets[0].provider);
    ASSERT_NE(master, nullptr);
    for (int index : ResolveColumns(*master, variant.look.document_columns)) {
      EXPECT_GE(index, 0) << variant.name;
    }
    const layouts::Layout& lines = master->back().nested;
    for (int index : ResolveColumns(lines, variant.look.line_columns)) {
      if (key != VariantKey::kBbsk) {
        EXPECT_GE(index, 0) << variant.name;
      }
    }
  }
}

}  // namespace
}  // namespace skjk
