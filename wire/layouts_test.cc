#include "wire/layouts.h"

#include <gtest/gtest.h>

#include <string>

namespace skjk::layouts {
namespace {

const FieldDef* Find(const Layout& layout, std::string_view name) {
  for (const FieldDef& f : layout) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

TEST(LayoutsTest, EveryProviderHasItsLayoutAndLineField) {
  struct Case {
    const char* provider;
    const char* line_field;
    size_t fields;
    const Layout* lines;
  };
  const Case cases[] = {
      {"dsp_bbsk1", "qry_bbsk2", 35, &BasicLine()},
      {"dsp_bbsk3", "qry_bbsk4", 35, &BasicLine()},
      {"dsp_bbbf1", "qry_bbbf2", 33, &BasicLine()},
      {"dsp_bbbf3", "qry_bbbf4", 33, &BasicLine()},
      {"dsp_fxsk1", "qry_fxsk2", 12, &VisitSalesLine()},
      {"dsp_fxsk3", "qry_fxsk4", 12, &VisitSalesLine()},
      {"dsp_jqsk1", "qry_jqsk2", 16, &CustomerLine()},
      {"dsp_jqsk3", "qry_jqsk4", 16, &CustomerLine()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.provider);
    const Layout* layout = ProviderLayout(c.provider);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->size(), c.fields);
    EXPECT_EQ(LineFieldOf(c.provider), c.line_field);
    const FieldDef& nested = layout->back();
    EXPECT_EQ(nested.name, c.line_field);
    EXPECT_EQ(nested.type, FieldType::kNested);
    EXPECT_EQ(nested.nested.size(), c.lines->size());
    EXPECT_EQ(layout->front().name, c.fields == 35 ? "GSDW00" : "DHAO00");
    for (const FieldDef& f : *layout) {
      if (f.type == FieldType::kText) {
        EXPECT_GT(f.size, 0) << f.name;
      } else {
        EXPECT_EQ(f.size, 0) << f.name;
      }
    }
  }
  EXPECT_EQ(ProviderLayout("dsp_temp"), nullptr);
  EXPECT_EQ(LineFieldOf("dsp_temp"), "");
}

TEST(LayoutsTest, VoidIsHeadOfficeWithoutFirstAndLastButOne) {
  Layout sales = HeadOfficeSales("x");
  Layout void_layout = Void("x");
  ASSERT_EQ(void_layout.size() + 2, sales.size());
  for (size_t i = 0; i + 1 < void_layout.size(); ++i) {
    EXPECT_EQ(void_layout[i].name, sales[i + 1].name);
    EXPECT_EQ(void_layout[i].type, sales[i + 1].type);
    EXPECT_EQ(void_layout[i].size, sales[i + 1].size);
  }
  EXPECT_EQ(sales[33].name, "SJDHAO");
}

TEST(LayoutsTest, SameNameDifferentWidths) {
  struct Case {
    const char* provider;
    const char* field;
    uint16_t size;
  };
  const Case cases[] = {
      {"dsp_jqsk1", "FPBBH0", 12}, {"dsp_bbsk1", "FPBBH0", 11},
      {"dsp_bbbf1", "FPBBH0", 11}, {"dsp_fxsk1", "FPLB00", 2},
      {"dsp_jqsk1", "FPLB00", 2},  {"dsp_bbsk1", "FPLB00", 3},
      {"dsp_bbbf3", "FPLB00", 3},  {"dsp_fxsk3", "YHZH00", 40},
      {"dsp_jqsk3", "YHZH00", 40}, {"dsp_bbsk3", "YHZH00", 30},
      {"dsp_bbsk1", "JSHJ00", 60}, {"dsp_jqsk1", "DWDZ00", 50},
  };
  for (const Case& c : cases) {
    const FieldDef* f = Find(*ProviderLayout(c.provider), c.field);
    ASSERT_NE(f, nullptr) << c.provider << " " << c.field;
    EXPECT_EQ(f->size, c.size) << c.provider << " " << c.field;
  }
  EXPECT_EQ(Find(VisitSalesLine(), "FPBBH0")->size, 11);
  EXPECT_EQ(Find(BasicLine(), "SE0000"), nullptr);
  EXPECT_EQ(Find(CustomerLine(), "FPBBH0"), nullptr);
  EXPECT_EQ(Find(CustomerLine(), "SE0000")->type, FieldType::kNumber);
  EXPECT_EQ(Find(*ProviderLayout("dsp_jqsk1"), "KPRQ00")->type,
            FieldType::kDateTime);
}

}  // namespace
}  // namespace skjk::layouts
