// The one decoder of record chunks: walks the rows of a RecordsChunk payload
// value by value, checks each value against its field of the layout and
// hands it to a visitor, without building rows of its own. The protocol's
// RowDecoder builds Rows with it; a document set stores the values straight
// into its record store.
//
// A payload is a varint row count followed by that many rows of `layout`
// (see the Put* functions of wire/protocol.h). It is well formed when the
// layout is not empty, the count is at most the bytes that follow it, every
// value's tag fits its field (a null fits any), a nested value's row count
// is at most the bytes left and nests at most kMaxNesting levels deep, and
// the last row ends the payload.
//
// The visitor V is called in payload order (all calls inline; a call that
// returns false stops the walk, and the visitor keeps its own reason):
//   bool RowCount(uint64_t n);  the chunk's row count, before its rows
//   bool BeginRow(uint64_t i);  row i of the chunk (from 0) begins
//   bool Text(size_t field, std::string_view utf8);
//   void Number(size_t field, double v);  a number or a date-time
//   NestedRead Nested(size_t field, const FieldDef& def, uint64_t n);
//       a nested value of n rows of def.nested; kRead: its rows follow as
//       NestedRow() calls, each followed by its values, then EndNested();
//       kSkip: the walker checks and passes them without a call
//   bool NestedRow(uint64_t i);
//   void EndNested();
// `field` is the value's index in the layout of the row it belongs to. A
// null value makes no call. Exceptions of the visitor pass through.
#ifndef SKJK_WIRE_CHUNK_READER_H_
#define SKJK_WIRE_CHUNK_READER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/protocol.h"
#include "wire/records.h"

namespace skjk::protocol {

enum class NestedRead { kRead, kSkip, kStop };

// How a walk over a chunk ended.
struct ChunkEnd {
  enum Kind {
    kDone,       // every row was read; the payload ended with the last
    kMalformed,  // the count or the layout is wrong, or bytes follow
    kBadRow,     // row `row` (from 1) does not match the layout
    kStopped,    // a visitor call returned false in row `row` (0: before)
  };
  Kind kind = kDone;
  uint64_t row = 0;
};

// The message of a walk that ended kMalformed or kBadRow:
// "malformed RecordsChunk message[: row N does not match the layout]".
std::string ChunkErrorText(const ChunkEnd& end);

// Checks and passes the `n` rows of `layout` that lie `depth` levels below
// a record (1: the rows of a record's nested value); false when they are
// not well formed.
bool SkipRows(Reader* r, const std::vector<FieldDef>& layout, int depth,
              uint64_t n);

namespace chunk_internal {

enum class Step { kOk, kBad, kStopped };

// Reads one row of `layout`, `depth` levels below a record.
template <class V>
Step ReadRow(Reader* r, const std::vector<FieldDef>& layout, int depth,
             V& visitor) {
  for (size_t i = 0; i < layout.size(); ++i) {
    const FieldDef& f = layout[i];
    const auto tag = static_cast<Tag>(r->U8());
    if (!r->ok()) return Step::kBad;
    switch (tag) {
      case Tag::kNull:
        break;
      case Tag::kText: {
        if (f.type != FieldType::kText) return Step::kBad;
        const std::string_view s = r->Str();
        if (!r->ok()) return Step::kBad;
        if (!visitor.Text(i, s)) return Step::kStopped;
        break;
      }
      case Tag::kNumber:
      case Tag::kDateTime: {
        const FieldType want =
            tag == Tag::kNumber ? FieldType::kNumber : FieldType::kDateTime;
        if (f.type != want) return Step::kBad;
        const double d = r->Double();
        if (!r->ok()) return Step::kBad;
        visitor.Number(i, d);
        break;
      }
      case Tag::kNested: {
        if (f.type != FieldType::kNested || depth >= kMaxNesting) {
          return Step::kBad;
        }
        const uint64_t n = r->Varint();
        // Every row takes at least one byte per field.
        if (!r->ok() || n > r->remaining()) return Step::kBad;
        switch (visitor.Nested(i, f, n)) {
          case NestedRead::kStop:
            return Step::kStopped;
          case NestedRead::kSkip:
            if (!SkipRows(r, f.nested, depth + 1, n)) return Step::kBad;
            break;
          case NestedRead::kRead:
            for (uint64_t k = 0; k < n; ++k) {
              if (!visitor.NestedRow(k)) return Step::kStopped;
              const Step step = ReadRow(r, f.nested, depth + 1, visitor);
              if (step != Step::kOk) return step;
            }
            visitor.EndNested();
            break;
        }
        break;
      }
      default:
        return Step::kBad;
    }
  }
  return Step::kOk;
}

}  // namespace chunk_internal

// Walks `payload`, a chunk of rows of `layout`, calling `visitor` (see
// above). Stops at the first fault or refusal; what the visitor was told
// before it stays told.
template <class V>
ChunkEnd ReadChunk(std::string_view payload,
                   const std::vector<FieldDef>& layout, V& visitor) {
  using chunk_internal::Step;
  Reader r(payload);
  const uint64_t n = r.Varint();
  if (!r.ok() || n > r.remaining() || layout.empty()) {
    return {ChunkEnd::kMalformed, 0};
  }
  if (!visitor.RowCount(n)) return {ChunkEnd::kStopped, 0};
  for (uint64_t i = 0; i < n; ++i) {
    if (!visitor.BeginRow(i)) return {ChunkEnd::kStopped, i + 1};
    switch (chunk_internal::ReadRow(&r, layout, 0, visitor)) {
      case Step::kOk:
        break;
      case Step::kBad:
        return {ChunkEnd::kBadRow, i + 1};
      case Step::kStopped:
        return {ChunkEnd::kStopped, i + 1};
    }
  }
  if (!r.at_end()) return {ChunkEnd::kMalformed, 0};
  return {ChunkEnd::kDone, n};
}

}  // namespace skjk::protocol

#endif  // SKJK_WIRE_CHUNK_READER_H_
