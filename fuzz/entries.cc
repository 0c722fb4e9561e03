#include "fuzz/entries.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include "appserver/dialect.h"
#include "documents/document_set.h"
#include "exchange/invoice_file.h"
#include "settings/profile.h"
#include "settings/settings.h"
#include "testing/row_encoder.h"
#include "text/gbk.h"
#include "wire/protocol.h"

namespace skjk::fuzz {
namespace {

// Takes a length-prefixed piece (one byte of length) off the front of *data.
std::string_view Take(std::string_view* data) {
  if (data->empty()) return {};
  size_t n = static_cast<uint8_t>(data->front());
  data->remove_prefix(1);
  n = std::min(n, data->size());
  std::string_view piece = data->substr(0, n);
  data->remove_prefix(n);
  return piece;
}

// A layout to decode chunks against when the input brings none: every
// field type, one nested level.
const std::vector<FieldDef>& FixedLayout() {
  static const std::vector<FieldDef> layout = {
      {"DHAO00", FieldType::kNumber, 0, {}},
      {"BEIZHU", FieldType::kText, 40, {}},
      {"RIQI00", FieldType::kDateTime, 0, {}},
      {"qry_bbsk2",
       FieldType::kNested,
       0,
       {{"SPBH00", FieldType::kText, 20, {}},
        {"SHULIA", FieldType::kNumber, 0, {}}}},
  };
  return layout;
}

// Decodes a chunk into rows and, as a document set stores it on arrival,
// into a set expecting FixedLayout(): both read it with the one chunk
// reader, each through its own visitor, and must agree on what is well
// formed and on the number of records.
std::string DecodeRows(std::string_view payload,
                       const std::vector<FieldDef>& layout) {
  protocol::RowDecoder decoder;
  decoder.Limit(1u << 20);
  Rows rows;
  Status s = decoder.DecodeChunk(payload, layout, &rows);
  if (!s.ok() && !rows.empty()) return "a failed chunk left rows behind";
  if (rows.size() > payload.size()) return "more rows than payload bytes";

  bool layout_matched = false;
  DocumentSet set(
      "ClientDataSet1",
      [&](std::string_view, int, bool, const std::vector<std::string>&,
          RecordReceiver* receiver) {
        SKJK_RETURN_IF_ERROR(receiver->Layout(layout));
        layout_matched = true;
        return receiver->Chunk(payload);
      },
      "dsp_fuzz", Connection::kAllRecords, &FixedLayout(), "ClientDataSet2");
  set.set_memory_budget(std::make_shared<MemoryBudget>(size_t{64} << 20));
  Status stored = set.Open({"a", "b"});
  if (!layout_matched || decoder.exceeded()) return {};
  if (s.ok() != stored.ok()) {
    return "the set and the row decoder disagree on a chunk: " +
           (s.ok() ? stored.message() : s.message());
  }
  if (stored.ok() && static_cast<size_t>(set.RecordCount()) != rows.size()) {
    return "the set holds another number of records than were decoded";
  }
  return {};
}

// Texts for EncodedRows(): empty, ASCII, GBK-convertible Chinese, and
// longer than FixedLayout()'s widths (40 and 20 bytes), also in Chinese.
constexpr std::string_view kTexts[] = {
    "",
    "ABC",
    "杭州烟酒店",
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
    "卷烟甲乙丙丁戊己庚辛壬癸A",
};

// Takes one byte off the front of *data (0 once it is used up).
uint8_t Byte(std::string_view* data) {
  if (data->empty()) return 0;
  const uint8_t b = static_cast<uint8_t>(data->front());
  data->remove_prefix(1);
  return b;
}

// A value of field `f` chosen by the bytes of *data: empty, one of kTexts,
// a double of 8 bytes (NaN and infinities included), or 0 to 3 rows of a
// nested layout.
Value MakeValue(const FieldDef& f, std::string_view* data) {
  if (Byte(data) % 4 == 0) return std::monostate();
  switch (f.type) {
    case FieldType::kText:
      return std::string(kTexts[Byte(data) % std::size(kTexts)]);
    case FieldType::kNumber:
    case FieldType::kDateTime: {
      char b[8] = {};
      for (char& c : b) c = static_cast<char>(Byte(data));
      double d;
      std::memcpy(&d, b, sizeof d);
      return d;
    }
    case FieldType::kNested: {
      Rows rows(Byte(data) % 4);
      for (Row& r : rows) {
        for (const FieldDef& sub : f.nested) {
          r.values.push_back(MakeValue(sub, data));
        }
      }
      return rows;
    }
  }
  return std::monostate();
}

// A decoded value against the value encoded (texts in UTF-8, turned into
// GBK and cut to `width` bytes when width > 0); doubles bit for bit, but
// any NaN for a NaN.
bool SameValue(const Value& encoded, const CellValue& decoded, size_t width) {
  if (const auto* s = std::get_if<std::string>(&encoded)) {
    const std::string gbk = text::Utf8ToGbk(*s);
    const std::string_view want =
        width > 0 && gbk.size() > width ? text::TruncateGbk(gbk, width) : gbk;
    const auto* got = std::get_if<std::string_view>(&decoded);
    return got != nullptr && *got == want;
  }
  if (const double* d = std::get_if<double>(&encoded)) {
    const double* got = std::get_if<double>(&decoded);
    if (got == nullptr) return false;
    // A set stores every NaN as the one quiet NaN: its payload is not kept.
    if (std::isnan(*d)) return std::isnan(*got);
    return std::memcmp(d, got, sizeof *d) == 0;
  }
  if (const auto* rows = std::get_if<Rows>(&encoded)) {
    const auto* got = std::get_if<LineRun>(&decoded);
    return got != nullptr && got->count == rows->size();
  }
  return std::holds_alternative<std::monostate>(decoded);
}

bool SameRows(const Rows& encoded, const Rows& decoded) {
  if (encoded.size() != decoded.size()) return false;
  for (size_t r = 0; r < encoded.size(); ++r) {
    const std::vector<Value>& e = encoded[r].values;
    const std::vector<Value>& d = decoded[r].values;
    if (e.size() != d.size()) return false;
    for (size_t f = 0; f < e.size(); ++f) {
      if (!SameValue(e[f], ViewOf(d[f]), 0)) return false;
      const auto* lines = std::get_if<Rows>(&e[f]);
      if (lines != nullptr && !SameRows(*lines, std::get<Rows>(d[f]))) {
        return false;
      }
    }
  }
  return true;
}

// Rows of FixedLayout() made from the input, encoded as the server writes
// them: the row decoder gives them back (texts in GBK), and a document set
// holds them (texts cut to their widths; each document's lines in its
// detail set).
std::string EncodedRows(std::string_view data) {
  const std::vector<FieldDef>& layout = FixedLayout();
  Rows rows(Byte(&data) % 8);
  for (Row& r : rows) {
    for (const FieldDef& f : layout) r.values.push_back(MakeValue(f, &data));
  }
  std::string payload;
  protocol::Writer w(&payload);
  w.Varint(rows.size());
  for (const Row& r : rows) testing::EncodeRow(layout, r, &w);

  protocol::RowDecoder decoder;
  Rows decoded;
  Status s = decoder.DecodeChunk(payload, layout, &decoded);
  if (!s.ok()) return "the row decoder refuses encoded rows: " + s.message();
  if (!SameRows(rows, decoded)) {
    return "the row decoder gives other rows than were encoded";
  }

  DocumentSet set(
      "ClientDataSet1",
      [&](std::string_view, int, bool, const std::vector<std::string>&,
          RecordReceiver* receiver) {
        SKJK_RETURN_IF_ERROR(receiver->Layout(layout));
        return receiver->Chunk(payload);
      },
      "dsp_fuzz", Connection::kAllRecords, &layout, "ClientDataSet2");
  s = set.Open({"a", "b"});
  if (!s.ok()) return "a document set refuses encoded rows: " + s.message();
  if (static_cast<size_t>(set.RecordCount()) != rows.size()) {
    return "a document set holds another number of records than encoded";
  }
  const DetailSet& lines = *set.detail();
  const std::vector<FieldDef>& line_layout = layout.back().nested;
  for (size_t r = 0; r < rows.size(); ++r) {
    const int record = static_cast<int>(r);
    for (size_t f = 0; f + 1 < layout.size(); ++f) {
      if (!SameValue(rows[r].values[f], set.Cell(record, static_cast<int>(f)),
                     layout[f].size)) {
        return "record " + std::to_string(r + 1) + " field " + layout[f].name +
               " differs from the value encoded";
      }
    }
    set.MoveTo(record);
    const auto* want = std::get_if<Rows>(&rows[r].values.back());
    const size_t count = want != nullptr ? want->size() : 0;
    if (static_cast<size_t>(lines.RecordCount()) != count) {
      return "record " + std::to_string(r + 1) + " has another number of lines";
    }
    for (size_t l = 0; l < count; ++l) {
      for (size_t f = 0; f < line_layout.size(); ++f) {
        if (!SameValue((*want)[l].values[f],
                       lines.Cell(static_cast<int>(l), static_cast<int>(f)),
                       line_layout[f].size)) {
          return "record " + std::to_string(r + 1) + " line " +
                 std::to_string(l + 1) + " field " + line_layout[f].name +
                 " differs from the value encoded";
        }
      }
    }
  }
  return {};
}

// An SQL text in pieces, as SQLite reads it: white space, comments (--
// to the end of the line, /* */), string literals ('..', '' inside), quoted
// names ("..", `..` with the quote doubled inside; [..]), words (letters,
// digits, _ $ # and bytes of multi-byte characters) and single other bytes.
// Written apart from appserver/dialect.cc, so that the dialect target's
// check does not share a fault of the adaptation's own reading.
struct Piece {
  enum Kind { kString, kQuoted, kWord, kSymbol };
  Kind kind;
  std::string_view text;
  // Right after white space or a comment.
  bool apart = false;

  bool Is(char c) const {
    return kind == kSymbol && text.size() == 1 && text[0] == c;
  }
  bool IsWord(std::string_view word) const {
    if (kind != kWord || text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(text[i])) !=
          std::toupper(static_cast<unsigned char>(word[i])))
        return false;
    }
    return true;
  }
  bool IsName() const { return kind == kWord || kind == kQuoted; }
};

bool SameName(const Piece& a, const Piece& b) {
  if (a.kind != b.kind || !a.IsName()) return false;
  return a.kind == Piece::kWord ? a.IsWord(b.text) : a.text == b.text;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

bool IsWordByte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
         (u >= 'a' && u <= 'z') || u == '_' || u == '$' || u == '#' ||
         u >= 0x80;
}

// The pieces of `sql` that are part of the statement (no white space, no
// comments).
std::vector<Piece> Significant(std::string_view sql) {
  std::vector<Piece> out;
  bool apart = false;
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    const std::string_view rest = sql.substr(i);
    size_t end = i + 1;
    if (IsSpace(c)) {
      while (end < sql.size() && IsSpace(sql[end])) ++end;
      apart = true;
    } else if (rest.substr(0, 2) == "--") {
      end = sql.find('\n', i);
      end = end == std::string_view::npos ? sql.size() : end + 1;
      apart = true;
    } else if (rest.substr(0, 2) == "/*") {
      end = sql.find("*/", i + 2);
      end = end == std::string_view::npos ? sql.size() : end + 2;
      apart = true;
    } else {
      Piece::Kind kind = Piece::kSymbol;
      if (c == '\'' || c == '"' || c == '`' || c == '[') {
        kind = c == '\'' ? Piece::kString : Piece::kQuoted;
        const char close = c == '[' ? ']' : c;
        for (;;) {
          end = sql.find(close, end);
          if (end == std::string_view::npos) {
            end = sql.size();
            break;
          }
          ++end;
          if (close != c || end == sql.size() || sql[end] != close) break;
          ++end;  // a doubled quote inside
        }
      } else if (IsWordByte(c)) {
        kind = Piece::kWord;
        while (end < sql.size() && IsWordByte(sql[end])) ++end;
      }
      out.push_back({kind, sql.substr(i, end - i), apart});
      apart = false;
    }
    i = end;
  }
  return out;
}

// Where the alias and SET stand in `UPDATE table[.table] alias SET ...`
// (the alias apart from the table, neither SET nor AS); nullopt for any
// other statement.
struct UpdateHead {
  size_t alias;
  size_t set;
};
std::optional<UpdateHead> ReadUpdateHead(const std::vector<Piece>& p) {
  const size_t n = p.size();
  if (n < 4 || !p[0].IsWord("UPDATE") || !p[1].IsName()) return std::nullopt;
  size_t i = 2;
  if (p[i].Is('.')) {
    if (i + 1 == n || !p[i + 1].IsName()) return std::nullopt;
    i += 2;
  }
  if (i + 1 >= n || !p[i].apart || !p[i].IsName() || p[i].IsWord("SET") ||
      p[i].IsWord("AS") || !p[i + 1].IsWord("SET"))
    return std::nullopt;
  return UpdateHead{i, i + 1};
}
}  // namespace

// Whether `m` comes back unchanged through its encoder and decoder.
template <typename M, typename Encode, typename Decode>
bool RoundTrips(const M& m, Encode encode, Decode decode) {
  M again;
  return decode(encode(m), &again).ok() && again == m;
}

// The exchange journal's messages: whatever decodes must round-trip.
std::string JournalMessage(uint8_t pick, std::string_view payload) {
  switch (pick) {
    case 0: {
      protocol::RecordExport m;
      if (!protocol::DecodeRecordExport(payload, &m).ok()) return {};
      return RoundTrips(m, protocol::EncodeRecordExport,
                        protocol::DecodeRecordExport)
                 ? std::string()
                 : "RecordExport does not round-trip";
    }
    case 1: {
      protocol::CheckExport m;
      if (!protocol::DecodeCheckExport(payload, &m).ok()) return {};
      return RoundTrips(m, protocol::EncodeCheckExport,
                        protocol::DecodeCheckExport)
                 ? std::string()
                 : "CheckExport does not round-trip";
    }
    case 2: {
      protocol::CheckInvoices m;
      if (!protocol::DecodeCheckInvoices(payload, &m).ok()) return {};
      return RoundTrips(m, protocol::EncodeCheckInvoices,
                        protocol::DecodeCheckInvoices)
                 ? std::string()
                 : "CheckInvoices does not round-trip";
    }
    case 3: {
      protocol::ExportHistory m;
      if (!protocol::DecodeExportHistory(payload, &m).ok()) return {};
      return RoundTrips(m, protocol::EncodeExportHistory,
                        protocol::DecodeExportHistory)
                 ? std::string()
                 : "ExportHistory does not round-trip";
    }
    default: {
      protocol::InvoiceState m;
      if (!protocol::DecodeInvoiceState(payload, &m).ok()) return {};
      return RoundTrips(m, protocol::EncodeInvoiceState,
                        protocol::DecodeInvoiceState)
                 ? std::string()
                 : "InvoiceState does not round-trip";
    }
  }
}

std::string ProtocolCodec(std::string_view data) {
  if (data.empty()) return {};
  uint8_t pick = static_cast<uint8_t>(data.front());
  std::string_view payload = data.substr(1);
  // The first byte picks the message; 0xf0 and above the journal's.
  if (pick >= 0xf0) return JournalMessage(pick - 0xf0, payload);
  switch (pick % 14) {
    case 0: {
      if (payload.size() < protocol::kHeaderSize) return {};
      protocol::Header h;
      if (protocol::ParseHeader(payload.data(), protocol::kMaxRequestPayload,
                                &h)
              .ok() &&
          h.size > protocol::kMaxRequestPayload) {
        return "a header beyond the limit was accepted";
      }
      return {};
    }
    case 1: {
      protocol::Hello m;
      if (!protocol::DecodeHello(payload, &m).ok()) return {};
      return RoundTrips(m, protocol::EncodeHello, protocol::DecodeHello)
                 ? std::string()
                 : "Hello does not round-trip";
    }
    case 2: {
      protocol::GetRecords m, again;
      if (!protocol::DecodeGetRecords(payload, &m).ok()) return {};
      if (!protocol::DecodeGetRecords(protocol::EncodeGetRecords(m), &again)
               .ok() ||
          again.provider != m.provider || again.packet_size != m.packet_size ||
          again.with_layout != m.with_layout || again.params != m.params) {
        return "GetRecords does not round-trip";
      }
      return {};
    }
    case 3: {
      protocol::NextPacket m, again;
      if (!protocol::DecodeNextPacket(payload, &m).ok()) return {};
      if (!protocol::DecodeNextPacket(protocol::EncodeNextPacket(m), &again)
               .ok() ||
          again.provider != m.provider || again.packet_size != m.packet_size) {
        return "NextPacket does not round-trip";
      }
      return {};
    }
    case 4: {
      protocol::Execute m, again;
      if (!protocol::DecodeExecute(payload, &m).ok()) return {};
      if (!protocol::DecodeExecute(protocol::EncodeExecute(m), &again).ok() ||
          again.provider != m.provider || again.sql != m.sql) {
        return "Execute does not round-trip";
      }
      return {};
    }
    case 5: {
      protocol::Call m, again;
      if (!protocol::DecodeCall(payload, &m).ok()) return {};
      if (!protocol::DecodeCall(protocol::EncodeCall(m), &again).ok() ||
          again.method != m.method) {
        return "Call does not round-trip";
      }
      return {};
    }
    case 6: {
      uint16_t version;
      std::string server;
      (void)protocol::DecodeHelloOk(payload, &version, &server);
      return {};
    }
    case 7: {
      int64_t rows;
      if (protocol::DecodeOk(payload, &rows).ok() &&
          protocol::EncodeOk(rows) != payload) {
        return "Ok does not round-trip";
      }
      return {};
    }
    case 8: {
      std::string message;
      (void)protocol::DecodeError(payload, &message);
      return {};
    }
    case 9: {
      uint64_t total;
      bool exhausted;
      (void)protocol::DecodeRecordsEnd(payload, &total, &exhausted);
      return {};
    }
    case 10: {
      std::vector<FieldDef> layout;
      (void)protocol::DecodeLayout(payload, &layout);
      return {};
    }
    case 11:
      return DecodeRows(payload, FixedLayout());
    case 13:
      return EncodedRows(payload);
    default: {
      // A layout of the input's own, then a chunk against it.
      std::string_view rest = payload;
      std::string_view layout_bytes = Take(&rest);
      std::vector<FieldDef> layout;
      if (!protocol::DecodeLayout(layout_bytes, &layout).ok()) return {};
      return DecodeRows(rest, layout);
    }
  }
}

std::string SettingsParser(std::string_view data) {
  std::string_view section = Take(&data);
  std::string_view key = Take(&data);
  std::string_view value = Take(&data);
  std::string content(data);
  (void)ParseFlag(value);
  std::string read = GetProfileValue(content, section, key);
  if (read.size() > kMaxProfileValue) return "a value read beyond the limit";

  // A value of plain letters and digits (nothing trimmed or unquoted) that
  // the entry check accepts reads back as written, and writing it again
  // changes nothing.
  for (char c : value) {
    bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                 (c >= 'a' && c <= 'z');
    if (!plain) return {};
  }
  if (!CheckProfileEntry(section, key, value).ok()) return {};
  SetProfileValue(&content, section, key, value);
  if (GetProfileValue(content, section, key) != value) {
    return "a value written does not read back";
  }
  if (SetProfileValue(&content, section, key, value)) {
    return "writing the value it holds changed the profile";
  }
  return {};
}

std::string DialectAdaptation(std::string_view data) {
  const std::string rewritten = appserver::AdaptUpdateAlias(data);
  std::string failure = CheckUpdateAliasRewrite(data, rewritten);
  if (!failure.empty()) return failure;
  if (appserver::AdaptUpdateAlias(rewritten) != rewritten) {
    return "adapting the rewritten statement again changed it";
  }
  // The parts of an UPDATE, which the server makes a query of, are pieces
  // of the text as written.
  if (const auto parts = appserver::SplitUpdate(data)) {
    if (parts->assignments.empty()) return "an UPDATE without assignments";
    for (const auto& a : parts->assignments) {
      if (a.value.empty() || data.find(a.value) == std::string_view::npos) {
        return "a value of an UPDATE is no piece of its text";
      }
    }
    if (data.find(parts->rest) == std::string_view::npos) {
      return "the rest of an UPDATE is no piece of its text";
    }
  }
  return {};
}

std::string CheckUpdateAliasRewrite(std::string_view sql,
                                    std::string_view rewritten) {
  const std::vector<Piece> in = Significant(sql);
  const std::optional<UpdateHead> head = ReadUpdateHead(in);
  if (!head) {
    if (rewritten != sql) return "a statement without an alias was changed";
    return {};
  }
  // What must come out: the input's own pieces, with AS before the alias
  // and the alias's qualifier gone from each column the statement sets
  // (the first piece of every top-level assignment up to a top-level WHERE).
  std::vector<Piece> expected(in.begin(), in.begin() + head->alias);
  expected.push_back({Piece::kWord, "AS"});
  expected.insert(expected.end(), in.begin() + head->alias,
                  in.begin() + head->set + 1);
  const size_t head_end = expected.size();
  std::vector<size_t> columns;  // where expected holds a column set
  int depth = 0;
  bool at_target = true;
  for (size_t k = head->set + 1; k < in.size(); ++k) {
    if (at_target) {
      at_target = false;
      if (SameName(in[k], in[head->alias]) && k + 1 < in.size() &&
          in[k + 1].Is('.')) {
        ++k;  // the qualifier and its dot
        columns.push_back(expected.size());
        continue;
      }
      columns.push_back(expected.size());
    }
    if (depth == 0 && in[k].IsWord("WHERE")) {
      if (!columns.empty() && columns.back() == expected.size()) {
        columns.pop_back();
      }
      expected.insert(expected.end(), in.begin() + k, in.end());
      break;
    }
    if (in[k].Is('(')) ++depth;
    if (in[k].Is(')')) --depth;
    if (depth == 0 && in[k].Is(',')) at_target = true;
    expected.push_back(in[k]);
  }

  const std::vector<Piece> out = Significant(rewritten);
  for (size_t k = 0; k < std::max(expected.size(), out.size()); ++k) {
    const std::string want = k < expected.size()
                                 ? "'" + std::string(expected[k].text) + "'"
                                 : "the end";
    const std::string got =
        k < out.size() ? "'" + std::string(out[k].text) + "'" : "the end";
    if (k < expected.size() && k < out.size() &&
        expected[k].kind == out[k].kind && expected[k].text == out[k].text) {
      continue;
    }
    std::string where = "outside the alias";
    if (k < head_end) {
      where = "in the statement's table and alias";
    } else if (std::find(columns.begin(), columns.end(), k) != columns.end()) {
      where = "in a column the statement sets";
    }
    return "the rewrite differs " + where + " at piece " + std::to_string(k) +
           ": " + got + " where " + want + " belongs";
  }
  return {};
}

std::string ImportLineSplitter(std::string_view data) {
  std::vector<exchange::FileLine> lines = exchange::SplitFileLines(data);
  int previous = 0;
  for (const exchange::FileLine& line : lines) {
    if (line.file_line <= previous) return "line numbers do not grow";
    previous = line.file_line;
    if (line.text.data() < data.data() ||
        line.text.data() + line.text.size() > data.data() + data.size()) {
      return "a line lies outside the file's bytes";
    }
    for (const std::string& field : exchange::SplitFields(line.text)) {
      if (field.size() > line.text.size())
        return "a field longer than its line";
      (void)exchange::ParseWholeNumber(field);
      (void)exchange::ParseFileDay(field);
    }
  }
  return {};
}

}  // namespace skjk::fuzz
