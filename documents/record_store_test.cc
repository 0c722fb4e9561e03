#include "documents/record_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <variant>

#include "wire/layouts.h"

namespace skjk {
namespace {

// DHAO00 number, DWMC00 text 50, the lines SPMC00 text 30 and SL0000.
const layouts::Layout& SmallLayout() {
  static const layouts::Layout layout = {
      {"DHAO00", FieldType::kNumber, 0, {}},
      {"DWMC00", FieldType::kText, 50, {}},
      {"qry_x",
       FieldType::kNested,
       0,
       {{"SPMC00", FieldType::kText, 30, {}},
        {"SL0000", FieldType::kNumber, 0, {}}}},
  };
  return layout;
}

std::string TextOf(const CellValue& v) {
  const auto* s = std::get_if<std::string_view>(&v);
  return s != nullptr ? std::string(*s) : "<not a text>";
}

// Appends documents 0..n-1, each with `lines` lines; customers and goods
// repeat (ten of each), as in real data.
bool Fill(RecordStore* store, int n, int lines) {
  for (int d = 0; d < n; ++d) {
    if (!store->AddRecord()) return false;
    store->SetNumber(0, d);
    if (!store->SetText(1, "customer " + std::to_string(d % 10))) return false;
    const uint32_t first = store->line_count();
    for (int l = 0; l < lines; ++l) {
      if (!store->AddLine()) return false;
      if (!store->SetLineText(0, "goods " + std::to_string((d + l) % 10)))
        return false;
      store->SetLineNumber(1, l);
    }
    store->SetLines(first);
  }
  return true;
}

TEST(RecordStoreTest, KeepsEveryValueAcrossBlocks) {
  auto budget = std::make_shared<MemoryBudget>(size_t{1} << 30);
  RecordStore store(&SmallLayout(), budget);
  const int n = 3 * RecordStore::kBlockSlots + 5;
  ASSERT_TRUE(Fill(&store, n, 3));
  ASSERT_EQ(store.size(), static_cast<uint32_t>(n));
  for (int d : {0, 1, 4095, 4096, 8191, n - 1}) {
    SCOPED_TRACE(d);
    EXPECT_EQ(std::get<double>(store.Get(d, 0)), d);
    EXPECT_EQ(TextOf(store.Get(d, 1)), "customer " + std::to_string(d % 10));
    const LineRun run = store.Lines(d);
    ASSERT_EQ(run.count, 3u);
    EXPECT_EQ(run.first, static_cast<uint32_t>(3 * d));
    for (uint32_t l = 0; l < run.count; ++l) {
      EXPECT_EQ(TextOf(store.GetLine(run.first + l, 0)),
                "goods " + std::to_string((d + l) % 10));
      EXPECT_EQ(std::get<double>(store.GetLine(run.first + l, 1)), l);
    }
  }
  // Twenty distinct texts held once each: the memory grows with the slots,
  // not with the number of texts stored.
  EXPECT_LT(store.memory(), size_t{n} * (16 + 3 * 16) + (size_t{1} << 20));
  EXPECT_EQ(budget->used(), store.memory());
}

TEST(RecordStoreTest, TextsSharingAHashStayApart) {
  // Two texts of one hash: the table finds both at the same place and must
  // tell them apart by their bytes. Stored in either order, each reads
  // back as itself, also when it comes again.
  const std::string a = "40189";
  const std::string b = "797186";
  ASSERT_EQ(HashText(a), HashText(b))
      << "the hash changed; pick two texts that share the new one";
  for (const auto& [first, second] : {std::pair{a, b}, std::pair{b, a}}) {
    SCOPED_TRACE(first + " then " + second);
    RecordStore store(&SmallLayout(), nullptr);
    for (const std::string& text : {first, second, first, second}) {
      ASSERT_TRUE(store.AddRecord());
      ASSERT_TRUE(store.SetText(1, text));
    }
    for (uint32_t r = 0; r < store.size(); ++r) {
      EXPECT_EQ(TextOf(store.Get(r, 1)), r % 2 == 0 ? first : second) << r;
    }
  }
}

TEST(RecordStoreTest, EmptyValuesAreNotZeroOrEmptyTexts) {
  RecordStore store(&SmallLayout(), nullptr);
  ASSERT_TRUE(store.AddRecord());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(store.Get(0, 0)));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(store.Get(0, 1)));
  // A document without a nested value has no lines.
  EXPECT_TRUE(std::holds_alternative<std::monostate>(store.Get(0, 2)));
  EXPECT_EQ(store.Lines(0).count, 0u);

  ASSERT_TRUE(store.AddRecord());
  store.SetNumber(0, 0.0);
  ASSERT_TRUE(store.SetText(1, ""));
  store.SetLines(store.line_count());
  EXPECT_EQ(std::get<double>(store.Get(1, 0)), 0.0);
  EXPECT_EQ(TextOf(store.Get(1, 1)), "");
  EXPECT_EQ(std::get<LineRun>(store.Get(1, 2)).count, 0u);

  // A NaN that arrives is a number, not an empty value.
  ASSERT_TRUE(store.AddRecord());
  store.SetNumber(0, std::nan("7"));
  EXPECT_TRUE(std::isnan(std::get<double>(store.Get(2, 0))));
}

TEST(RecordStoreTest, RefusedMemoryLeavesTheStoreAsItWas) {
  // Enough for a few blocks only.
  auto budget = std::make_shared<MemoryBudget>(size_t{300} << 10);
  RecordStore store(&SmallLayout(), budget);
  EXPECT_FALSE(Fill(&store, 100000, 5));
  const uint32_t records = store.size();
  const uint32_t lines = store.line_count();
  EXPECT_GT(records, 0u);
  EXPECT_LE(budget->used(), budget->limit());
  // What was stored before the refusal reads back whole.
  EXPECT_EQ(std::get<double>(store.Get(records - 1, 0)), records - 1);
  // A refused text changes nothing either.
  const std::string long_text(2000, 'x');
  for (int i = 0; i < 1000 && store.SetText(1, long_text + std::to_string(i));
       ++i) {
  }
  EXPECT_EQ(store.size(), records);
  EXPECT_EQ(store.line_count(), lines);
  EXPECT_LE(budget->used(), budget->limit());
}

TEST(RecordStoreTest, FreedInStepsAndOnDestructionGivesTheBudgetBack) {
  auto budget = std::make_shared<MemoryBudget>(size_t{1} << 30);
  {
    RecordStore store(&SmallLayout(), budget);
    ASSERT_TRUE(Fill(&store, 50000, 5));
    ASSERT_GT(budget->used(), size_t{1} << 20);
    store.Truncate(10, 50);
    EXPECT_EQ(store.size(), 10u);
    EXPECT_EQ(store.line_count(), 50u);
    int steps = 0;
    while (store.FreeSome(4)) ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_EQ(store.size(), 0u);
    EXPECT_EQ(budget->used(), 0u);
  }
  EXPECT_EQ(budget->used(), 0u);
  {
    RecordStore store(&SmallLayout(), budget);
    ASSERT_TRUE(Fill(&store, 1000, 2));
  }
  EXPECT_EQ(budget->used(), 0u);
}

}  // namespace
}  // namespace skjk
