// Compact storage of a document set's records and their lines.
//
// A set of a year's documents holds millions of values; one heap object per
// value would take several times the values' own size and would have to be
// freed one by one. A RecordStore keeps them in few large blocks instead:
//
//  - Each record (and each line) is a fixed-width slot of its layout: a
//    number or a date-time takes 8 bytes (the double; an empty value is one
//    reserved NaN pattern), a text 4 bytes (a reference into the store's
//    texts, 0 when empty), the nested field 8 bytes (the first line and the
//    number of lines of the document in the line table). Slots lie in blocks
//    of kBlockSlots.
//  - Texts are held once each, whatever number of records carries them
//    (goods names, customers, banks repeat across thousands of documents):
//    their GBK bytes behind a two-byte length, in blocks of 1 MiB, found
//    again through one open-addressing table of references.
//  - A document's lines are one run of consecutive line slots.
//
// Every allocation is taken from a MemoryBudget first. When the budget (or
// the system) refuses, the appending call returns false and the store stays
// as it was before that call; the caller gives up the load and destroys or
// truncates the store.
//
// Not thread-safe. Nothing throws apart from std::bad_alloc when the system
// itself runs out of memory for the store's small bookkeeping vectors; the
// block allocations themselves report failure by their return value.
#ifndef SKJK_DOCUMENTS_RECORD_STORE_H_
#define SKJK_DOCUMENTS_RECORD_STORE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "wire/layouts.h"
#include "wire/records.h"

namespace skjk {

// The memory the stores of one window may take together. Stores take their
// blocks from it and give them back when freed.
class MemoryBudget {
 public:
  explicit MemoryBudget(size_t limit) : limit_(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // Takes `bytes`; false (and nothing taken) when they are not left.
  bool Take(size_t bytes) {
    if (bytes > limit_ - used_) return false;
    used_ += bytes;
    return true;
  }
  void Give(size_t bytes) { used_ -= bytes < used_ ? bytes : used_; }
  size_t used() const { return used_; }
  size_t limit() const { return limit_; }

  // The limit of a window's sets by default: in a 32-bit host, which has
  // 2 GB for itself and all its plug-ins, enough for two million documents
  // with their lines and still leaving the host most of the rest; in a
  // 64-bit process far more.
  static constexpr size_t kDefaultLimit =
      sizeof(void*) == 4 ? size_t{1280} << 20 : size_t{16} << 30;

 private:
  size_t limit_;
  size_t used_ = 0;
};

// The hash a RecordStore finds its texts by (the high bits choose the shard
// of the text table, the low ones the place in it). Different texts may
// share a hash; the store tells them apart by their bytes.
uint32_t HashText(std::string_view gbk);

class RecordStore {
 public:
  // Slots per block: large enough that a million documents take a few
  // hundred blocks, small enough that a set of ten takes little.
  static constexpr uint32_t kBlockSlots = 4096;

  // Records of the master layout `layout` (not copied; it must outlive the
  // store). When it has a nested field, that field's layout is the line
  // layout. Memory is taken from `budget` (shared, may be null: no limit).
  RecordStore(const layouts::Layout* layout,
              std::shared_ptr<MemoryBudget> budget);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // ---- Reading. Indexes must be in range.
  uint32_t size() const { return records_.size(); }
  uint32_t line_count() const { return lines_.size(); }
  // Field `field` of record `record` (a master layout index).
  CellValue Get(uint32_t record, int field) const {
    return Read(records_, record, field);
  }
  // Field `field` of line `line` (a line layout index).
  CellValue GetLine(uint32_t line, int field) const {
    return Read(lines_, line, field);
  }
  // The lines of record `record` (an empty run when it has none).
  LineRun Lines(uint32_t record) const;

  // Bytes the store holds (blocks and the text table).
  size_t memory() const { return memory_; }

  // ---- Appending. Each returns false when the memory is refused; the
  // store is then as it was before the call.
  // Appends a record (or a line) with every field empty.
  bool AddRecord() { return Add(&records_); }
  bool AddLine() { return Add(&lines_); }
  // Sets a field of the last record (or line). A text is stored as given
  // (the caller cuts it to its width); an empty text is a value, not empty.
  void SetNumber(int field, double value) { Put(&records_, field, value); }
  bool SetText(int field, std::string_view gbk) {
    return PutText(&records_, field, gbk);
  }
  void SetLineNumber(int field, double value) { Put(&lines_, field, value); }
  bool SetLineText(int field, std::string_view gbk) {
    return PutText(&lines_, field, gbk);
  }
  // Gives the last record the lines from `first` to the last line added.
  void SetLines(uint32_t first);

  // Drops records and lines from `records` and `lines` on (what a failed
  // load appended). Texts stay.
  void Truncate(uint32_t records, uint32_t lines);

  // Frees up to `blocks` blocks, the last first; false once nothing is
  // left. The store holds no records afterwards. For freeing a large store
  // in steps.
  bool FreeSome(int blocks);

 private:
  enum class Kind : uint8_t { kNumber, kText, kLines };
  struct Slot {
    uint16_t offset;
    Kind kind;
  };
  // Fixed-width slots of one layout in blocks.
  struct Table {
    std::vector<Slot> slots;  // by layout index
    uint32_t width = 0;       // bytes of one slot
    uint32_t count = 0;
    uint32_t capacity = 0;  // slots the blocks hold
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    uint32_t size() const { return count; }
    unsigned char* At(uint32_t i) const {
      return blocks[i / kBlockSlots].get() + (i % kBlockSlots) * width;
    }
  };
  static void InitTable(const layouts::Layout& layout, Table* table);
  CellValue Read(const Table& t, uint32_t i, int field) const;
  bool Add(Table* t);
  bool Grow(Table* t);
  void Put(Table* t, int field, double value);
  bool PutText(Table* t, int field, std::string_view gbk);
  size_t BlockBytes(const Table& t, size_t block) const;

  // Texts.
  uint32_t Intern(std::string_view gbk);  // 0 when memory is refused
  std::string_view TextAt(uint32_t ref) const;
  struct TextShard;
  bool GrowShard(TextShard* shard);
  bool Acquire(size_t bytes);
  void Release(size_t bytes);
  // Replaces *block (`old_count` elements, or none) by one of `count`
  // elements that begins with the old ones; the budget is charged the
  // difference. False (nothing changed) when the budget or the system
  // refuses.
  template <typename T>
  bool Enlarge(std::unique_ptr<T[]>* block, size_t old_count, size_t count);
  // Appends a block of `count` elements to *blocks; false when refused.
  template <typename T>
  bool AppendBlock(std::vector<std::unique_ptr<T[]>>* blocks, size_t count);

  std::shared_ptr<MemoryBudget> budget_;
  Table records_;
  Table lines_;
  int nested_field_ = -1;  // the master layout's nested field, or -1
  // Text blocks; a reference is the byte offset of a text's length in the
  // concatenation of kTextBlock-sized blocks (the first one grows up to
  // that size). Offset 0 is never a text.
  static constexpr uint32_t kTextBlock = 1u << 20;
  std::vector<std::unique_ptr<char[]>> text_blocks_;
  uint32_t first_text_capacity_ = 0;
  uint64_t text_end_ = 0;  // next free offset
  // The references of the texts with their hashes, in open-addressing
  // tables, one per shard of the hashes: a table that grows rehashes a
  // shard's texts only, never a million at once.
  struct TextEntry {
    uint32_t ref;
    uint32_t hash;
  };
  struct TextShard {
    std::unique_ptr<TextEntry[]> table;
    uint32_t size = 0;  // a power of two, or 0
    uint32_t count = 0;
  };
  static constexpr int kTextShardBits = 6;
  TextShard shards_[1 << kTextShardBits];
  size_t memory_ = 0;
};

}  // namespace skjk

#endif  // SKJK_DOCUMENTS_RECORD_STORE_H_
