#include "exchange/invoice_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/invoice_writeback.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using namespace std::chrono;
using namespace text::literals;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Outcome = IssuedInvoices::Outcome;
using Kind = InvoiceRecord::Kind;

constexpr ImportRules kHeadOffice{.sales_details = false};
constexpr ImportRules kVisitSales{.sales_details = false};
constexpr ImportRules kCustomer{.sales_details = true};

// The GBK file of UTF-8 `lines`, each ended by CR LF.
std::string File(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += text::Utf8ToGbk(line) + "\r\n";
  return out;
}

struct SplitCase {
  const char* name;
  std::string line;  // GBK bytes
  std::vector<std::string> fields;
};

TEST(SplitFieldsTest, SplitsByTheFileRules) {
  const std::string jia = "甲"_gbk, yan = "烟"_gbk;
  const SplitCase cases[] = {
      {"tilde pairs", "a~~b~~c", {"a", "b", "c"}},
      {"three tildes: a comma and one tilde", "a~~~b", {"a", "~b"}},
      {"four tildes: an empty field", "a~~~~b", {"a", "", "b"}},
      {"five tildes", "a~~~~~b", {"a", "", "~b"}},
      {"a single tilde is text", "a~b~", {"a~b~"}},
      {"tildes inside quotes are replaced too", "x~~\"a~~b\"", {"x", "a,b"}},
      {"commas", "a,b,c", {"a", "b", "c"}},
      {"two separators: an empty field", "a,,b", {"a", "", "b"}},
      {"leading separator: empty field 0", "~~a~~b", {"", "a", "b"}},
      {"leading comma after blanks", "  ,a", {"", "a"}},
      {"trailing separator: no empty last field", "a~~b~~", {"a", "b"}},
      {"trailing comma and blanks", "a, \t", {"a"}},
      {"only a separator", "~~", {""}},
      {"empty line", "", {}},
      {"blanks only", " \t\x01\x1f ", {}},
      {"blanks around separators vanish", "  a ,  b  ~~ c ", {"a", "b", "c"}},
      {"a blank inside a value splits it",
       "卷烟 甲~~8"_gbk,
       {"卷烟"_gbk, jia, "8"}},
      {"control bytes are blanks",
       "a\x01"
       "b\x1f"
       "c\x7f",
       {"a", "b", "c\x7f"}},
      {"quoted field keeps commas and blanks", "\"x, y\" ~~z", {"x, y", "z"}},
      {"doubled quotes stand for one",
       "\"say \"\"hi\"\"\",b",
       {"say \"hi\"", "b"}},
      {"empty quoted field", "\"\",b", {"", "b"}},
      {"only doubled quotes", "\"\"\"\"", {"\""}},
      {"text right after the closing quote is the next field",
       "\"ab\"cd,e",
       {"ab", "cd", "e"}},
      {"a quote inside a field is text", "a\"b\",c", {"a\"b\"", "c"}},
      {"unclosed quote takes the rest of the line",
       "a,\"b, c  ",
       {"a", "b, c  "}},
      {"unclosed quote keeps doubled quotes as one", "\"b\"\"c", {"b\"c"}},
      {"GBK text", "x~~卷烟甲~~12.5"_gbk, {"x", "卷烟甲"_gbk, "12.5"}},
      {"second byte 0x7E then a tilde pair", "\x81\x7E~~b", {"\x81\x7E", "b"}},
      {"second byte 0x7E and one tilde make no pair",
       "\x81\x7E~b",
       {"\x81\x7E~b"}},
      {"second byte 0x7E, three tildes", "a\x81\x7E~~~b", {"a\x81\x7E", "~b"}},
      {"second byte 0x2C is no comma", "\x81,b,c", {"\x81,b", "c"}},
      {"second byte 0x22 closes no quote", "\"\x81\"x\",y", {"\x81\"x", "y"}},
      {"second byte 0x20 is no blank", "\x81 b c", {"\x81 b", "c"}},
      {"a lead byte at the end stands alone",
       "a~~" + yan.substr(0, 1),
       {"a", yan.substr(0, 1)}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_THAT(exchange::SplitFields(c.line), ElementsAreArray(c.fields))
        << c.name;
  }
}

struct LinesCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> texts;
  std::vector<int> file_lines;
};

TEST(SplitFileLinesTest, BreaksCommentsAndNul) {
  const LinesCase cases[] = {
      {"CR LF, CR and LF alone",
       "a\r\nb\rc\nd",
       {"a", "b", "c", "d"},
       {1, 2, 3, 4}},
      {"a break at the end adds no line", "a\r\n", {"a"}, {1}},
      {"an empty line between two breaks", "a\r\n\r\n", {"a", ""}, {1, 2}},
      {"LF then CR: two breaks", "a\n\rb", {"a", "", "b"}, {1, 2, 3}},
      {"CR CR LF", "a\r\r\nb", {"a", "", "b"}, {1, 2, 3}},
      {"NUL ends the text",
       std::string("a\r\nb\0c\r\nd", 9),
       {"a", "b"},
       {1, 2}},
      {"empty", "", {}, {}},
      {"comment lines removed, numbers kept",
       "//x\r\nSJJK0201\r\n//\r\n1\r\n",
       {"SJJK0201", "1"},
       {2, 4}},
      {"a blank before // is no comment", " //x\r\n/x", {" //x", "/x"}, {1, 2}},
      {"comment lines only", "//a\n//b", {}, {}},
      {"a lead byte before CR LF", "\x81\r\nb", {"\x81", "b"}, {1, 2}},
  };
  for (const LinesCase& c : cases) {
    std::vector<std::string> texts;
    std::vector<int> numbers;
    for (const exchange::FileLine& line : exchange::SplitFileLines(c.bytes)) {
      texts.emplace_back(line.text);
      numbers.push_back(line.file_line);
    }
    EXPECT_THAT(texts, ElementsAreArray(c.texts)) << c.name;
    EXPECT_THAT(numbers, ElementsAreArray(c.file_lines)) << c.name;
  }
}

TEST(ValuePredicatesTest, NumbersDatesAndTexts) {
  EXPECT_EQ(exchange::ParseWholeNumber("0"), 0);
  EXPECT_EQ(exchange::ParseWholeNumber("+12"), 12);
  EXPECT_EQ(exchange::ParseWholeNumber("-3"), -3);
  EXPECT_EQ(exchange::ParseWholeNumber("2147483647"), 2147483647);
  EXPECT_EQ(exchange::ParseWholeNumber("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "+", "-", "2147483648", "99999999999999999999",
                          "1.0", "0x1F", "$1F", "1 ", " 1", "1e3", "--1"}) {
    EXPECT_EQ(exchange::ParseWholeNumber(bad), std::nullopt) << bad;
  }

  EXPECT_EQ(exchange::ParseFileDay("20240229"), year{2024} / February / 29);
  EXPECT_EQ(exchange::ParseFileDay("00010101"), year{1} / January / 1);
  for (const char* bad :
       {"20230229", "20240230", "20241301", "20240001", "20240100", "00000101",
        "2024011", "202401150", "2024-1-1", "+2024011", ""}) {
    EXPECT_EQ(exchange::ParseFileDay(bad), std::nullopt) << bad;
  }

  for (const char* good : {"0", "101", "12.5", "-3", "+8", "007.250"}) {
    EXPECT_TRUE(exchange::IsPlainNumber(good)) << good;
  }
  for (const char* bad : {"", "-", ".5", "8.", "1.2.3", "1e3", "1E3", "0x10",
                          "101 or 1=1", "101;", "1-1", "--1", "NaN", "１"}) {
    EXPECT_FALSE(exchange::IsPlainNumber(bad)) << bad;
  }

  for (std::string good : {"卷烟甲"_gbk, std::string(), std::string("a'b"),
                           std::string("O'Brien's")}) {
    EXPECT_TRUE(exchange::IsQuotableText(good)) << good;
  }
  // A lead byte whose second byte is a quote, a control byte or missing.
  for (std::string bad :
       {std::string("\x81'"), std::string("a\x81\x7f"), std::string("a\xfe"),
        std::string("\x81\x20"
                    "b"),
        std::string("a\0b", 3)}) {
    EXPECT_FALSE(exchange::IsQuotableText(bad)) << bad;
  }
}

// The texts the import writes back (invoice book and number, product name)
// must be whole GBK text: a byte 0x81..0xFE starts a two-byte character
// whose second byte is 0x40..0xFE other than 0x7F; 0x80 and 0xFF are
// characters of their own. The bounds, through the reading of the file and
// through the write-back's statements.
TEST(WholeGbkTextTest, LeadAndTrailByteBounds) {
  const struct {
    std::string text;
    bool whole;
  } cases[] = {
      {"\x81\x3f", false},  {"\x81\x40", true},  {"\x81\x7e", true},
      {"\x81\x7f", false},  {"\x81\x80", true},  {"\x81\xfe", true},
      {"\x81\xff", false},  {"\xfe\x3f", false}, {"\xfe\x40", true},
      {"\xfe\x7e", true},   {"\xfe\x7f", false}, {"\xfe\x80", true},
      {"\xfe\xfe", true},   {"\xfe\xff", false}, {"\x81'", false},
      {"a\x81\x40z", true}, {"\x80\x3f", true},  {"\xff\x3f", true},
      {"\x80", true},       {"\xff", true},      {"a\x81", false},
      {"a\xfe", false},
  };
  const ImportRules line{.sales_details = true,
                         .sales_table = "XSTJQSK1",
                         .detail_table = "XSTJQSK2",
                         .void_table = "XSTBFFP1"};
  for (const auto& c : cases) {
    std::string hex;
    for (unsigned char b : c.text) {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      hex += {' ', kDigits[b >> 4], kDigits[b & 15]};
    }
    SCOPED_TRACE("bytes" + hex);
    EXPECT_EQ(exchange::IsQuotableText(c.text), c.whole);

    // The write-back: invoice number and product name.
    InvoiceRecord record;
    record.book = "110012";
    record.number = c.text;
    record.date = "20240115";
    record.document = "101";
    record.details = {{"P", "1", 0}};
    Result<std::vector<std::string>> number =
        InvoiceWriteBack::Statements(line, record);
    record.number = "N";
    record.details[0].product = c.text;
    Result<std::vector<std::string>> product =
        InvoiceWriteBack::Statements(line, record);
    if (c.whole) {
      EXPECT_EQ(number.ok() ? (*number)[0] : number.status().message(),
                "update XSTJQSK1 set FPBBH0='110012',FPHAO0='" + c.text +
                    "',KPRQ00=TO_DATE('20240115','YYYYMMDD') where DHAO00=101");
      EXPECT_EQ(product.ok() ? (*product)[1] : product.status().message(),
                "update XSTJQSK2 set SE0000=1 where DHAO00=101 and SPMC00='" +
                    c.text + "'");
    } else {
      EXPECT_EQ(number.status().message(),
                "invoice number is no whole GBK text");
      EXPECT_EQ(product.status().message(),
                "product name is no whole GBK text");
    }

    // The reading, where the text ends in a character of its own (a lead
    // byte at the end of a field would take the separator's tilde).
    if (text::IsGbkLeadByte(static_cast<unsigned char>(c.text.back()))) {
      continue;
    }
    std::string file = "SJJK0201\r\n1~~20240101~~20240131\r\n";
    file += "0~~x~~x~~110012~~" + c.text + "~~1~~20240115~~x~~101\r\n";
    file += "x~~" + c.text + "~~x~~x~~x~~x~~x~~1\r\n";
    const IssuedInvoices read = ReadIssuedInvoices(line, file);
    if (c.whole) {
      EXPECT_EQ(read.outcome, Outcome::kRead) << read.status.message();
      if (read.records.size() == 1 && read.records[0].details.size() == 1) {
        EXPECT_EQ(read.records[0].number, c.text);
        EXPECT_EQ(read.records[0].details[0].product, c.text);
      } else {
        ADD_FAILURE() << "not one record with one detail line";
      }
    } else {
      EXPECT_EQ(read.outcome, Outcome::kFailed);
      EXPECT_EQ(read.status.message(), "line 3: invoice number (field 4) \"" +
                                           c.text + "\" is no whole GBK text");
    }
  }
}

// The worked example of the import.
std::string ExampleFile() {
  return File({"//发票", "SJJK0201", "2~~20240101~~20240131",
               "0~~x~~x~~110012~~0001234~~2~~20240115~~x~~101",
               "x~~卷烟甲~~x~~x~~x~~x~~x~~12.5", "x~~卷烟乙~~x~~x~~x~~x~~x~~8",
               "1~~x~~x~~110012~~0001235~~0~~20240116~~x~~102"});
}

void ExpectExampleFrame(const IssuedInvoices& read) {
  ASSERT_EQ(read.outcome, Outcome::kRead) << read.status.message();
  EXPECT_TRUE(read.status.ok());
  EXPECT_EQ(read.first_day, year{2024} / January / 1);
  EXPECT_EQ(read.last_day, year{2024} / January / 31);
  EXPECT_EQ(read.record_count, 2);
  ASSERT_EQ(read.records.size(), 2u);
  const InvoiceRecord& sales = read.records[0];
  EXPECT_EQ(sales.kind, Kind::kSales);
  EXPECT_EQ(sales.book, "110012");
  EXPECT_EQ(sales.number, "0001234");
  EXPECT_EQ(sales.detail_count, 2);
  EXPECT_EQ(sales.document, "101");
  EXPECT_EQ(sales.file_line, 4);
  const InvoiceRecord& void_record = read.records[1];
  EXPECT_EQ(void_record.kind, Kind::kVoid);
  EXPECT_EQ(void_record.book, "110012");
  EXPECT_EQ(void_record.number, "0001235");
  EXPECT_EQ(void_record.detail_count, 0);
  EXPECT_EQ(void_record.date, "");  // a void record's date is not read
  EXPECT_EQ(void_record.document, "102");
  EXPECT_EQ(void_record.file_line, 7);
  EXPECT_TRUE(void_record.details.empty());
}

TEST(ReadIssuedInvoicesTest, WorkedExampleHeadOfficeAndVisitSales) {
  for (const ImportRules& line : {kHeadOffice, kVisitSales}) {
    IssuedInvoices read = ReadIssuedInvoices(line, ExampleFile());
    ExpectExampleFrame(read);
    ASSERT_EQ(read.records.size(), 2u);
    EXPECT_EQ(read.records[0].date, "");  // field 6 is not read
    EXPECT_TRUE(read.records[0].details.empty());
  }
}

TEST(ReadIssuedInvoicesTest, WorkedExampleCustomer) {
  IssuedInvoices read = ReadIssuedInvoices(kCustomer, ExampleFile());
  ExpectExampleFrame(read);
  ASSERT_EQ(read.records.size(), 2u);
  const InvoiceRecord& sales = read.records[0];
  EXPECT_EQ(sales.date, "20240115");
  ASSERT_EQ(sales.details.size(), 2u);
  EXPECT_EQ(sales.details[0].product, "卷烟甲"_gbk);
  EXPECT_EQ(sales.details[0].tax, "12.5");
  EXPECT_EQ(sales.details[0].file_line, 5);
  EXPECT_EQ(sales.details[1].product, "卷烟乙"_gbk);
  EXPECT_EQ(sales.details[1].tax, "8");
  EXPECT_EQ(sales.details[1].file_line, 6);
}

// Files that are read: the documents of their records in order, and for the
// customer line the products of the details of each record.
struct ReadCase {
  const char* name;
  ImportRules line;
  std::string file;
  int record_count;
  std::vector<std::string> documents;
  std::vector<std::string> products;  // of all records, GBK
};

TEST(ReadIssuedInvoicesTest, FilesThatAreRead) {
  const std::string rec0 = "0~~x~~x~~B~~N~~0~~20240115~~x~~";
  const ReadCase cases[] = {
      {"header and summary only",
       kCustomer,
       File({"SJJK0201", "0~~20240101~~20240131"}),
       0,
       {},
       {}},
      {"header with further fields; quoted fields",
       kHeadOffice,
       File({"SJJK0201~~x~~y", "\"1\",\"20240101\",20240131",
             "\"0\",x,x,B,N,0,d,x,\"7\""}),
       1,
       {"7"},
       {}},
      {"summary dates longer than eight characters",
       kHeadOffice,
       File({"SJJK0201", "0~~20240101xyz~~20240131235959"}),
       0,
       {},
       {}},
      {"the record count limits nothing",
       kVisitSales,
       File({"SJJK0201", "1~~20240101~~20240131", rec0 + "1", rec0 + "2",
             rec0 + "3"}),
       1,
       {"1", "2", "3"},
       {}},
      {"comment lines anywhere",
       kCustomer,
       File({"//a", "SJJK0201", "//b", "1~~20240101~~20240131", "//c",
             "0~~x~~x~~B~~N~~1~~20240115~~x~~5", "//d",
             "x~~卷烟甲~~x~~x~~x~~x~~x~~1"}),
       1,
       {"5"},
       {"卷烟甲"_gbk}},
      {"no break after the last line",
       kHeadOffice,
       "SJJK0201\r\n0~~20240101~~20240131\r\n" + rec0 + "9",
       0,
       {"9"},
       {}},
      {"head office: detail lines passed over unread",
       kHeadOffice,
       File({"SJJK0201", "1~~20240101~~20240131",
             "0~~x~~x~~B~~N~~3~~baddate~~x~~1", "", "   ", "x'y~~z",
             rec0 + "2"}),
       1,
       {"1", "2"},
       {}},
      {"head office: the last record's details run past the end",
       kHeadOffice,
       File({"SJJK0201", "1~~20240101~~20240131", rec0 + "1",
             "0~~x~~x~~B~~N~~5~~x~~x~~2", "x"}),
       1,
       {"1", "2"},
       {}},
      {"visit sales: a huge detail count ends the walk",
       kVisitSales,
       File({"SJJK0201", "1~~20240101~~20240131",
             "0~~x~~x~~B~~N~~2147483647~~x~~x~~2"}),
       1,
       {"2"},
       {}},
      {"customer: a void record's details passed over unread",
       kCustomer,
       File({"SJJK0201", "1~~20240101~~20240131",
             "1~~x~~x~~B~~N~~2~~baddate~~x~~3", "", "x'y", rec0 + "4"}),
       1,
       {"3", "4"},
       {}},
      {"customer: a void record's details run past the end",
       kCustomer,
       File({"SJJK0201", "1~~20240101~~20240131",
             "void~~x~~x~~B~~N~~4~~x~~x~~3", "x"}),
       1,
       {"3"},
       {}},
      {"customer: a sales record without detail lines",
       kCustomer,
       File({"SJJK0201", "1~~20240101~~20240131", rec0 + "6"}),
       1,
       {"6"},
       {}},
      {"values of plain-number form",
       kCustomer,
       File({"SJJK0201", "1~~20240101~~20240131",
             "0~~x~~x~~B~~N~~1~~20240115~~x~~-12.50",
             "x~~\"卷烟 甲\"~~x~~x~~x~~x~~x~~+0.5"}),
       1,
       {"-12.50"},
       {"卷烟 甲"_gbk}},
  };
  for (const ReadCase& c : cases) {
    IssuedInvoices read = ReadIssuedInvoices(c.line, c.file);
    ASSERT_EQ(read.outcome, Outcome::kRead)
        << c.name << ": " << read.status.message();
    EXPECT_EQ(read.record_count, c.record_count) << c.name;
    std::vector<std::string> documents, products;
    for (const InvoiceRecord& record : read.records) {
      documents.push_back(record.document);
      for (const InvoiceDetail& detail : record.details) {
        products.push_back(detail.product);
      }
    }
    EXPECT_THAT(documents, ElementsAreArray(c.documents)) << c.name;
    EXPECT_THAT(products, ElementsAreArray(c.products)) << c.name;
  }
}

// Files that are refused or fail: the outcome, a part of the message, and
// which of the summary dates had been read.
struct FailCase {
  const char* name;
  ImportRules line;
  std::string file;
  Outcome outcome;
  std::string message;
  bool first_day, last_day;
};

TEST(ReadIssuedInvoicesTest, FilesThatFail) {
  const std::string head = "SJJK0201\r\n1~~20240101~~20240131\r\n";
  const std::string rec0 = "0~~x~~x~~B~~N~~0~~20240115~~x~~1";
  const Outcome kFailed = Outcome::kFailed;
  const FailCase cases[] = {
      {"empty file", kHeadOffice, "", kFailed, "no line", false, false},
      {"a NUL first", kHeadOffice, std::string("\0SJJK0201\r\n", 11), kFailed,
       "no line", false, false},
      {"comment lines only", kHeadOffice, File({"//a", "//SJJK0201"}), kFailed,
       "no line", false, false},
      {"empty header line", kHeadOffice, File({"", "1~~20240101~~20240131"}),
       kFailed, "line 1: the header line is empty", false, false},
      {"header of blanks and a comment before it", kHeadOffice,
       File({"//x", " \t", "1~~20240101~~20240131"}), kFailed,
       "line 2: the header line is empty", false, false},
      {"header in other letter case", kHeadOffice,
       File({"sjjk0201", "1~~20240101~~20240131"}), Outcome::kNotInvoiceFile,
       "line 1: the header is \"sjjk0201\"", false, false},
      {"header with more characters", kCustomer,
       File({"SJJK02011", "1~~20240101~~20240131"}), Outcome::kNotInvoiceFile,
       "SJJK02011", false, false},
      {"the export's header", kVisitSales, File({"SJJK0101"}),
       Outcome::kNotInvoiceFile, "SJJK0101", false, false},
      {"a blank before a comment makes no comment", kHeadOffice,
       File({" //x", "SJJK0201"}), Outcome::kNotInvoiceFile, "//x", false,
       false},
      {"header only", kHeadOffice, File({"SJJK0201"}), kFailed,
       "line 1: the file ends after the header line", false, false},
      {"empty summary line", kHeadOffice, File({"SJJK0201", ""}), kFailed,
       "line 2: field 0 missing", false, false},
      {"record count not a number", kHeadOffice,
       File({"SJJK0201", "two~~20240101~~20240131"}), kFailed,
       "record count \"two\" is no whole number", false, false},
      {"record count empty", kHeadOffice,
       File({"SJJK0201", "~~20240101~~20240131"}), kFailed,
       "record count \"\" is no whole number", false, false},
      {"first date 30 February", kHeadOffice,
       File({"SJJK0201", "1~~20240230~~20240331"}), kFailed,
       "line 2: date (field 1) \"20240230\"", false, false},
      {"first date too short", kHeadOffice,
       File({"SJJK0201", "1~~2024011~~20240131"}), kFailed, "date (field 1)",
       false, false},
      {"first date missing", kHeadOffice, File({"SJJK0201", "1"}), kFailed,
       "line 2: field 1 missing", false, false},
      {"last date 30 February", kHeadOffice,
       File({"SJJK0201", "1~~20240101~~20240230"}), kFailed,
       "date (field 2) \"20240230\"", true, false},
      {"last date missing", kHeadOffice, File({"SJJK0201", "1~~20240101"}),
       kFailed, "field 2 missing", true, false},
      {"negative record count, after the dates", kHeadOffice,
       File({"SJJK0201", "-1~~20240101~~20240131"}), kFailed,
       "record count -1 is below 0", true, true},
      {"empty line where a record is expected", kHeadOffice,
       head + rec0 + "\r\n\r\n" + rec0 + "\r\n", kFailed,
       "line 4: empty line where a record is expected", true, true},
      {"a line of blanks where a record is expected", kCustomer,
       head + " \t \r\n", kFailed, "line 3: empty line", true, true},
      {"a further empty line after the last break", kVisitSales,
       head + rec0 + "\r\n\r\n", kFailed, "line 4: empty line", true, true},
      {"a blank before // where a record is expected", kHeadOffice,
       head + " //note\r\n", kFailed, "line 3: field 5 missing", true, true},
      {"record with too few fields", kHeadOffice,
       head + "0~~x~~x~~B~~N~~0~~20240115~~x\r\n", kFailed,
       "line 3: field 8 missing (the line has 8 fields)", true, true},
      {"a blank inside a value moves the fields", kHeadOffice,
       head + "0~~x~~x~~B~~N~~0~~20240115~~x y~~1\r\n", kFailed,
       "document number (field 8) \"y\"", true, true},
      {"detail count not a number", kHeadOffice,
       head + "0~~x~~x~~B~~N~~two~~20240115~~x~~1\r\n", kFailed,
       "detail-line count (field 5) \"two\" is no whole number", true, true},
      {"negative detail count", kHeadOffice,
       head + rec0 + "\r\n0~~x~~x~~B~~N~~-1~~20240115~~x~~2\r\n", kFailed,
       "line 4: detail-line count (field 5) -1 is below 0", true, true},
      {"document number not a number", kVisitSales,
       head + "0~~x~~x~~B~~N~~0~~20240115~~x~~\"1 or 1=1\"\r\n", kFailed,
       "line 3: document number (field 8) \"1 or 1=1\" is no plain decimal",
       true, true},
      {"document number empty", kHeadOffice,
       head + "0~~x~~x~~B~~N~~0~~20240115~~x~~~~x\r\n", kFailed,
       "document number (field 8) \"\"", true, true},
      {"a broken character in the invoice book number", kHeadOffice,
       head + "1~~x~~x~~B\x81'~~N~~0~~20240115~~x~~1\r\n", kFailed,
       "invoice book number (field 3) \"B\x81'\" is no whole GBK text", true,
       true},
      {"a broken character in the invoice number", kCustomer,
       head + "1~~x~~x~~B~~N\x81\x7f~~0~~20240115~~x~~1\r\n", kFailed,
       "invoice number (field 4)", true, true},
      {"customer: invoice date 30 February", kCustomer,
       head + "0~~x~~x~~B~~N~~0~~20240230~~x~~1\r\n", kFailed,
       "line 3: invoice date (field 6) \"20240230\"", true, true},
      {"customer: invoice date of nine characters", kCustomer,
       head + "0~~x~~x~~B~~N~~0~~202401150~~x~~1\r\n", kFailed,
       "invoice date (field 6)", true, true},
      {"customer: sales record's details run past the end", kCustomer,
       head + "0~~x~~x~~B~~N~~2~~20240115~~x~~1\r\n"
              "x~~a~~x~~x~~x~~x~~x~~1\r\n",
       kFailed, "line 3: the record has 2 detail lines, the file ends after 1",
       true, true},
      {"customer: a huge detail count", kCustomer,
       head + "0~~x~~x~~B~~N~~2147483647~~20240115~~x~~1\r\n", kFailed,
       "the file ends after 0", true, true},
      {"customer: an empty detail line", kCustomer,
       head + "0~~x~~x~~B~~N~~1~~20240115~~x~~1\r\n\r\n", kFailed,
       "line 4: field 1 missing", true, true},
      {"customer: a detail line with seven fields", kCustomer,
       head + "0~~x~~x~~B~~N~~1~~20240115~~x~~1\r\nx~~a~~x~~x~~x~~x~~x\r\n",
       kFailed, "line 4: field 7 missing", true, true},
      {"customer: a broken character in the product name", kCustomer,
       head + "0~~x~~x~~B~~N~~1~~20240115~~x~~1\r\nx~~a\x81\x7f~~x~~x~~x~~x~~x~"
              "~1\r\n",
       kFailed, "line 4: product name (field 1)", true, true},
      {"customer: tax amount not a number", kCustomer,
       head +
           "0~~x~~x~~B~~N~~1~~20240115~~x~~1\r\nx~~a~~x~~x~~x~~x~~x~~1-1\r\n",
       kFailed, "line 4: tax amount (field 7) \"1-1\"", true, true},
  };
  for (const FailCase& c : cases) {
    IssuedInvoices read = ReadIssuedInvoices(c.line, c.file);
    EXPECT_EQ(read.outcome, c.outcome) << c.name;
    EXPECT_FALSE(read.status.ok()) << c.name;
    EXPECT_THAT(read.status.message(), HasSubstr(c.message)) << c.name;
    EXPECT_TRUE(read.records.empty()) << c.name;
    EXPECT_EQ(read.first_day.has_value(), c.first_day) << c.name;
    EXPECT_EQ(read.last_day.has_value(), c.last_day) << c.name;
  }
}

}  // namespace
}  // namespace skjk
