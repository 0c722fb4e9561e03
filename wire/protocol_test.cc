#include "wire/protocol.h"

#include <gtest/gtest.h>

#include "testing/row_encoder.h"
#include "text/gbk.h"
#include "wire/chunk_reader.h"

namespace skjk::protocol {
namespace {

using text::literals::operator""_gbk;

const std::vector<FieldDef> kLayout = {
    {"DHAO00", FieldType::kNumber, 0, {}},
    {"DWMC00", FieldType::kText, 50, {}},
    {"YWRQ00", FieldType::kDateTime, 0, {}},
    {"qry_bbsk2",
     FieldType::kNested,
     0,
     {{"DHAO00", FieldType::kNumber, 0, {}},
      {"SPMC00", FieldType::kText, 30, {}}}}};

std::string Chunk(const Rows& rows) {
  std::string body;
  Writer w(&body);
  w.Varint(rows.size());
  for (const Row& r : rows) testing::EncodeRow(kLayout, r, &w);
  return body;
}

TEST(ProtocolTest, RowsRoundTripWithTextsTurnedIntoGbk) {
  Rows lines = {Row{{101.0, std::string("卷烟甲")}}, Row{{101.0, {}}}};
  Rows rows = {Row{{101.0, std::string("杭州烟酒店"), 45306.5, lines}},
               Row{{102.0, {}, {}, Rows{}}}};
  std::string payload = Chunk(rows);
  Rows out;
  RowDecoder decoder;
  ASSERT_TRUE(decoder.DecodeChunk(payload, kLayout, &out).ok());
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(std::get<std::string>(out[0].values[1]), "杭州烟酒店"_gbk);
  EXPECT_EQ(std::get<double>(out[0].values[2]), 45306.5);
  const Rows& l = std::get<Rows>(out[0].values[3]);
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(std::get<std::string>(l[0].values[1]), "卷烟甲"_gbk);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(l[1].values[1]));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(out[1].values[1]));
  EXPECT_TRUE(std::get<Rows>(out[1].values[3]).empty());

  std::string layout;
  Writer w(&layout);
  EncodeLayout(kLayout, &w);
  std::vector<FieldDef> decoded;
  ASSERT_TRUE(DecodeLayout(layout, &decoded).ok());
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_EQ(decoded[3].nested[1].name, "SPMC00");
  EXPECT_EQ(decoded[1].size, 50);
}

TEST(ProtocolTest, DamagedInputIsRefusedWithoutHarm) {
  Rows rows = {Row{{101.0, std::string("杭州"), 45306.0,
                    Rows{Row{{101.0, std::string("x")}}}}}};
  std::string payload = Chunk(rows);
  RowDecoder decoder;
  // Every truncation and every single-byte change either decodes to
  // something well-formed or fails; a failure appends nothing.
  for (size_t n = 0; n < payload.size(); ++n) {
    Rows out;
    EXPECT_FALSE(decoder.DecodeChunk(payload.substr(0, n), kLayout, &out).ok());
    EXPECT_TRUE(out.empty());
  }
  for (size_t i = 0; i < payload.size(); ++i) {
    for (int b : {0x00, 0x04, 0x7f, 0x80, 0xff}) {
      std::string bad = payload;
      bad[i] = static_cast<char>(b);
      Rows out;
      Status s = decoder.DecodeChunk(bad, kLayout, &out);
      if (!s.ok()) {
        EXPECT_TRUE(out.empty());
      }
    }
  }
  // A huge announced count is refused before anything is allocated.
  std::string huge;
  Writer(&huge).Varint(uint64_t{1} << 60);
  Rows out;
  EXPECT_FALSE(decoder.DecodeChunk(huge, kLayout, &out).ok());

  std::vector<FieldDef> layout;
  for (std::string bad : {std::string(""), std::string("\x01", 1),
                          std::string("\x01\x00\x01\x00\x00", 5),
                          std::string("\x01\x01"
                                      "A\x09\x00\x00",
                                      6)}) {
    EXPECT_FALSE(DecodeLayout(bad, &layout).ok());
  }
  char header[kHeaderSize];
  PutHeader(MessageType::kExecute, kMaxRequestPayload + 1, header);
  Header h;
  Status s = ParseHeader(header, kMaxRequestPayload, &h);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("Execute announces 1048577 bytes"),
            std::string::npos);
}

// The decoder's memory limit spans the chunks of one answer: a chunk that
// would go beyond it is refused whole, a damaged chunk costs nothing, and
// texts and nested rows count as well as the rows themselves.
TEST(ProtocolTest, MemoryLimitRefusesTheChunkThatWouldPassIt) {
  Rows lines = {Row{{1.0, std::string(1000, 'x')}}};
  std::string chunk = Chunk({Row{{1.0, std::string(1000, 'y'), 2.0, lines}}});
  Rows probe;
  RowDecoder unlimited;
  ASSERT_TRUE(unlimited.DecodeChunk(chunk, kLayout, &probe).ok());
  EXPECT_FALSE(unlimited.exceeded());

  RowDecoder decoder;
  // Two texts of 1000 bytes and two rows of structures fit in 2600 bytes
  // once, not twice.
  decoder.Limit(2600);
  Rows out;
  EXPECT_FALSE(
      decoder.DecodeChunk(chunk.substr(0, chunk.size() - 1), kLayout, &out)
          .ok());
  EXPECT_FALSE(decoder.exceeded());
  ASSERT_TRUE(decoder.DecodeChunk(chunk, kLayout, &out).ok());
  Status s = decoder.DecodeChunk(chunk, kLayout, &out);
  EXPECT_FALSE(s.ok());
  EXPECT_TRUE(decoder.exceeded());
  EXPECT_EQ(out.size(), 1u);

  // Many empty rows are refused from their count, before they are made.
  std::string empty_rows;
  Writer w(&empty_rows);
  w.Varint(100000);
  empty_rows.append(100000 * kLayout.size(), '\0');
  decoder.Limit(1u << 20);
  out.clear();
  EXPECT_FALSE(decoder.DecodeChunk(empty_rows, kLayout, &out).ok());
  EXPECT_TRUE(decoder.exceeded());
  EXPECT_TRUE(out.empty());
}

TEST(ProtocolTest, RequestsRoundTrip) {
  GetRecords g{"dsp_fxsk3", 10, true, {"2024-05-01", "2024-05-31"}};
  GetRecords g2;
  ASSERT_TRUE(DecodeGetRecords(EncodeGetRecords(g), &g2).ok());
  EXPECT_EQ(g2.provider, "dsp_fxsk3");
  EXPECT_EQ(g2.packet_size, 10);
  EXPECT_TRUE(g2.with_layout);
  EXPECT_EQ(g2.params, g.params);
  Execute e{"dsp_temp", "update T set A='卷烟'"};
  Execute e2;
  ASSERT_TRUE(DecodeExecute(EncodeExecute(e), &e2).ok());
  EXPECT_EQ(e2.sql, e.sql);
  // Trailing bytes are as wrong as missing ones.
  EXPECT_FALSE(DecodeExecute(EncodeExecute(e) + "x", &e2).ok());
  Hello h;
  EXPECT_FALSE(DecodeHello("SKJX\x01\x00", &h).ok());
  // A greeting without the desk (an older client) reads as an empty desk.
  ASSERT_TRUE(DecodeHello(std::string("SKJK\x01\x00", 6), &h).ok());
  EXPECT_EQ(h, Hello{});
  Hello desk{kVersion, "前台PC", "张三"};
  ASSERT_TRUE(DecodeHello(EncodeHello(desk), &h).ok());
  EXPECT_EQ(h, desk);
}

// Document numbers travel sorted: any int64 survives, consecutive ones take
// a byte each, and a list out of order or with repeats is refused.
TEST(ProtocolTest, DocumentNumbersRoundTripCompactly) {
  DocumentNumbers numbers = {5000003,   -7,      INT64_MAX, 5000001,
                             INT64_MIN, 5000002, 5000001};
  NormalizeDocumentNumbers(&numbers);
  EXPECT_EQ(numbers, (DocumentNumbers{INT64_MIN, -7, 5000001, 5000002, 5000003,
                                      INT64_MAX}));
  CheckExport check{"Bbsk", DocumentKind::kVoid, numbers};
  CheckExport again;
  ASSERT_TRUE(DecodeCheckExport(EncodeCheckExport(check), &again).ok());
  EXPECT_EQ(again, check);

  DocumentNumbers run(1000);
  for (int i = 0; i < 1000; ++i) run[i] = 9000000 + i;
  const size_t fixed =
      EncodeCheckExport({"Bbsk", DocumentKind::kSales, {}}).size();
  EXPECT_LE(EncodeCheckExport({"Bbsk", DocumentKind::kSales, run}).size(),
            fixed + 4 + 1000);

  for (const DocumentNumbers& bad :
       {DocumentNumbers{3, 2}, DocumentNumbers{4, 4}}) {
    std::string p;
    Writer w(&p);
    w.Str("Bbsk");
    w.U8(1);
    w.Varint(bad.size());
    int64_t previous = 0;
    for (int64_t n : bad) {
      const int64_t d = n - previous;
      w.Varint(static_cast<uint64_t>((d << 1) ^ (d >> 63)));
      previous = n;
    }
    EXPECT_FALSE(DecodeCheckExport(p, &again).ok()) << bad[0] << "," << bad[1];
  }
}

TEST(ProtocolTest, JournalMessagesRoundTrip) {
  RecordExport record{"Jqsk",
                      DocumentKind::kSales,
                      "2024-01-15",
                      "2024-01-16",
                      "C:\\税控\\xs.txt",
                      1234,
                      std::string(64, 'a'),
                      false,
                      "磁盘已满",
                      {101, 103}};
  RecordExport record2;
  ASSERT_TRUE(DecodeRecordExport(EncodeRecordExport(record), &record2).ok());
  EXPECT_EQ(record2, record);
  // A kind other than sales or void is malformed.
  std::string bad = EncodeRecordExport(record);
  bad[1 + 4] = 3;
  EXPECT_FALSE(DecodeRecordExport(bad, &record2).ok());

  CheckInvoices check{"Fxsk", "D:\\fp.txt", {101, 102}, {7}};
  CheckInvoices check2;
  ASSERT_TRUE(DecodeCheckInvoices(EncodeCheckInvoices(check), &check2).ok());
  EXPECT_EQ(check2, check);

  ExportHistory history{2, "2026-12-11 09:30:00", "C:\\xs.txt"};
  ExportHistory history2;
  ASSERT_TRUE(
      DecodeExportHistory(EncodeExportHistory(history), &history2).ok());
  EXPECT_EQ(history2, history);

  InvoiceState state;
  state.sales = {{104}, {101, 102}, {{"110012", "0001234"}, {"", "9"}}};
  state.void_documents.missing = {7};
  InvoiceState state2;
  ASSERT_TRUE(DecodeInvoiceState(EncodeInvoiceState(state), &state2).ok());
  EXPECT_EQ(state2, state);
  // Cut anywhere, the answer is refused.
  const std::string whole = EncodeInvoiceState(state);
  for (size_t n = 0; n < whole.size(); ++n) {
    EXPECT_FALSE(DecodeInvoiceState(whole.substr(0, n), &state2).ok()) << n;
  }
}

// Reads every nested value, or (`skip`) passes every one to the reader,
// counting what it is told.
struct CountingVisitor {
  bool skip = false;
  int values = 0;
  bool RowCount(uint64_t) { return true; }
  bool BeginRow(uint64_t) { return true; }
  bool Text(size_t, std::string_view) { return ++values > 0; }
  void Number(size_t, double) { ++values; }
  NestedRead Nested(size_t, const FieldDef&, uint64_t) {
    return skip ? NestedRead::kSkip : NestedRead::kRead;
  }
  bool NestedRow(uint64_t) { return true; }
  void EndNested() {}
};

// Whether a visitor reads the nested values or has them passed, the reader
// finds the same faults in the same row: nesting beyond kMaxNesting, a
// nested count beyond the payload, a value that does not fit its field
// inside a nested row, a cut-off row, bytes after the last row.
TEST(ChunkReaderTest, PassedNestedValuesAreCheckedAsReadOnes) {
  // Nested fields down to the deepest level a row may hold a nested value
  // in (kMaxNesting - 1 levels below a record), one further below.
  std::vector<FieldDef> deep = {{"N", FieldType::kNumber, 0, {}}};
  for (int i = 0; i <= kMaxNesting; ++i) {
    deep = {{"N", FieldType::kNumber, 0, {}},
            {"L" + std::to_string(i), FieldType::kNested, 0, deep}};
  }
  // One row holding `levels` nested values inside each other, the last
  // of them empty.
  auto nested = [](int levels) {
    std::string p;
    Writer w(&p);
    w.Varint(1);
    for (int i = 0; i < levels; ++i) {
      PutNumber(&w, i);
      PutNested(&w, i + 1 < levels ? 1 : 0);
    }
    return p;
  };
  std::string one_row = Chunk({Row{
      {101.0, std::string("x"), 45306.0, Rows{Row{{1.0, std::string("y")}}}}}});
  std::string text_as_number = one_row;
  // The line's number tag (the value after the nested count) as a text's.
  const size_t line_tag = one_row.find(static_cast<char>(Tag::kNested)) + 2;
  ASSERT_EQ(text_as_number[line_tag], static_cast<char>(Tag::kNumber));
  text_as_number[line_tag] = static_cast<char>(Tag::kText);
  std::string count_beyond = Chunk({Row{{1.0, {}, {}, Rows{}}}});
  count_beyond.back() = 0x7f;

  struct Case {
    const char* name;
    std::string payload;
    const std::vector<FieldDef>* layout;
    ChunkEnd::Kind kind;
    uint64_t row;
  };
  const Case cases[] = {
      {"well formed", one_row, &kLayout, ChunkEnd::kDone, 1},
      {"deepest nesting", nested(kMaxNesting), &deep, ChunkEnd::kDone, 1},
      {"nesting too deep", nested(kMaxNesting + 1), &deep, ChunkEnd::kBadRow,
       1},
      {"nested count beyond the payload", count_beyond, &kLayout,
       ChunkEnd::kBadRow, 1},
      {"a line value of the wrong type", text_as_number, &kLayout,
       ChunkEnd::kBadRow, 1},
      {"a cut-off line", one_row.substr(0, one_row.size() - 1), &kLayout,
       ChunkEnd::kBadRow, 1},
      {"bytes after the last row", one_row + '\0', &kLayout,
       ChunkEnd::kMalformed, 0},
  };
  for (const Case& c : cases) {
    for (bool skip : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (skip ? ", passed" : ", read"));
      CountingVisitor visitor;
      visitor.skip = skip;
      const ChunkEnd end = ReadChunk(c.payload, *c.layout, visitor);
      EXPECT_EQ(end.kind, c.kind);
      EXPECT_EQ(end.row, c.row);
    }
  }
}

}  // namespace
}  // namespace skjk::protocol
