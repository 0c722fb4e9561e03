#include "interface_window/grid_columns.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "documents/document_set.h"
#include "interface_window/business_line.h"
#include "testing/packet_source.h"
#include "text/gbk.h"
#include "wire/layouts.h"

namespace skjk {
namespace {

using ::testing::ElementsAre;
using text::literals::operator""_gbk;

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
    EXPECT_EQ(CellText(c.type, ViewOf(c.value), c.format), c.text) << c.text;
  }
}

TEST(ResolveColumnsTest, ColumnsWithoutTheirFieldStayEmpty) {
  // The void sets carry the basic layouts in every window.
  const layouts::Layout void_layout = layouts::Void("qry_bbbf2");
  struct Case {
    BusinessLineKey key;
    bool lines;  // the line grid, else the document grid
    std::vector<std::string_view> empty;
  } cases[] = {
      {BusinessLineKey::kBbsk, true, {"SE0000"}},
      {BusinessLineKey::kBbsk, false, {}},
      {BusinessLineKey::kFxsk, true, {"FPBBH0", "FPHAO0", "SE0000"}},
      {BusinessLineKey::kFxsk, false, {}},
      {BusinessLineKey::kJqsk, true, {"SE0000"}},
      {BusinessLineKey::kJqsk, false, {"KHDM00", "DWDZ00", "KPRQ00"}},
  };
  for (const Case& c : cases) {
    const WindowLook& look = GetBusinessLine(c.key).look;
    const auto& columns = c.lines ? look.line_columns : look.document_columns;
    const layouts::Layout& layout =
        c.lines ? void_layout.back().nested : void_layout;
    const std::vector<int> resolved = ResolveColumns(layout, columns);
    std::vector<std::string_view> empty;
    for (size_t i = 0; i < resolved.size(); ++i) {
      if (resolved[i] < 0) empty.push_back(columns[i].field);
    }
    EXPECT_EQ(empty, c.empty) << GetBusinessLine(c.key).name << c.lines;
  }
}

// A set of goods lines (SPDM00, SL0000, JE0000) with the given values.
class LinesFixture : public ::testing::Test {
 protected:
  void Load(std::vector<std::vector<Value>> rows) {
    rows_ = std::move(rows);
    ASSERT_TRUE(set_.Open({}).ok());
  }

  layouts::Layout layout_{{"SPDM00", FieldType::kText, 8, {}},
                          {"SL0000", FieldType::kNumber, 0, {}},
                          {"JE0000", FieldType::kNumber, 0, {}}};
  std::vector<std::vector<Value>> rows_;
  DocumentSet set_{"ClientDataSet2",
                   testing::FromPackets([this](std::string_view, int, bool,
                                               const std::vector<std::string>&,
                                               Packet* packet) {
                     packet->layout = layout_;
                     for (auto& values : rows_) {
                       packet->rows.push_back(Row{values});
                     }
                     return Status::OK();
                   }),
                   "lines", Connection::kAllRecords, &layout_};
};

TEST_F(LinesFixture, SortedOrderKeepsEqualValuesInTheSetsOrder) {
  Load({{std::string("10010102"), 1.0, 10.0},
        {std::string("10010101"), 2.0, 20.0},
        {std::monostate{}, 3.0, 30.0},
        {std::string("10010102"), 4.0, 40.0},
        {std::string("1001"), 5.0, std::monostate{}}});
  EXPECT_THAT(SortedOrder(set_, 0), ElementsAre(2, 4, 1, 0, 3));
  // Numbers by value, not by their text.
  Load({{std::string("a"), 10.0, 0.0},
        {std::string("b"), 9.0, 0.0},
        {std::string("c"), -1.0, 0.0}});
  EXPECT_THAT(SortedOrder(set_, 1), ElementsAre(2, 1, 0));
  EXPECT_THAT(SortedOrder(set_, -1), ElementsAre(0, 1, 2));
}

TEST_F(LinesFixture, FooterCountsLinesAndSumsColumns) {
  const GridColumn count{"商品代码", "SPDM00",           81,
                         true,       CellFormat::kPlain, Footer::kCount};
  const GridColumn quantity{"数量（条）", "SL0000",           110,
                            true,         CellFormat::kPlain, Footer::kSum};
  const GridColumn amount{"金额（元）", "JE0000",           110,
                          true,         CellFormat::kMoney, Footer::kSum};
  const GridColumn plain{"单价", "JE0000", 79, true, CellFormat::kMoney};
  Load({});
  EXPECT_EQ(FooterText(set_, count, 0), "品牌数=0"_gbk);
  EXPECT_EQ(FooterText(set_, quantity, 1), "0");
  EXPECT_EQ(FooterText(set_, amount, 2), "0.00");
  // Empty values count as lines and add nothing; a sum of money is shown
  // with two decimals however its parts were rounded.
  Load({{std::string("1"), 1.5, 0.1},
        {std::string("2"), std::monostate{}, 0.2},
        {std::string("3"), 2.0, std::monostate{}}});
  EXPECT_EQ(FooterText(set_, count, 0), "品牌数=3"_gbk);
  EXPECT_EQ(FooterText(set_, quantity, 1), "3.5");
  EXPECT_EQ(FooterText(set_, amount, 2), "0.30");
  EXPECT_EQ(FooterText(set_, plain, 2), "");
  // A set without the field (a void line set has no tax) shows nothing.
  EXPECT_EQ(FooterText(set_, amount, -1), "");
}

TEST(WindowLookTest, EveryColumnNamesAFieldOfItsSalesLayout) {
  for (BusinessLineKey key : {BusinessLineKey::kBbsk, BusinessLineKey::kFxsk,
                              BusinessLineKey::kJqsk}) {
    const BusinessLine& business_line = GetBusinessLine(key);
    const layouts::Layout* master =
        layouts::ProviderLayout(business_line.sets[0].provider);
    ASSERT_NE(master, nullptr);
    for (int index :
         ResolveColumns(*master, business_line.look.document_columns)) {
      EXPECT_GE(index, 0) << business_line.name;
    }
    const layouts::Layout& lines = master->back().nested;
    for (int index : ResolveColumns(lines, business_line.look.line_columns)) {
      if (key != BusinessLineKey::kBbsk) {
        EXPECT_GE(index, 0) << business_line.name;
      }
    }
  }
}

}  // namespace
}  // namespace skjk
