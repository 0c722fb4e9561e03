#include "tools/taxsim/taxsim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/invoice_file.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk::taxsim {
namespace {

using namespace std::chrono;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Outcome = IssuedInvoices::Outcome;

constexpr ImportRules kHeadOffice{
    .sales_details = false};  // the visit-sales line reads alike
constexpr ImportRules kCustomer{.sales_details = true};

// The GBK file of UTF-8 `lines`, each ended by CR LF.
std::string File(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += text::Utf8ToGbk(line) + "\r\n";
  return out;
}

// The sales file of the export's example, with a third document without
// goods lines.
const std::vector<std::string> kSales = {
    "SJJK0101~~销售单据传入~~2024年01月15日至2024年01月16日",
    "//单据",
    "101~~2~~第一商店~~370102123456789~~东大街1号~~工商银行东街支行1602001234~"
    "~月结~~复核甲~~业务员甲~~~~20240115",
    "卷烟甲~~条~~84mm~~10~~450~~0.17~~卷烟",
    "卷烟乙~~条~~84mm~~5~~137.5~~0.17~~卷烟",
    "//单据",
    "103~~1~~第二商店~~370102987654321~~西大街2号~~农业银行西街支行2001009876~"
    "~~~复核甲~~业务员乙~~~~20240116",
    "卷烟甲~~条~~84mm~~2~~90~~0.13~~卷烟",
    "//单据",
    "106~~0~~第三商店~~370102555555555~~南大街3号~~建设银行南街支行3003005555~"
    "~~~复核甲~~业务员丙~~~~20240116",
};

const std::vector<std::string> kSalesAnswer = {
    "SJJK0201",
    "3~~20240115~~20240116",
    "0~~第一商店~~370102123456789~~110012~~00000001~~2~~20240115~~587.5~~101",
    "1~~卷烟甲~~条~~84mm~~10~~450~~0.17~~76.5",
    "2~~卷烟乙~~条~~84mm~~5~~137.5~~0.17~~23.38",
    "0~~第二商店~~370102987654321~~110012~~00000002~~1~~20240116~~90~~103",
    "1~~卷烟甲~~条~~84mm~~2~~90~~0.13~~11.7",
    "0~~第三商店~~370102555555555~~110012~~00000003~~0~~20240116~~0~~106",
};

const std::vector<std::string> kVoid = {
    "SJJK0102~~作废销售单据传入~~2024年01月15日至2024年01月16日",
    "//单据",
    "102",
    "//单据",
    "105",
};

const std::vector<std::string> kVoidAnswer = {
    "SJJK0201",
    "2~~20240115~~20240116",
    "1~~~~~~110012~~00000001~~0~~20240116~~~~102",
    "1~~~~~~110012~~00000002~~0~~20240116~~~~105",
};

text::Day Ymd(int y, unsigned m, unsigned d) {
  return year{y} / month{m} / day{d};
}

std::string Answered(const std::vector<std::string>& input,
                     const Options& options = {}) {
  Result<std::string> answer = Answer(File(input), options);
  EXPECT_TRUE(answer.ok()) << text::GbkToUtf8(answer.status().message());
  return answer.ok() ? *answer : "";
}

struct AnswerCase {
  const char* name;
  std::vector<std::string> input;
  Options options;
  std::vector<std::string> answer;
};

TEST(TaxsimAnswerTest, WritesTheIssuedInvoiceFile) {
  Options numbered;
  numbered.book = "110099";
  numbered.start = 99999999;
  Options dated;
  dated.date = Ymd(2024, 2, 1);
  dated.first = Ymd(2024, 1, 1);
  dated.last = Ymd(2024, 1, 31);
  Options ranged;
  ranged.first = Ymd(2024, 3, 1);
  ranged.last = Ymd(2024, 3, 2);
  const AnswerCase cases[] = {
      {"sales file of the export's example", kSales, {}, kSalesAnswer},
      {"void file of the export's example", kVoid, {}, kVoidAnswer},
      {"book and start number; numbers past eight digits grow",
       kVoid,
       numbered,
       {"SJJK0201", "2~~20240115~~20240116",
        "1~~~~~~110099~~99999999~~0~~20240116~~~~102",
        "1~~~~~~110099~~100000000~~0~~20240116~~~~105"}},
      {"invoice date and range for sales",
       {kSales[0], kSales[1], kSales[2], kSales[3], kSales[4]},
       dated,
       {"SJJK0201", "1~~20240101~~20240131",
        "0~~第一商店~~370102123456789~~110012~~00000001~~2~~20240201~~587.5~~"
        "101",
        "1~~卷烟甲~~条~~84mm~~10~~450~~0.17~~76.5",
        "2~~卷烟乙~~条~~84mm~~5~~137.5~~0.17~~23.38"}},
      {"a void record's date is the range end, also when overridden",
       {kVoid[0], kVoid[1], kVoid[2]},
       ranged,
       {"SJJK0201", "1~~20240301~~20240302",
        "1~~~~~~110012~~00000001~~0~~20240302~~~~102"}},
      {"a header without date range, with the range given",
       {"SJJK0102", "//单据", "102"},
       ranged,
       {"SJJK0201", "1~~20240301~~20240302",
        "1~~~~~~110012~~00000001~~0~~20240302~~~~102"}},
      {"header only", {kSales[0]}, {}, {"SJJK0201", "0~~20240115~~20240116"}},
      {"an empty document number keeps its field",
       {kVoid[0], "//单据", ""},
       {},
       {"SJJK0201", "1~~20240115~~20240116",
        "1~~~~~~110012~~00000001~~0~~20240116~~~~\"\""}},
      {"empty rate: tax 0; empty amount and quantity",
       {kSales[0], "//单据", "7~~2~~店~~1~~~~~~~~~~~~~~20240115",
        "卷烟甲~~条~~84mm~~10~~450~~~~", "卷烟乙~~条~~84mm~~~~~~0.17~~"},
       {},
       {"SJJK0201", "1~~20240115~~20240116",
        "0~~店~~1~~110012~~00000001~~2~~20240115~~450~~7",
        "1~~卷烟甲~~条~~84mm~~10~~450~~~~0",
        "2~~卷烟乙~~条~~84mm~~~~~~0.17~~0"}},
      {"values with blanks, commas, tildes and quotes are quoted",
       {kSales[0], "//单据", "8~~1~~第一 商店~~a,b~~~~~~~~~~~~~~20240115",
        "say \"x\"~~~条~~\t~~1~~2~~0.5~~"},
       {},
       {"SJJK0201", "1~~20240115~~20240116",
        "0~~\"第一 商店\"~~\"a,b\"~~110012~~00000001~~1~~20240115~~2~~8",
        "1~~\"say \"\"x\"\"\"~~\"~条\"~~\"\t\"~~1~~2~~0.5~~1"}},
  };
  for (const AnswerCase& c : cases) {
    EXPECT_EQ(text::GbkToUtf8(Answered(c.input, c.options)),
              text::GbkToUtf8(File(c.answer)))
        << c.name;
  }
}

// A GBK character whose second byte is a tilde, a quote or a comma is one
// character to the import: it is neither quoted nor escaped, and the export's
// "~~" right after it is still a separator. (The import refuses the last two
// as product names, being no whole GBK text; unit and packing are not read.)
TEST(TaxsimAnswerTest, SecondBytesOfGbkCharactersAreNoSpecials) {
  const std::string tilde = "\x81\x7E", quote = "\x81\x22", comma = "\x81,";
  std::string input = File({kSales[0], "//单据"}) + "9~~1~~" + tilde +
                      "~~1~~~~~~~~~~~~~~20240115\r\n" + tilde + "~~" + quote +
                      "~~" + comma + "~~1~~2~~0.5~~\r\n";
  Result<std::string> answer = Answer(input, {});
  ASSERT_TRUE(answer.ok()) << answer.status().message();
  EXPECT_THAT(*answer, HasSubstr("0~~" + tilde + "~~1~~110012~~00000001~~1~~"));
  EXPECT_THAT(*answer, HasSubstr("\r\n1~~" + tilde + "~~" + quote + "~~" +
                                 comma + "~~1~~2~~0.5~~1\r\n"));
  IssuedInvoices read = ReadIssuedInvoices(kCustomer, *answer);
  ASSERT_EQ(read.outcome, Outcome::kRead) << read.status.message();
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_EQ(read.records[0].book, "110012");
  ASSERT_EQ(read.records[0].details.size(), 1u);
  EXPECT_EQ(read.records[0].details[0].product, tilde);
  EXPECT_EQ(read.records[0].details[0].tax, "1");
}

struct TaxCase {
  const char* amount;
  const char* rate;
  const char* tax;
};

TEST(TaxsimAnswerTest, TaxIsAmountTimesRateToTwoDecimals) {
  const TaxCase cases[] = {
      {"450", "0.17", "76.5"}, {"137.5", "0.17", "23.38"},
      {"90", "0.13", "11.7"},  {"0.5", "0.01", "0.01"},
      {"0.1", "0.13", "0.01"}, {"-137.5", "0.17", "-23.38"},
      {"2E3", "0.13", "260"},  {"100", "0", "0"},
      {"100", "", "0"},        {"", "0.17", "0"},
      {"1.1", "0.1", "0.11"},  {"12345678.9", "0.17", "2098765.41"},
      {"0.001", "0.17", "0"},  {"-0.01", "0.17", "0"},
  };
  for (const TaxCase& c : cases) {
    std::string input = File(
        {kSales[0], "//单据", "1~~1~~x~~y~~~~~~~~~~~~~~20240115",
         std::string("卷烟~~条~~~~1~~") + c.amount + "~~" + c.rate + "~~"});
    Result<std::string> answer = Answer(input, {});
    ASSERT_TRUE(answer.ok()) << c.amount << " " << c.rate;
    // Read back as the import reads it: a plain number, the same value.
    IssuedInvoices read = ReadIssuedInvoices(kCustomer, *answer);
    ASSERT_EQ(read.outcome, Outcome::kRead)
        << c.amount << " " << c.rate << ": " << read.status.message();
    EXPECT_EQ(read.records.at(0).details.at(0).tax, c.tax)
        << c.amount << " x " << c.rate;
  }
}

// One record as the import read it, in UTF-8.
std::string Describe(const InvoiceRecord& r) {
  std::ostringstream out;
  out << (r.is_sales() ? "sales " : "void ") << r.book << "/" << r.number
      << " n=" << r.detail_count << " date=" << r.date << " doc=" << r.document;
  for (const InvoiceDetail& d : r.details) {
    out << " [" << text::GbkToUtf8(d.product) << " " << d.tax << "]";
  }
  return out.str();
}

struct ReadBackCase {
  const char* name;
  ImportRules line;
  const std::vector<std::string>* input;
  std::vector<std::string> records;
};

TEST(TaxsimReadBackTest, TheImportReadsTheAnswer) {
  const ReadBackCase cases[] = {
      {"head office and visit sales, sales file",
       kHeadOffice,
       &kSales,
       {"sales 110012/00000001 n=2 date= doc=101",
        "sales 110012/00000002 n=1 date= doc=103",
        "sales 110012/00000003 n=0 date= doc=106"}},
      {"customer line, sales file",
       kCustomer,
       &kSales,
       {"sales 110012/00000001 n=2 date=20240115 doc=101 [卷烟甲 76.5] "
        "[卷烟乙 23.38]",
        "sales 110012/00000002 n=1 date=20240116 doc=103 [卷烟甲 11.7]",
        "sales 110012/00000003 n=0 date=20240116 doc=106"}},
      {"head office and visit sales, void file",
       kHeadOffice,
       &kVoid,
       {"void 110012/00000001 n=0 date= doc=102",
        "void 110012/00000002 n=0 date= doc=105"}},
      {"customer line, void file",
       kCustomer,
       &kVoid,
       {"void 110012/00000001 n=0 date= doc=102",
        "void 110012/00000002 n=0 date= doc=105"}},
  };
  for (const ReadBackCase& c : cases) {
    IssuedInvoices read = ReadIssuedInvoices(c.line, Answered(*c.input));
    ASSERT_EQ(read.outcome, Outcome::kRead)
        << c.name << ": " << read.status.message();
    EXPECT_EQ(read.first_day, Ymd(2024, 1, 15)) << c.name;
    EXPECT_EQ(read.last_day, Ymd(2024, 1, 16)) << c.name;
    EXPECT_EQ(read.record_count, static_cast<int>(c.records.size())) << c.name;
    std::vector<std::string> records;
    for (const InvoiceRecord& r : read.records) records.push_back(Describe(r));
    EXPECT_THAT(records, ElementsAreArray(c.records)) << c.name;
  }
}

// Names that the import's field splitting would cut or change unless quoted
// come back unchanged, and the fields after them stay in place.
TEST(TaxsimReadBackTest, QuotedNamesComeBackUnchanged) {
  const char* names[] = {"卷烟 甲",  "卷烟,甲",  "卷烟~甲",  "~卷烟",
                         "\"卷烟\"", "卷\"\"烟", "卷烟\t甲", " 卷烟 "};
  for (const char* name : names) {
    std::string input =
        File({kSales[0], "//单据", "5~~1~~第一 商店~~a,b~~~~~~~~~~~~~~20240115",
              std::string(name) + "~~条 装~~84 mm~~1~~100~~0.17~~卷烟"});
    Result<std::string> answer = Answer(input, {});
    ASSERT_TRUE(answer.ok()) << name;
    IssuedInvoices read = ReadIssuedInvoices(kCustomer, *answer);
    ASSERT_EQ(read.outcome, Outcome::kRead)
        << name << ": " << read.status.message();
    ASSERT_EQ(read.records.size(), 1u) << name;
    EXPECT_EQ(Describe(read.records[0]),
              "sales 110012/00000001 n=1 date=20240115 doc=5 [" +
                  std::string(name) + " 17]")
        << name;
  }
}

struct DamageCase {
  const char* name;
  Damage damage;
  ImportRules line;
  Outcome outcome;
  const char* message;  // part of the failure, for kFailed and refusal
  std::vector<std::string> records;  // for kRead
};

TEST(TaxsimDamageTest, EachKindFailsTheImportAsIntended) {
  const DamageCase cases[] = {
      {"header, head office",
       Damage::kHeader,
       kHeadOffice,
       Outcome::kNotInvoiceFile,
       "line 1: the header is \"SJJK0200\"",
       {}},
      {"header, customer",
       Damage::kHeader,
       kCustomer,
       Outcome::kNotInvoiceFile,
       "line 1: the header is \"SJJK0200\"",
       {}},
      {"date, head office",
       Damage::kDate,
       kHeadOffice,
       Outcome::kFailed,
       "line 2: date (field 1) \"20240230\"",
       {}},
      {"date, customer",
       Damage::kDate,
       kCustomer,
       Outcome::kFailed,
       "line 2: date (field 1) \"20240230\"",
       {}},
      // Detail lines passed over may run past the end: the walk just ends.
      {"truncate, head office",
       Damage::kTruncate,
       kHeadOffice,
       Outcome::kRead,
       "",
       {"sales 110012/00000001 n=2 date= doc=101"}},
      {"truncate, customer",
       Damage::kTruncate,
       kCustomer,
       Outcome::kFailed,
       "line 3: the record has 2 detail lines, the file ends after 1",
       {}},
      // Single quotes are read as they stand: the write-back doubles them.
      {"quote, head office",
       Damage::kQuote,
       kHeadOffice,
       Outcome::kRead,
       "",
       {"sales 110012/0'0000001 n=2 date= doc=101",
        "sales 110012/00000002 n=1 date= doc=103",
        "sales 110012/00000003 n=0 date= doc=106"}},
      {"quote, customer",
       Damage::kQuote,
       kCustomer,
       Outcome::kRead,
       "",
       {"sales 110012/0'0000001 n=2 date=20240115 doc=101 [卷'烟甲 76.5] "
        "[卷烟乙 23.38]",
        "sales 110012/00000002 n=1 date=20240116 doc=103 [卷烟甲 11.7]",
        "sales 110012/00000003 n=0 date=20240116 doc=106"}},
      {"broken, head office",
       Damage::kBroken,
       kHeadOffice,
       Outcome::kFailed,
       "line 3: invoice number (field 4)",
       {}},
      {"broken, customer",
       Damage::kBroken,
       kCustomer,
       Outcome::kFailed,
       "line 3: invoice number (field 4)",
       {}},
  };
  const std::string whole = Answered(kSales);
  for (const DamageCase& c : cases) {
    Options options;
    options.damage = c.damage;
    std::string damaged = Answered(kSales, options);
    EXPECT_NE(damaged, whole) << c.name;
    IssuedInvoices read = ReadIssuedInvoices(c.line, damaged);
    EXPECT_EQ(read.outcome, c.outcome)
        << c.name << ": " << read.status.message();
    std::vector<std::string> records;
    for (const InvoiceRecord& r : read.records) records.push_back(Describe(r));
    EXPECT_THAT(records, ElementsAreArray(c.records)) << c.name;
    if (c.outcome != Outcome::kRead) {
      EXPECT_THAT(text::GbkToUtf8(read.status.message()), HasSubstr(c.message))
          << c.name;
    }
  }
}

// The damaged file is the whole one with only the damaged part changed.
TEST(TaxsimDamageTest, DamagesChangeOnlyTheirPart) {
  const std::vector<std::string>& a = kSalesAnswer;
  const std::string broken = "\x81'";
  auto G = [](std::string_view utf8) { return text::Utf8ToGbk(utf8); };
  struct {
    Damage damage;
    std::string file;
  } cases[] = {
      {Damage::kHeader,
       File({"SJJK0200", a[1], a[2], a[3], a[4], a[5], a[6], a[7]})},
      {Damage::kDate, File({a[0], "3~~20240230~~20240116", a[2], a[3], a[4],
                            a[5], a[6], a[7]})},
      // Document 101 keeps one of its two detail lines; nothing follows.
      {Damage::kTruncate, File({a[0], a[1], a[2], a[3]})},
      {Damage::kQuote,
       File({a[0], a[1],
             "0~~第一商店~~370102123456789~~110012~~0'0000001~~2~~20240115~~"
             "587.5~~101",
             "1~~卷'烟甲~~条~~84mm~~10~~450~~0.17~~76.5", a[4], a[5], a[6],
             a[7]})},
      {Damage::kBroken,
       File({a[0], a[1]}) + G("0~~第一商店~~370102123456789~~110012~~0") +
           broken + "0000001~~2~~20240115~~587.5~~101\r\n" + G("1~~卷") +
           broken + G("烟甲~~条~~84mm~~10~~450~~0.17~~76.5\r\n") +
           File({a[4], a[5], a[6], a[7]})},
  };
  for (const auto& c : cases) {
    Options options;
    options.damage = c.damage;
    EXPECT_EQ(Answered(kSales, options), c.file) << static_cast<int>(c.damage);
  }
}

TEST(TaxsimDamageTest, RefusedWithNothingToDamage) {
  const std::vector<std::string> empty_sales = {kSales[0]};
  const std::vector<std::string> no_goods = {kSales[0], kSales[8], kSales[9]};
  struct {
    const char* name;
    const std::vector<std::string>* input;
    Damage damage;
  } cases[] = {
      {"truncate, void file", &kVoid, Damage::kTruncate},
      {"truncate, no goods lines", &no_goods, Damage::kTruncate},
      {"quote, no document", &empty_sales, Damage::kQuote},
      {"broken, no document", &empty_sales, Damage::kBroken},
  };
  for (const auto& c : cases) {
    Options options;
    options.damage = c.damage;
    Result<std::string> answer = Answer(File(*c.input), options);
    EXPECT_TRUE(answer.status().IsBadInput()) << c.name;
  }
}

struct BadCase {
  const char* name;
  std::vector<std::string> input;
  const char* message;
};

TEST(TaxsimBadInputTest, NamesTheLineAndTheFault) {
  const std::string doc = kSales[2], goods = kSales[3];
  const BadCase cases[] = {
      {"empty file", {}, "line 1: the file is empty"},
      {"an issued-invoice file",
       {"SJJK0201", "0~~20240101~~20240131"},
       "line 1: unknown header \"SJJK0201\""},
      {"header in lower case", {"sjjk0101"}, "line 1: unknown header"},
      {"no date range", {"SJJK0101~~销售单据传入"}, "line 1: no date range"},
      {"30 February in the range",
       {"SJJK0101~~销售单据传入~~2024年02月30日至2024年03月01日"},
       "line 1: no date range"},
      {"no marker line",
       {kSales[0], doc, goods},
       "line 2: expected the marker"},
      {"document line of 10 fields",
       {kSales[0], "//单据", "101~~0~~a~~b~~c~~d~~e~~f~~g~~20240115"},
       "line 3: a document line has 11 fields, this one has 10"},
      {"a field holding \"~~\" shifts the document line",
       {kSales[0], "//单据", "101~~0~~a~~b~~c~~d~~e~~f~~g~~h~~~~20240115"},
       "line 3: a document line has 11 fields, this one has 12"},
      {"goods-line count not a number",
       {kSales[0], "//单据", "101~~two~~a~~b~~c~~d~~e~~f~~g~~~~20240115"},
       "line 3: goods-line count (field 2) \"two\""},
      {"negative goods-line count",
       {kSales[0], "//单据", "101~~-1~~a~~b~~c~~d~~e~~f~~g~~~~20240115"},
       "line 3: goods-line count"},
      {"business date of 30 February",
       {kSales[0], "//单据", "101~~0~~a~~b~~c~~d~~e~~f~~g~~~~20240230"},
       "line 3: business date (field 11) \"20240230\""},
      {"goods line of 8 fields",
       {kSales[0], "//单据", doc, goods + "~~x", goods},
       "line 4: a goods line has 7 fields, this one has 8"},
      {"amount not a number",
       {kSales[0], "//单据", doc, "a~~b~~c~~1~~12x~~0.17~~d", goods},
       "line 4: amount (field 5) \"12x\""},
      {"rate not a number",
       {kSales[0], "//单据", doc, goods, "a~~b~~c~~1~~12~~inf~~d"},
       "line 5: rate (field 6) \"inf\""},
      {"goods lines missing at the end",
       {kSales[0], "//单据", doc, goods},
       "line 5: the file ends before all goods lines of document 101"},
      {"one goods line too many",
       {kSales[0], "//单据", doc, goods, goods, goods},
       "line 6: expected the marker"},
      {"file ends after a marker",
       {kVoid[0], "//单据"},
       "line 3: the file ends after a marker line"},
      {"an empty line between void documents",
       {kVoid[0], "//单据", "102", "", "//单据", "105"},
       "line 4: expected the marker"},
  };
  for (const BadCase& c : cases) {
    Result<std::string> answer = Answer(File(c.input), {});
    ASSERT_FALSE(answer.ok()) << c.name;
    EXPECT_TRUE(answer.status().IsBadInput()) << c.name;
    EXPECT_THAT(text::GbkToUtf8(answer.status().message()),
                HasSubstr(c.message))
        << c.name;
  }
}

TEST(TaxsimAnswerTest, AcceptsLfLinesAndNoBreakAtTheEnd) {
  std::string crlf = File(kVoid);
  std::string lf;
  for (char c : crlf) {
    if (c != '\r') lf += c;
  }
  EXPECT_EQ(*Answer(lf, {}), File(kVoidAnswer));
  EXPECT_EQ(*Answer(crlf.substr(0, crlf.size() - 2), {}), File(kVoidAnswer));
}

// The program itself, run in a folder of its own.
class TaxsimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = skjk::testing::MakeTestDirectory("taxsim");
    ASSERT_FALSE(dir.empty());
    dir_ = dir + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Runs the program with `args` in the folder; its exit code.
  int Run(const std::string& args) {
    std::string command = "cd '" + dir_ + "' && '" SKJK_TAXSIM_PROGRAM "' " +
                          args + " >stdout 2>stderr";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_;
};

TEST_F(TaxsimProgramTest, WritesTheAnswer) {
  Write("sales.txt", File(kSales));
  Write("void.txt", File(kVoid));
  ASSERT_EQ(Run("sales.txt answer.txt"), 0) << Read("stderr");
  EXPECT_EQ(Read("answer.txt"), File(kSalesAnswer));
  ASSERT_EQ(Run("void.txt answer.txt"), 0) << Read("stderr");
  EXPECT_EQ(Read("answer.txt"), File(kVoidAnswer));

  ASSERT_EQ(Run("void.txt answer.txt --book 'A 1' --start 7 --date 20240201 "
                "--first 20240101 --last 20240131"),
            0)
      << Read("stderr");
  Options options;
  options.book = "A 1";
  options.start = 7;
  options.date = Ymd(2024, 2, 1);
  options.first = Ymd(2024, 1, 1);
  options.last = Ymd(2024, 1, 31);
  EXPECT_EQ(Read("answer.txt"), Answered(kVoid, options));

  for (const char* kind : {"header", "date", "truncate", "quote", "broken"}) {
    ASSERT_EQ(Run(std::string("sales.txt answer.txt --damage ") + kind), 0)
        << kind << ": " << Read("stderr");
    options = {};
    options.damage = *ParseDamage(kind);
    EXPECT_EQ(Read("answer.txt"), Answered(kSales, options)) << kind;
  }

  ASSERT_EQ(Run("--help"), 0);
  EXPECT_THAT(Read("stdout"), HasSubstr("usage: skjk-taxsim INPUT OUTPUT"));
}

struct RunCase {
  const char* args;
  int code;
  const char* message;  // part of stderr
};

TEST_F(TaxsimProgramTest, ExitCodesAndMessages) {
  Write("sales.txt", File(kSales));
  Write("bad.txt", File({"SJJK0201", "0~~20240101~~20240131"}));
  Write("goods.txt", File({kSales[0], "//单据", kSales[2], kSales[3]}));
  const RunCase cases[] = {
      {"", 2, "INPUT and OUTPUT are required"},
      {"sales.txt", 2, "INPUT and OUTPUT are required"},
      {"sales.txt a b", 2, "too many arguments"},
      {"sales.txt out --start", 2, "--start needs a value"},
      {"sales.txt out --start x", 2, "--start takes a number"},
      {"sales.txt out --start -1", 2, "--start takes a number"},
      {"sales.txt out --date 20240230", 2, "--date takes a day YYYYMMDD"},
      {"sales.txt out --first 2024011", 2, "--first takes a day"},
      {"sales.txt out --damage nosuch", 2, "unknown damage kind nosuch"},
      {"sales.txt out --bogus 1", 2, "unknown option --bogus"},
      {"missing.txt out", 1, "missing.txt"},
      {"bad.txt out", 1, "bad.txt: line 1: unknown header \"SJJK0201\""},
      {"goods.txt out", 1,
       "line 5: the file ends before all goods lines of document 101"},
      {"sales.txt nofolder/out", 1, "nofolder/out"},
  };
  for (const RunCase& c : cases) {
    EXPECT_EQ(Run(c.args), c.code) << c.args;
    EXPECT_THAT(Read("stderr"), HasSubstr(c.message)) << c.args;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "out")) << c.args;
  }
}

}  // namespace
}  // namespace skjk::taxsim
