#include "wire/protocol.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "text/gbk.h"
#include "wire/chunk_reader.h"

namespace skjk::protocol {

static_assert(std::endian::native == std::endian::little,
              "the codec copies little-endian values as they are in memory");

void Writer::U16(uint16_t v) {
  char b[2];
  std::memcpy(b, &v, 2);
  out_->append(b, 2);
}

void Writer::U32(uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out_->append(b, 4);
}

void Writer::I64(int64_t v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out_->append(b, 8);
}

void Writer::Varint(uint64_t v) {
  char b[10];
  int n = 0;
  while (v >= 0x80) {
    b[n++] = static_cast<char>((v & 0x7f) | 0x80);
    v >>= 7;
  }
  b[n++] = static_cast<char>(v);
  out_->append(b, n);
}

void Writer::Double(double v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out_->append(b, 8);
}

bool Reader::Need(size_t n) {
  if (!ok_ || in_.size() - pos_ < n) {
    ok_ = false;
    return false;
  }
  return true;
}

uint8_t Reader::U8() {
  if (!Need(1)) return 0;
  return static_cast<uint8_t>(in_[pos_++]);
}

uint16_t Reader::U16() {
  if (!Need(2)) return 0;
  uint16_t v;
  std::memcpy(&v, in_.data() + pos_, 2);
  pos_ += 2;
  return v;
}

uint32_t Reader::U32() {
  if (!Need(4)) return 0;
  uint32_t v;
  std::memcpy(&v, in_.data() + pos_, 4);
  pos_ += 4;
  return v;
}

int64_t Reader::I64() {
  if (!Need(8)) return 0;
  int64_t v;
  std::memcpy(&v, in_.data() + pos_, 8);
  pos_ += 8;
  return v;
}

uint64_t Reader::Varint() {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (!Need(1)) return 0;
    uint8_t b = static_cast<uint8_t>(in_[pos_++]);
    v |= static_cast<uint64_t>(b & 0x7f) << shift;
    if ((b & 0x80) == 0) return v;
  }
  ok_ = false;  // more than ten bytes
  return 0;
}

double Reader::Double() {
  if (!Need(8)) return 0;
  double v;
  std::memcpy(&v, in_.data() + pos_, 8);
  pos_ += 8;
  return v;
}

std::string_view Reader::Str(size_t max_size) {
  uint64_t n = Varint();
  if (!ok_) return {};
  if (n > max_size || n > in_.size() - pos_) {
    ok_ = false;
    return {};
  }
  std::string_view s = in_.substr(pos_, n);
  pos_ += n;
  return s;
}

void PutHeader(MessageType type, uint32_t payload_size, char out[kHeaderSize]) {
  std::memcpy(out, &payload_size, 4);
  out[4] = static_cast<char>(type);
}

Status ParseHeader(const char in[kHeaderSize], uint32_t max_payload,
                   Header* header) {
  uint32_t size;
  std::memcpy(&size, in, 4);
  uint8_t type = static_cast<uint8_t>(in[4]);
  if (size > max_payload) {
    return Status::BadInput("frame " + TypeName(type) + " announces " +
                            std::to_string(size) + " bytes, more than the " +
                            std::to_string(max_payload) + " allowed");
  }
  header->type = static_cast<MessageType>(type);
  header->size = size;
  return Status::OK();
}

std::string Frame(MessageType type, std::string_view payload) {
  std::string f(kHeaderSize, '\0');
  PutHeader(type, static_cast<uint32_t>(payload.size()), f.data());
  f.append(payload);
  return f;
}

std::string TypeName(uint8_t type) {
  switch (static_cast<MessageType>(type)) {
    case MessageType::kHello:
      return "Hello";
    case MessageType::kGetRecords:
      return "GetRecords";
    case MessageType::kNextPacket:
      return "NextPacket";
    case MessageType::kExecute:
      return "Execute";
    case MessageType::kCall:
      return "Call";
    case MessageType::kRecordExport:
      return "RecordExport";
    case MessageType::kCheckExport:
      return "CheckExport";
    case MessageType::kCheckInvoices:
      return "CheckInvoices";
    case MessageType::kHelloOk:
      return "HelloOk";
    case MessageType::kOk:
      return "Ok";
    case MessageType::kError:
      return "Error";
    case MessageType::kRecordsHeader:
      return "RecordsHeader";
    case MessageType::kRecordsChunk:
      return "RecordsChunk";
    case MessageType::kRecordsEnd:
      return "RecordsEnd";
    case MessageType::kExportHistory:
      return "ExportHistory";
    case MessageType::kInvoiceState:
      return "InvoiceState";
  }
  char b[8];
  std::snprintf(b, sizeof b, "0x%02x", type);
  return b;
}

namespace {

Status Malformed(std::string_view what) {
  return Status::BadInput("malformed " + std::string(what) + " message");
}

// The payload must have been read completely and correctly.
Status Finish(const Reader& r, std::string_view what) {
  if (!r.ok() || !r.at_end()) return Malformed(what);
  return Status::OK();
}

constexpr size_t kMaxName = 256;

}  // namespace

std::string EncodeHello(const Hello& m) {
  std::string p(kMagic, 4);
  Writer w(&p);
  w.U16(m.version);
  w.Str(m.computer.substr(0, kMaxDeskName));
  w.Str(m.user.substr(0, kMaxDeskName));
  return p;
}

Status DecodeHello(std::string_view payload, Hello* m) {
  if (payload.size() < 6 || payload.substr(0, 4) != std::string_view(kMagic, 4))
    return Status::BadInput("not a skjk client: bad greeting");
  Reader r(payload.substr(4));
  m->version = r.U16();
  m->computer.clear();
  m->user.clear();
  if (!r.at_end()) {
    m->computer = r.Str(kMaxDeskName);
    m->user = r.Str(kMaxDeskName);
  }
  return Finish(r, "Hello");
}

std::string EncodeGetRecords(const GetRecords& m) {
  std::string p;
  Writer w(&p);
  w.Str(m.provider);
  w.I32(m.packet_size);
  w.U8(m.with_layout ? kFlagWithLayout : 0);
  w.Varint(m.params.size());
  for (const auto& s : m.params) w.Str(s);
  return p;
}

Status DecodeGetRecords(std::string_view payload, GetRecords* m) {
  Reader r(payload);
  m->provider = r.Str(kMaxName);
  m->packet_size = r.I32();
  uint8_t flags = r.U8();
  m->with_layout = (flags & kFlagWithLayout) != 0;
  uint64_t n = r.Varint();
  if (!r.ok() || n > kMaxParams) return Malformed("GetRecords");
  m->params.clear();
  for (uint64_t i = 0; i < n && r.ok(); ++i) m->params.emplace_back(r.Str());
  return Finish(r, "GetRecords");
}

std::string EncodeNextPacket(const NextPacket& m) {
  std::string p;
  Writer w(&p);
  w.Str(m.provider);
  w.I32(m.packet_size);
  return p;
}

Status DecodeNextPacket(std::string_view payload, NextPacket* m) {
  Reader r(payload);
  m->provider = r.Str(kMaxName);
  m->packet_size = r.I32();
  return Finish(r, "NextPacket");
}

std::string EncodeExecute(const Execute& m) {
  std::string p;
  Writer w(&p);
  w.Str(m.provider);
  w.Str(m.sql);
  return p;
}

Status DecodeExecute(std::string_view payload, Execute* m) {
  Reader r(payload);
  m->provider = r.Str(kMaxName);
  m->sql = r.Str();
  return Finish(r, "Execute");
}

std::string EncodeCall(const Call& m) {
  std::string p;
  Writer(&p).Str(m.method);
  return p;
}

Status DecodeCall(std::string_view payload, Call* m) {
  Reader r(payload);
  m->method = r.Str(kMaxName);
  return Finish(r, "Call");
}

namespace {

// Kinds travel as their byte; anything else is malformed.
bool GetKind(Reader* r, DocumentKind* kind) {
  const uint8_t k = r->U8();
  if (k != static_cast<uint8_t>(DocumentKind::kSales) &&
      k != static_cast<uint8_t>(DocumentKind::kVoid)) {
    r->Fail();
    return false;
  }
  *kind = static_cast<DocumentKind>(k);
  return true;
}

void PutDocuments(const DocumentNumbers& numbers, Writer* w) {
  w->Varint(numbers.size());
  int64_t previous = 0;
  for (int64_t n : numbers) {
    // Wrapping arithmetic: the difference of any two int64 fits the zigzag
    // form, and the reader wraps back the same way.
    const uint64_t delta =
        static_cast<uint64_t>(n) - static_cast<uint64_t>(previous);
    const int64_t signed_delta = static_cast<int64_t>(delta);
    w->Varint((delta << 1) ^ static_cast<uint64_t>(signed_delta >> 63));
    previous = n;
  }
}

// Reads numbers that must come sorted and without repeats; each takes at
// least a byte, so a count beyond the bytes left is refused before anything
// is reserved.
bool GetDocuments(Reader* r, DocumentNumbers* numbers) {
  const uint64_t n = r->Varint();
  if (!r->ok() || n > r->remaining()) {
    r->Fail();
    return false;
  }
  numbers->clear();
  numbers->reserve(static_cast<size_t>(n));
  uint64_t previous = 0;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t z = r->Varint();
    const uint64_t delta = (z >> 1) ^ (~(z & 1) + 1);
    const uint64_t value = previous + delta;
    if (!r->ok() || (i > 0 && static_cast<int64_t>(value) <= numbers->back())) {
      r->Fail();
      return false;
    }
    numbers->push_back(static_cast<int64_t>(value));
    previous = value;
  }
  return true;
}

constexpr size_t kMaxPath = 4096;
constexpr size_t kMaxInvoiceText = 256;

}  // namespace

void NormalizeDocumentNumbers(DocumentNumbers* numbers) {
  std::sort(numbers->begin(), numbers->end());
  numbers->erase(std::unique(numbers->begin(), numbers->end()), numbers->end());
}

std::string EncodeRecordExport(const RecordExport& m) {
  std::string p;
  Writer w(&p);
  w.Str(m.line);
  w.U8(static_cast<uint8_t>(m.kind));
  w.Str(m.first_date);
  w.Str(m.last_date);
  w.Str(m.file_name);
  w.Varint(m.file_size);
  w.Str(m.file_hash);
  w.U8(m.completed ? 1 : 0);
  w.Str(m.failure);
  PutDocuments(m.documents, &w);
  return p;
}

Status DecodeRecordExport(std::string_view payload, RecordExport* m) {
  Reader r(payload);
  m->line = r.Str(kMaxName);
  GetKind(&r, &m->kind);
  m->first_date = r.Str(kMaxName);
  m->last_date = r.Str(kMaxName);
  m->file_name = r.Str(kMaxPath);
  m->file_size = r.Varint();
  m->file_hash = r.Str(kMaxName);
  const uint8_t completed = r.U8();
  if (completed > 1) r.Fail();
  m->completed = completed == 1;
  m->failure = r.Str(kMaxPath);
  GetDocuments(&r, &m->documents);
  return Finish(r, "RecordExport");
}

std::string EncodeCheckExport(const CheckExport& m) {
  std::string p;
  Writer w(&p);
  w.Str(m.line);
  w.U8(static_cast<uint8_t>(m.kind));
  PutDocuments(m.documents, &w);
  return p;
}

Status DecodeCheckExport(std::string_view payload, CheckExport* m) {
  Reader r(payload);
  m->line = r.Str(kMaxName);
  GetKind(&r, &m->kind);
  GetDocuments(&r, &m->documents);
  return Finish(r, "CheckExport");
}

std::string EncodeCheckInvoices(const CheckInvoices& m) {
  std::string p;
  Writer w(&p);
  w.Str(m.line);
  w.Str(m.file_name);
  PutDocuments(m.sales, &w);
  PutDocuments(m.void_documents, &w);
  return p;
}

Status DecodeCheckInvoices(std::string_view payload, CheckInvoices* m) {
  Reader r(payload);
  m->line = r.Str(kMaxName);
  m->file_name = r.Str(kMaxPath);
  GetDocuments(&r, &m->sales);
  GetDocuments(&r, &m->void_documents);
  return Finish(r, "CheckInvoices");
}

std::string EncodeExportHistory(const ExportHistory& m) {
  std::string p;
  Writer w(&p);
  w.Varint(m.documents);
  w.Str(m.last_time);
  w.Str(m.last_file);
  return p;
}

Status DecodeExportHistory(std::string_view payload, ExportHistory* m) {
  Reader r(payload);
  m->documents = r.Varint();
  m->last_time = r.Str(kMaxName);
  m->last_file = r.Str(kMaxPath);
  return Finish(r, "ExportHistory");
}

namespace {

void PutInvoiced(const InvoicedDocuments& d, Writer* w) {
  PutDocuments(d.missing, w);
  PutDocuments(d.invoiced, w);
  for (const auto& [book, number] : d.numbers) {
    w->Str(book);
    w->Str(number);
  }
}

bool GetInvoiced(Reader* r, InvoicedDocuments* d) {
  if (!GetDocuments(r, &d->missing) || !GetDocuments(r, &d->invoiced))
    return false;
  d->numbers.clear();
  d->numbers.reserve(d->invoiced.size());
  for (size_t i = 0; i < d->invoiced.size() && r->ok(); ++i) {
    std::string book(r->Str(kMaxInvoiceText));
    std::string number(r->Str(kMaxInvoiceText));
    d->numbers.emplace_back(std::move(book), std::move(number));
  }
  return r->ok();
}

}  // namespace

std::string EncodeInvoiceState(const InvoiceState& m) {
  std::string p;
  Writer w(&p);
  PutInvoiced(m.sales, &w);
  PutInvoiced(m.void_documents, &w);
  return p;
}

Status DecodeInvoiceState(std::string_view payload, InvoiceState* m) {
  Reader r(payload);
  if (GetInvoiced(&r, &m->sales)) GetInvoiced(&r, &m->void_documents);
  return Finish(r, "InvoiceState");
}

std::string EncodeHelloOk(uint16_t version, std::string_view server) {
  std::string p;
  Writer w(&p);
  w.U16(version);
  w.Str(server);
  return p;
}

Status DecodeHelloOk(std::string_view payload, uint16_t* version,
                     std::string* server) {
  Reader r(payload);
  *version = r.U16();
  *server = r.Str(kMaxName);
  return Finish(r, "HelloOk");
}

std::string EncodeOk(int64_t rows_changed) {
  std::string p;
  Writer(&p).I64(rows_changed);
  return p;
}

Status DecodeOk(std::string_view payload, int64_t* rows_changed) {
  Reader r(payload);
  *rows_changed = r.I64();
  return Finish(r, "Ok");
}

std::string EncodeError(std::string_view message) {
  std::string p;
  Writer(&p).Str(message);
  return p;
}

Status DecodeError(std::string_view payload, std::string* message) {
  Reader r(payload);
  *message = r.Str();
  return Finish(r, "Error");
}

std::string EncodeRecordsEnd(uint64_t total_rows, bool exhausted) {
  std::string p;
  Writer w(&p);
  w.Varint(total_rows);
  w.U8(exhausted ? 1 : 0);
  return p;
}

Status DecodeRecordsEnd(std::string_view payload, uint64_t* total_rows,
                        bool* exhausted) {
  Reader r(payload);
  *total_rows = r.Varint();
  *exhausted = r.U8() != 0;
  return Finish(r, "RecordsEnd");
}

namespace {

void PutLayout(const std::vector<FieldDef>& layout, Writer* w) {
  w->Varint(layout.size());
  for (const FieldDef& f : layout) {
    w->Str(f.name);
    w->U8(static_cast<uint8_t>(f.type));
    w->U16(f.size);
    if (f.type == FieldType::kNested) PutLayout(f.nested, w);
  }
}

bool GetLayout(Reader* r, int depth, std::vector<FieldDef>* layout) {
  uint64_t n = r->Varint();
  if (!r->ok() || n == 0 || n > kMaxFields || depth > kMaxNesting) return false;
  layout->clear();
  layout->reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    FieldDef f;
    f.name = r->Str(kMaxName);
    uint8_t type = r->U8();
    f.size = r->U16();
    if (!r->ok() || f.name.empty()) return false;
    if (type < static_cast<uint8_t>(FieldType::kText) ||
        type > static_cast<uint8_t>(FieldType::kNested))
      return false;
    f.type = static_cast<FieldType>(type);
    if (f.type == FieldType::kNested && !GetLayout(r, depth + 1, &f.nested))
      return false;
    layout->push_back(std::move(f));
  }
  return true;
}

}  // namespace

void EncodeLayout(const std::vector<FieldDef>& layout, Writer* w) {
  PutLayout(layout, w);
}

Status DecodeLayout(std::string_view payload, std::vector<FieldDef>* layout) {
  Reader r(payload);
  if (!GetLayout(&r, 0, layout)) return Malformed("RecordsHeader");
  return Finish(r, "RecordsHeader");
}

std::string_view TextDecoder::Gbk(std::string_view utf8) {
  bool ascii = true;
  for (unsigned char c : utf8) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return utf8;
  auto it = memo_.find(utf8);
  if (it != memo_.end()) return it->second;
  if (memo_.size() >= 8192) memo_.clear();
  return memo_.emplace(std::string(utf8), text::Utf8ToGbk(utf8)).first->second;
}

std::string ChunkErrorText(const ChunkEnd& end) {
  std::string text = "malformed RecordsChunk message";
  if (end.kind == ChunkEnd::kBadRow) {
    text += ": row " + std::to_string(end.row) + " does not match the layout";
  }
  return text;
}

namespace {

// A visitor that keeps nothing: nested values are passed as well.
struct Passer {
  bool Text(size_t, std::string_view) { return true; }
  void Number(size_t, double) {}
  NestedRead Nested(size_t, const FieldDef&, uint64_t) {
    return NestedRead::kSkip;
  }
  bool NestedRow(uint64_t) { return true; }
  void EndNested() {}
};

}  // namespace

bool SkipRows(Reader* r, const std::vector<FieldDef>& layout, int depth,
              uint64_t n) {
  Passer passer;
  for (uint64_t i = 0; i < n; ++i) {
    if (chunk_internal::ReadRow(r, layout, depth, passer) !=
        chunk_internal::Step::kOk) {
      return false;
    }
  }
  return true;
}

bool RowDecoder::Take(size_t bytes) {
  if (!limited_) return true;
  if (bytes > budget_) {
    exceeded_ = true;
    return false;
  }
  budget_ -= bytes;
  return true;
}

namespace {

// The memory `n` rows of `fields` values take before their texts and
// nested rows (saturating: a count of hostile size never wraps).
size_t RowsCost(uint64_t n, size_t fields) {
  size_t row = sizeof(Row) + fields * sizeof(Value);
  if (n > SIZE_MAX / row) return SIZE_MAX;
  return static_cast<size_t>(n) * row;
}

}  // namespace

// Builds the rows of one chunk as ReadChunk() walks it, appending them to
// *rows and taking their memory from the decoder's budget as it goes.
class RowDecoder::Builder {
 public:
  Builder(RowDecoder* decoder, const std::vector<FieldDef>& layout,
          skjk::Rows* rows)
      : decoder_(decoder), layout_(layout), rows_(rows), first_(rows->size()) {}

  uint64_t count() const { return count_; }

  bool RowCount(uint64_t n) {
    count_ = n;
    if (!decoder_->Take(RowsCost(n, layout_.size()))) return false;
    rows_->resize(first_ + n);
    return true;
  }
  bool BeginRow(uint64_t i) {
    row_ = &(*rows_)[first_ + i];
    row_->values.resize(layout_.size());
    return true;
  }
  bool Text(size_t field, std::string_view utf8) {
    if (!decoder_->Take(utf8.size())) return false;
    row_->values[field].emplace<std::string>(decoder_->texts_.Gbk(utf8));
    return true;
  }
  void Number(size_t field, double v) { row_->values[field] = v; }
  NestedRead Nested(size_t field, const FieldDef& def, uint64_t n) {
    if (!decoder_->Take(RowsCost(n, def.nested.size()))) {
      return NestedRead::kStop;
    }
    skjk::Rows& rows = row_->values[field].emplace<skjk::Rows>();
    rows.resize(n);
    levels_[depth_++] = {row_, &rows, def.nested.size()};
    return NestedRead::kRead;
  }
  bool NestedRow(uint64_t i) {
    const Level& level = levels_[depth_ - 1];
    row_ = &(*level.rows)[i];
    row_->values.resize(level.width);
    return true;
  }
  void EndNested() { row_ = levels_[--depth_].parent; }

 private:
  // A nested value being read: the row holding it and its rows.
  struct Level {
    Row* parent;
    skjk::Rows* rows;
    size_t width;
  };

  RowDecoder* decoder_;
  const std::vector<FieldDef>& layout_;
  skjk::Rows* rows_;
  const size_t first_;
  uint64_t count_ = 0;
  Row* row_ = nullptr;  // the row whose values come
  Level levels_[kMaxNesting];
  int depth_ = 0;
};

static Status TooLarge(uint64_t rows) {
  return Status::BadInput(
      "RecordsChunk of " + std::to_string(rows) +
      " rows goes beyond the memory allowed for one answer");
}

Status RowDecoder::DecodeChunk(std::string_view payload,
                               const std::vector<FieldDef>& layout,
                               Rows* rows) {
  const size_t budget = budget_;
  const size_t before = rows->size();
  Builder builder(this, layout, rows);
  const ChunkEnd end = ReadChunk(payload, layout, builder);
  if (end.kind == ChunkEnd::kDone) return Status::OK();
  // Nothing of a failing chunk stays; a damaged one costs nothing, one
  // refused for its size keeps what it took.
  rows->resize(before);
  if (end.kind != ChunkEnd::kMalformed && exceeded_) {
    return TooLarge(builder.count());
  }
  budget_ = budget;
  return Status::BadInput(ChunkErrorText(end));
}

}  // namespace skjk::protocol
