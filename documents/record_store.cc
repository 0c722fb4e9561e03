#include "documents/record_store.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace skjk {
namespace {

// An empty number: a NaN no arithmetic produces (values that arrive as NaN
// are stored as the ordinary quiet NaN).
constexpr uint64_t kEmptyNumber = 0x7ff4'0000'0000'0e0eull;
constexpr uint32_t kNoLines = 0xffff'ffffu;
constexpr uint32_t kFirstTextBlock = 4096;
constexpr uint32_t kFirstShardSize = 16;

}  // namespace

uint32_t HashText(std::string_view s) {
  // FNV-1a (short texts, a few per record), its bits mixed at the end: the
  // high ones choose the shard, the low ones the place in it.
  uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}

RecordStore::RecordStore(const layouts::Layout* layout,
                         std::shared_ptr<MemoryBudget> budget)
    : budget_(std::move(budget)) {
  InitTable(*layout, &records_);
  for (size_t i = 0; i < layout->size(); ++i) {
    if ((*layout)[i].type == FieldType::kNested) {
      InitTable((*layout)[i].nested, &lines_);
      nested_field_ = static_cast<int>(i);
      break;
    }
  }
}

RecordStore::~RecordStore() { Release(memory_); }

void RecordStore::InitTable(const layouts::Layout& layout, Table* table) {
  // Eight-byte fields first, so that each starts on a multiple of eight
  // when the slot width is one.
  table->slots.assign(layout.size(), Slot{0, Kind::kNumber});
  uint32_t offset = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < layout.size(); ++i) {
      const bool text = layout[i].type == FieldType::kText;
      if (text != (pass == 1)) continue;
      Kind kind = text                                   ? Kind::kText
                  : layout[i].type == FieldType::kNested ? Kind::kLines
                                                         : Kind::kNumber;
      table->slots[i] = Slot{static_cast<uint16_t>(offset), kind};
      offset += text ? 4 : 8;
    }
  }
  table->width = std::max<uint32_t>(offset, 1);
}

bool RecordStore::Acquire(size_t bytes) {
  if (budget_ != nullptr && !budget_->Take(bytes)) return false;
  memory_ += bytes;
  return true;
}

void RecordStore::Release(size_t bytes) {
  if (budget_ != nullptr) budget_->Give(bytes);
  memory_ -= bytes;
}

size_t RecordStore::BlockBytes(const Table& t, size_t block) const {
  const size_t full = size_t{kBlockSlots} * t.width;
  // Only a store's first block may be smaller than a full one.
  if (block == 0 && t.blocks.size() == 1) return size_t{t.capacity} * t.width;
  return full;
}

template <typename T>
bool RecordStore::Enlarge(std::unique_ptr<T[]>* block, size_t old_count,
                          size_t count) {
  const size_t more = (count - old_count) * sizeof(T);
  if (!Acquire(more)) return false;
  std::unique_ptr<T[]> grown(new (std::nothrow) T[count]);
  if (grown == nullptr) {
    Release(more);
    return false;
  }
  if (old_count > 0) {
    std::memcpy(grown.get(), block->get(), old_count * sizeof(T));
  }
  *block = std::move(grown);
  return true;
}

template <typename T>
bool RecordStore::AppendBlock(std::vector<std::unique_ptr<T[]>>* blocks,
                              size_t count) {
  std::unique_ptr<T[]> block;
  if (!Enlarge(&block, 0, count)) return false;
  try {
    blocks->push_back(std::move(block));
  } catch (const std::bad_alloc&) {
    Release(count * sizeof(T));
    return false;
  }
  return true;
}

bool RecordStore::Grow(Table* t) {
  if (t->capacity < kBlockSlots) {
    // The first block grows by doubling up to a full block.
    const uint32_t slots = t->capacity == 0 ? 16 : t->capacity * 2;
    if (t->blocks.empty()) t->blocks.emplace_back();
    if (!Enlarge(&t->blocks[0], size_t{t->capacity} * t->width,
                 size_t{slots} * t->width)) {
      return false;
    }
    t->capacity = slots;
    return true;
  }
  if (t->capacity >= 0xffff'ffffu - kBlockSlots ||
      !AppendBlock(&t->blocks, size_t{kBlockSlots} * t->width)) {
    return false;
  }
  t->capacity += kBlockSlots;
  return true;
}

bool RecordStore::Add(Table* t) {
  if (t->count == t->capacity && !Grow(t)) return false;
  unsigned char* p = t->At(t->count);
  for (const Slot& s : t->slots) {
    switch (s.kind) {
      case Kind::kNumber:
        std::memcpy(p + s.offset, &kEmptyNumber, 8);
        break;
      case Kind::kText:
        std::memset(p + s.offset, 0, 4);
        break;
      case Kind::kLines: {
        const uint32_t run[2] = {0, kNoLines};
        std::memcpy(p + s.offset, run, 8);
        break;
      }
    }
  }
  ++t->count;
  return true;
}

void RecordStore::Put(Table* t, int field, double value) {
  if (std::isnan(value)) value = std::nan("");
  std::memcpy(t->At(t->count - 1) + t->slots[field].offset, &value, 8);
}

bool RecordStore::PutText(Table* t, int field, std::string_view gbk) {
  const uint32_t ref = Intern(gbk);
  if (ref == 0) return false;
  std::memcpy(t->At(t->count - 1) + t->slots[field].offset, &ref, 4);
  return true;
}

void RecordStore::SetLines(uint32_t first) {
  const uint32_t run[2] = {first, lines_.count - first};
  std::memcpy(
      records_.At(records_.count - 1) + records_.slots[nested_field_].offset,
      run, 8);
}

CellValue RecordStore::Read(const Table& t, uint32_t i, int field) const {
  const Slot s = t.slots[field];
  const unsigned char* p = t.At(i) + s.offset;
  switch (s.kind) {
    case Kind::kNumber: {
      uint64_t bits;
      std::memcpy(&bits, p, 8);
      if (bits == kEmptyNumber) return std::monostate();
      return std::bit_cast<double>(bits);
    }
    case Kind::kText: {
      uint32_t ref;
      std::memcpy(&ref, p, 4);
      if (ref == 0) return std::monostate();
      return TextAt(ref);
    }
    case Kind::kLines: {
      uint32_t run[2];
      std::memcpy(run, p, 8);
      if (run[1] == kNoLines) return std::monostate();
      return LineRun{run[0], run[1]};
    }
  }
  return std::monostate();
}

LineRun RecordStore::Lines(uint32_t record) const {
  if (nested_field_ < 0) return LineRun{};
  const CellValue lines = Read(records_, record, nested_field_);
  const LineRun* run = std::get_if<LineRun>(&lines);
  return run != nullptr ? *run : LineRun{};
}

void RecordStore::Truncate(uint32_t records, uint32_t lines) {
  if (records < records_.count) records_.count = records;
  if (lines < lines_.count) lines_.count = lines;
}

bool RecordStore::FreeSome(int blocks) {
  for (Table* t : {&lines_, &records_}) {
    t->count = 0;
    while (blocks > 0 && !t->blocks.empty()) {
      const size_t bytes = BlockBytes(*t, t->blocks.size() - 1);
      t->blocks.pop_back();
      t->capacity -= static_cast<uint32_t>(bytes / t->width);
      Release(bytes);
      --blocks;
    }
  }
  while (blocks > 0 && !text_blocks_.empty()) {
    const size_t bytes =
        text_blocks_.size() == 1 ? first_text_capacity_ : kTextBlock;
    text_blocks_.pop_back();
    Release(bytes);
    --blocks;
  }
  if (text_blocks_.empty()) {
    for (TextShard& shard : shards_) {
      if (shard.table == nullptr) continue;
      Release(size_t{shard.size} * sizeof(TextEntry));
      shard = TextShard();
    }
    text_end_ = 0;
    first_text_capacity_ = 0;
  }
  return !lines_.blocks.empty() || !records_.blocks.empty() ||
         !text_blocks_.empty();
}

// ---------------------------------------------------------------- texts

std::string_view RecordStore::TextAt(uint32_t ref) const {
  const char* p = text_blocks_[ref / kTextBlock].get() + ref % kTextBlock;
  uint16_t size;
  std::memcpy(&size, p, 2);
  return std::string_view(p + 2, size);
}

bool RecordStore::GrowShard(TextShard* shard) {
  const size_t size =
      shard->size == 0 ? kFirstShardSize : size_t{shard->size} * 2;
  if (size > (size_t{1} << 30)) return false;
  std::unique_ptr<TextEntry[]> table;
  if (!Enlarge(&table, 0, size)) return false;
  std::memset(table.get(), 0, size * sizeof(TextEntry));
  const size_t mask = size - 1;
  for (size_t i = 0; i < shard->size; ++i) {
    const TextEntry e = shard->table[i];
    if (e.ref == 0) continue;
    size_t j = e.hash & mask;
    while (table[j].ref != 0) j = (j + 1) & mask;
    table[j] = e;
  }
  if (shard->table != nullptr) {
    Release(size_t{shard->size} * sizeof(TextEntry));
  }
  shard->table = std::move(table);
  shard->size = static_cast<uint32_t>(size);
  return true;
}

uint32_t RecordStore::Intern(std::string_view gbk) {
  if (gbk.size() > 0xffff) gbk = gbk.substr(0, 0xffff);
  const uint32_t hash = HashText(gbk);
  TextShard& shard = shards_[hash >> (32 - kTextShardBits)];
  // At most two thirds full, so that probes stay short.
  if ((size_t{shard.count} + 1) * 3 > size_t{shard.size} * 2 &&
      !GrowShard(&shard)) {
    return 0;
  }
  const size_t mask = shard.size - 1;
  size_t j = hash & mask;
  for (; shard.table[j].ref != 0; j = (j + 1) & mask) {
    if (shard.table[j].hash == hash && TextAt(shard.table[j].ref) == gbk) {
      return shard.table[j].ref;
    }
  }

  // A new text: at the end of the last block, or at the start of a new one
  // when it does not fit there.
  const size_t need = 2 + gbk.size();
  uint64_t at = text_end_ == 0 ? 1 : text_end_;
  size_t block = at / kTextBlock;
  size_t pos = at % kTextBlock;
  if (pos + need > kTextBlock) {
    ++block;
    pos = 0;
    at = uint64_t{block} * kTextBlock;
  }
  if (at + need > 0xffff'ffffull) return 0;
  if (block == 0) {
    // The first block grows by doubling (4 KiB to 1 MiB), so it is whole by
    // the time a text no longer fits in it.
    if (pos + need > first_text_capacity_) {
      uint32_t capacity =
          first_text_capacity_ == 0 ? kFirstTextBlock : first_text_capacity_;
      while (capacity < pos + need) capacity *= 2;
      if (capacity > kTextBlock) capacity = kTextBlock;
      if (text_blocks_.empty()) text_blocks_.emplace_back();
      if (!Enlarge(&text_blocks_[0], first_text_capacity_, capacity)) return 0;
      first_text_capacity_ = capacity;
    }
  } else if (block >= text_blocks_.size() &&
             !AppendBlock(&text_blocks_, kTextBlock)) {
    return 0;
  }
  char* p = text_blocks_[block].get() + pos;
  const uint16_t size = static_cast<uint16_t>(gbk.size());
  std::memcpy(p, &size, 2);
  if (!gbk.empty()) std::memcpy(p + 2, gbk.data(), gbk.size());
  const uint32_t ref = static_cast<uint32_t>(at);
  text_end_ = at + need;
  shard.table[j] = TextEntry{ref, hash};
  ++shard.count;
  return ref;
}

}  // namespace skjk
