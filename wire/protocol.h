// The wire protocol between the plug-in and skjk-server (docs/protocol.md).
//
// A frame is a 5-byte header (payload length as u32 little-endian, message
// type as one byte) followed by the payload. Integers are little-endian,
// lengths and counts are unsigned LEB128 varints, numbers are IEEE 754
// doubles. Texts travel as UTF-8: the server writes them as its database
// holds them; the client's decoder turns them into GBK.
//
// Everything here is portable (no sockets): the server and the client each
// move the bytes themselves and use this codec to build and check them.
// Decoding never trusts its input: every length is checked against the bytes
// that are there and against the limits below, and a failure is a Status
// naming what was wrong.
#ifndef SKJK_WIRE_PROTOCOL_H_
#define SKJK_WIRE_PROTOCOL_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "wire/records.h"

namespace skjk::protocol {

// The TCP port skjk-server listens on and the plug-in connects to when the
// server machine text names none.
inline constexpr int kDefaultServerPort = 21436;

inline constexpr uint16_t kVersion = 1;
inline constexpr char kMagic[4] = {'S', 'K', 'J', 'K'};
inline constexpr size_t kHeaderSize = 5;
// Largest payload either side accepts. A header announcing more is refused
// before anything is allocated.
inline constexpr uint32_t kMaxPayload = 16u << 20;
// Largest request payload the server accepts (an SQL text and a few names).
inline constexpr uint32_t kMaxRequestPayload = 1u << 20;
// The server closes a record chunk once it has grown past this size.
inline constexpr size_t kChunkTarget = 64u << 10;
// Limits of decoded structures.
inline constexpr size_t kMaxFields = 1024;
inline constexpr size_t kMaxParams = 64;
inline constexpr int kMaxNesting = 4;

enum class MessageType : uint8_t {
  // client -> server
  kHello = 0x01,          // magic, u16 version
  kGetRecords = 0x02,     // provider, i32 packet size, u8 flags, params
  kNextPacket = 0x03,     // provider, i32 packet size
  kExecute = 0x04,        // provider, sql
  kCall = 0x05,           // method
  kRecordExport = 0x06,   // an export run for the exchange journal
  kCheckExport = 0x07,    // which documents of an export went out before
  kCheckInvoices = 0x08,  // the invoice numbers the documents carry now
  // server -> client
  kHelloOk = 0x81,        // u16 version, server name
  kOk = 0x82,             // i64 rows changed (execute), 0 otherwise
  kError = 0x83,          // message
  kRecordsHeader = 0x84,  // layout
  kRecordsChunk = 0x85,   // varint row count, rows
  kRecordsEnd = 0x86,     // varint total rows, u8 exhausted
  kExportHistory = 0x87,  // answer of kCheckExport
  kInvoiceState = 0x88,   // answer of kCheckInvoices
};

// Flags of kGetRecords.
inline constexpr uint8_t kFlagWithLayout = 0x01;

// Value tags inside a row.
enum class Tag : uint8_t {
  kNull = 0,
  kText = 1,
  kNumber = 2,
  kDateTime = 3,
  kNested = 4,
};

// Appends encoded values to a byte string.
class Writer {
 public:
  explicit Writer(std::string* out) : out_(out) {}
  void U8(uint8_t v) { out_->push_back(static_cast<char>(v)); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I64(int64_t v);
  void Varint(uint64_t v);
  void Double(double v);
  void Str(std::string_view s) {
    Varint(s.size());
    out_->append(s);
  }
  std::string* out() { return out_; }

 private:
  std::string* out_;
};

// Reads encoded values from a byte range. The first failure sticks: later
// reads return zero values and ok() stays false.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  int64_t I64();
  uint64_t Varint();
  double Double();
  std::string_view Str(size_t max_size = kMaxPayload);
  bool ok() const { return ok_; }
  bool at_end() const { return pos_ == in_.size(); }
  size_t remaining() const { return in_.size() - pos_; }
  void Fail() { ok_ = false; }

 private:
  bool Need(size_t n);
  std::string_view in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Frame header.
void PutHeader(MessageType type, uint32_t payload_size, char out[kHeaderSize]);
struct Header {
  MessageType type;
  uint32_t size;
};
// Reads a header; refuses a payload larger than `max_payload`.
Status ParseHeader(const char in[kHeaderSize], uint32_t max_payload,
                   Header* header);
// A whole frame as one byte string.
std::string Frame(MessageType type, std::string_view payload);
// Name of a message type for messages and logs ("GetRecords"; "0x4f" for an
// unknown one).
std::string TypeName(uint8_t type);

// Requests.
struct Hello {
  uint16_t version = kVersion;
  // The desk the client runs on, as its system names it: the computer and
  // the user signed in (each at most kMaxDeskName bytes; may be empty). A
  // greeting without them is read as both empty.
  std::string computer;
  std::string user;
  bool operator==(const Hello&) const = default;
};
inline constexpr size_t kMaxDeskName = 128;

// Which documents of a business line an exchange concerns.
enum class DocumentKind : uint8_t {
  kSales = 1,  // the sales documents of the line
  kVoid = 2,   // the void documents
};

// Document numbers travel sorted and without repeats, as a count and the
// zigzag varint differences from the previous number (the first from 0):
// consecutive numbers take a byte each.
using DocumentNumbers = std::vector<int64_t>;

// One export run, recorded in the exchange journal after its file was
// closed, whether the run ended well or not. Answered by Ok with the
// journal entry's number.
struct RecordExport {
  std::string line;  // business line key: "Bbsk", "Fxsk" or "Jqsk"
  DocumentKind kind = DocumentKind::kSales;
  std::string first_date;  // the window's date range, "YYYY-MM-DD"
  std::string last_date;
  std::string file_name;  // full path as the client names it
  uint64_t file_size = 0;
  std::string file_hash;  // SHA-256 of the file's bytes, lower-case hex
  bool completed = false;
  std::string failure;        // why the run did not complete; empty when it did
  DocumentNumbers documents;  // the documents written into the file
  bool operator==(const RecordExport&) const = default;
};

// Asks which of `documents` were exported before (by any desk) and carry
// no invoice number yet. Answered by ExportHistory.
struct CheckExport {
  std::string line;
  DocumentKind kind = DocumentKind::kSales;
  DocumentNumbers documents;
  bool operator==(const CheckExport&) const = default;
};
struct ExportHistory {
  uint64_t documents = 0;  // how many of those asked about
  // The latest export among them: when (server time "YYYY-MM-DD HH:MM:SS")
  // and into which file. Empty when `documents` is 0.
  std::string last_time;
  std::string last_file;
  bool operator==(const ExportHistory&) const = default;
};

// Asks, before an issued-invoice file is written back, what the line's
// tables hold for the file's documents. `file_name` names the file for the
// journal entry of the write-back that follows in the session. Answered by
// InvoiceState.
struct CheckInvoices {
  std::string line;
  std::string file_name;
  DocumentNumbers sales;
  DocumentNumbers void_documents;
  bool operator==(const CheckInvoices&) const = default;
};
// What the line's tables hold for the documents of one kind: those that are
// not there, and those that carry an invoice number with the numbers they
// carry (book, number), in the order of `invoiced`.
struct InvoicedDocuments {
  DocumentNumbers missing;
  DocumentNumbers invoiced;
  std::vector<std::pair<std::string, std::string>> numbers;
  bool operator==(const InvoicedDocuments&) const = default;
};
struct InvoiceState {
  InvoicedDocuments sales;
  InvoicedDocuments void_documents;
  bool operator==(const InvoiceState&) const = default;
};
struct GetRecords {
  std::string provider;
  int32_t packet_size = -1;  // < 0: all records
  bool with_layout = false;
  std::vector<std::string> params;
};
struct NextPacket {
  std::string provider;
  int32_t packet_size = -1;
};
struct Execute {
  std::string provider;
  std::string sql;
};
struct Call {
  std::string method;
};

std::string EncodeHello(const Hello& m);
std::string EncodeGetRecords(const GetRecords& m);
std::string EncodeNextPacket(const NextPacket& m);
std::string EncodeExecute(const Execute& m);
std::string EncodeCall(const Call& m);
Status DecodeHello(std::string_view payload, Hello* m);
Status DecodeGetRecords(std::string_view payload, GetRecords* m);
Status DecodeNextPacket(std::string_view payload, NextPacket* m);
Status DecodeExecute(std::string_view payload, Execute* m);
Status DecodeCall(std::string_view payload, Call* m);
std::string EncodeRecordExport(const RecordExport& m);
std::string EncodeCheckExport(const CheckExport& m);
std::string EncodeCheckInvoices(const CheckInvoices& m);
Status DecodeRecordExport(std::string_view payload, RecordExport* m);
Status DecodeCheckExport(std::string_view payload, CheckExport* m);
Status DecodeCheckInvoices(std::string_view payload, CheckInvoices* m);

// Sorts `numbers` and drops repeats, as DocumentNumbers travel.
void NormalizeDocumentNumbers(DocumentNumbers* numbers);

// Answers.
std::string EncodeHelloOk(uint16_t version, std::string_view server);
std::string EncodeOk(int64_t rows_changed);
std::string EncodeError(std::string_view message);
Status DecodeHelloOk(std::string_view payload, uint16_t* version,
                     std::string* server);
Status DecodeOk(std::string_view payload, int64_t* rows_changed);
Status DecodeError(std::string_view payload, std::string* message);
std::string EncodeRecordsEnd(uint64_t total_rows, bool exhausted);
Status DecodeRecordsEnd(std::string_view payload, uint64_t* total_rows,
                        bool* exhausted);

std::string EncodeExportHistory(const ExportHistory& m);
std::string EncodeInvoiceState(const InvoiceState& m);
Status DecodeExportHistory(std::string_view payload, ExportHistory* m);
Status DecodeInvoiceState(std::string_view payload, InvoiceState* m);

// Layouts. Field names and sizes travel as they are; the decoder checks
// types, nesting depth and counts.
void EncodeLayout(const std::vector<FieldDef>& layout, Writer* w);
Status DecodeLayout(std::string_view payload, std::vector<FieldDef>* layout);

// Row values, written by the server field by field in layout order: each
// value is a tag and its content. A nested value is its row count followed by
// that many rows of the nested layout.
inline void PutNull(Writer* w) { w->U8(static_cast<uint8_t>(Tag::kNull)); }
inline void PutText(Writer* w, std::string_view utf8) {
  w->U8(static_cast<uint8_t>(Tag::kText));
  w->Str(utf8);
}
inline void PutNumber(Writer* w, double v) {
  w->U8(static_cast<uint8_t>(Tag::kNumber));
  w->Double(v);
}
inline void PutDateTime(Writer* w, double v) {
  w->U8(static_cast<uint8_t>(Tag::kDateTime));
  w->Double(v);
}
inline void PutNested(Writer* w, uint64_t row_count) {
  w->U8(static_cast<uint8_t>(Tag::kNested));
  w->Varint(row_count);
}

// Turns the UTF-8 texts of record chunks into GBK. Texts repeat a lot
// (customers, goods, banks), so the conversions of the last few thousand
// distinct texts are remembered.
class TextDecoder {
 public:
  // The GBK form of `utf8`; valid until the next call.
  std::string_view Gbk(std::string_view utf8);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::unordered_map<std::string, std::string, Hash, std::equal_to<>> memo_;
};

// Decodes the rows of record chunks into GBK rows (with ReadChunk() of
// wire/chunk_reader.h).
class RowDecoder {
 public:
  // Decodes one chunk payload of rows of `layout` and appends them to *rows.
  // A value whose tag does not fit its field is an error; nothing of a
  // failing chunk is appended.
  Status DecodeChunk(std::string_view payload,
                     const std::vector<FieldDef>& layout, Rows* rows);

  // Bounds the memory that the rows decoded from now on may take (their
  // structures and texts, as the decoder counts them before allocating):
  // a chunk that would go beyond it is refused before its rows are made and
  // exceeded() is then true. Without a limit, nothing is counted.
  void Limit(size_t bytes) {
    budget_ = bytes;
    limited_ = true;
    exceeded_ = false;
  }
  bool exceeded() const { return exceeded_; }

 private:
  class Builder;
  // Takes `bytes` from the budget; false when they are not left.
  bool Take(size_t bytes);
  TextDecoder texts_;
  size_t budget_ = 0;
  bool limited_ = false;
  bool exceeded_ = false;
};

}  // namespace skjk::protocol

#endif  // SKJK_WIRE_PROTOCOL_H_
