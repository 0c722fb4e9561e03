#include "documents/document_set.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

#include "text/forms.h"
#include "text/gbk.h"
#include "wire/chunk_reader.h"
#include "wire/protocol.h"

namespace skjk {

using text::literals::operator""_gbk;

namespace {

int FindField(const std::vector<FieldDef>& fields, std::string_view name) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (text::EqualsIgnoringCase(fields[i].name, name))
      return static_cast<int>(i);
  }
  return -1;
}

Status FieldNotFound(std::string_view name) {
  return Status::Error("Field '" + std::string(name) + "' not found");
}

Status TypeMismatch(std::string_view name, std::string_view expecting,
                    std::string_view actual) {
  return Status::Error("Type mismatch for field '" + std::string(name) +
                       "', expecting: " + std::string(expecting) +
                       " actual: " + std::string(actual));
}

// The type name of a value as it arrived.
std::string_view ValueTypeName(const Value& v, FieldType declared) {
  switch (v.index()) {
    case 1:
      return FieldTypeName(FieldType::kText);
    case 2:
      return declared == FieldType::kDateTime
                 ? FieldTypeName(FieldType::kDateTime)
                 : FieldTypeName(FieldType::kNumber);
    case 3:
      return FieldTypeName(FieldType::kNested);
  }
  return "Null";
}

// Matches the expected fields against the delivered ones: every expected
// field must be there with its kind of type. `columns` gets the delivered
// position of each expected field. A nested field's lines are matched the
// same way into `line_columns`/`line_width`.
Status MatchLayout(const layouts::Layout& expected,
                   const std::vector<FieldDef>& delivered,
                   std::vector<int>* columns, std::vector<int>* line_columns,
                   int* line_width) {
  columns->assign(expected.size(), -1);
  for (size_t i = 0; i < expected.size(); ++i) {
    const FieldDef& want = expected[i];
    int j = FindField(delivered, want.name);
    if (j < 0) return FieldNotFound(want.name);
    const FieldDef& got = delivered[j];
    if (got.type != want.type) {
      return TypeMismatch(want.name, FieldTypeName(want.type),
                          FieldTypeName(got.type));
    }
    (*columns)[i] = j;
    if (want.type == FieldType::kNested && line_columns != nullptr) {
      SKJK_RETURN_IF_ERROR(
          MatchLayout(want.nested, got.nested, line_columns, nullptr, nullptr));
      *line_width = static_cast<int>(got.nested.size());
    }
  }
  return Status::OK();
}

std::string FormatDateTime(double days) {
  // Far outside any calendar in use: shown as a number.
  if (!std::isfinite(days) || std::fabs(days) > 3e6) {
    return FormatValue(FieldType::kNumber, CellValue(days));
  }
  double whole = std::floor(days);
  int64_t seconds = std::llround((days - whole) * 86400.0);
  if (seconds >= 86400) {
    whole += 1;
    seconds -= 86400;
  }
  std::optional<text::Day> day = text::DayOf(whole);
  if (!day) return FormatValue(FieldType::kNumber, CellValue(days));
  std::string out = text::IsoDate(*day);
  if (seconds != 0) {
    char buf[16];
    std::snprintf(
        buf, sizeof buf, " %02d:%02d:%02d", static_cast<int>(seconds / 3600),
        static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    out += buf;
  }
  return out;
}

}  // namespace

std::string_view FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::kText:
      return "String";
    case FieldType::kNumber:
      return "Float";
    case FieldType::kDateTime:
      return "DateTime";
    case FieldType::kNested:
      return "DataSet";
  }
  return "Unknown";
}

std::string FormatValue(FieldType type, const CellValue& value) {
  if (const auto* s = std::get_if<std::string_view>(&value)) {
    return std::string(*s);
  }
  if (const double* d = std::get_if<double>(&value)) {
    if (type == FieldType::kDateTime) return FormatDateTime(*d);
    double x = *d == 0 ? 0.0 : *d;  // no "-0"
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", x);
    return buf;
  }
  if (std::holds_alternative<LineRun>(value)) return "(DataSet)";
  return std::string();
}

std::string OutOfMemoryText(uint64_t documents_received) {
  return "内存不足，容纳不下查询到的单据（收到 "_gbk +
         std::to_string(documents_received) +
         " 张时停止），本次查询已放弃。请缩小日期区间后重新查询。"_gbk;
}

// ---------------------------------------------------------------- RecordSet

RecordSet::RecordSet(std::string name, const layouts::Layout* layout)
    : name_(std::move(name)), layout_(layout) {}

RecordSet::~RecordSet() = default;

int RecordSet::FieldIndex(std::string_view name) const {
  return FindField(*layout_, name);
}

int RecordSet::RecordCount() const {
  View v = CurrentView();
  if (v.store == nullptr) return 0;
  return static_cast<int>(v.visible != nullptr ? v.visible->size() : v.count);
}

int64_t RecordSet::IndexIn(const View& v, int record) {
  if (v.store == nullptr || record < 0) return -1;
  if (v.visible != nullptr) {
    if (static_cast<size_t>(record) >= v.visible->size()) return -1;
    return (*v.visible)[record];
  }
  if (static_cast<uint32_t>(record) >= v.count) return -1;
  return int64_t{v.first} + record;
}

CellValue RecordRef::operator[](int field) const {
  if (store_ == nullptr || field < 0 || field >= field_count_) {
    return std::monostate();
  }
  return line_ ? store_->GetLine(index_, field) : store_->Get(index_, field);
}

RecordRef RecordSet::Record(int record) const {
  View v = CurrentView();
  const int64_t i = IndexIn(v, record);
  if (i < 0) return RecordRef();
  return RecordRef(v.store, v.lines, static_cast<uint32_t>(i), FieldCount());
}

CellValue RecordSet::Cell(int record, int field) const {
  return Record(record)[field];
}

std::string RecordSet::CellText(int record, int field) const {
  if (field < 0 || field >= FieldCount()) return std::string();
  return FormatValue((*layout_)[field].type, Cell(record, field));
}

void RecordSet::ResetCursor() {
  recno_ = 0;
  eof_ = RecordCount() == 0;
}

void RecordSet::First() {
  ResetCursor();
  CursorChanged();
  NotifyCursorMoved();
  FireAfterScroll();
}

void RecordSet::Next() {
  int count = RecordCount();
  if (recno_ + 1 < count) {
    ++recno_;
    eof_ = false;
    CursorChanged();
    NotifyCursorMoved();
  } else if (!eof_) {
    eof_ = true;
    NotifyCursorMoved();
  }
  FireAfterScroll();
}

void RecordSet::MoveTo(int i) {
  int count = RecordCount();
  int target = std::clamp(i, 0, std::max(count - 1, 0));
  bool moved = target != recno_;
  bool eof_changed = eof_ != (count == 0);
  recno_ = target;
  eof_ = count == 0;
  if (moved) CursorChanged();
  if (moved || eof_changed) NotifyCursorMoved();
  FireAfterScroll();
}

Status RecordSet::CheckActive() const {
  if (active()) return Status::OK();
  return Status::Error(name_ +
                       ": Cannot perform this operation on a closed dataset");
}

Result<int> RecordSet::CheckedField(std::string_view name) const {
  SKJK_RETURN_IF_ERROR(CheckActive());
  int i = FieldIndex(name);
  if (i < 0) return FieldNotFound(name);
  return i;
}

CellValue RecordSet::CurrentValue(int field) const {
  return Cell(recno_, field);
}

Result<CellValue> RecordSet::FieldValue(std::string_view name) const {
  Result<int> i = CheckedField(name);
  if (!i.ok()) return i.status();
  return CurrentValue(*i);
}

Result<std::string> RecordSet::AsString(std::string_view name) const {
  Result<int> i = CheckedField(name);
  if (!i.ok()) return i.status();
  return FormatValue((*layout_)[*i].type, CurrentValue(*i));
}

Result<double> RecordSet::AsFloat(std::string_view name) const {
  Result<int> i = CheckedField(name);
  if (!i.ok()) return i.status();
  const CellValue v = CurrentValue(*i);
  if (const double* d = std::get_if<double>(&v)) return *d;
  if (const auto* s = std::get_if<std::string_view>(&v)) {
    std::string_view t = *s;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (t.empty()) return 0.0;
    if (t.front() == '+') t.remove_prefix(1);
    double x = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
    if (ec != std::errc() || end != t.data() + t.size()) {
      return Status::Error("'" + std::string(*s) +
                           "' is not a valid floating point value");
    }
    return x;
  }
  if (std::holds_alternative<LineRun>(v)) {
    return TypeMismatch((*layout_)[*i].name, FieldTypeName(FieldType::kNumber),
                        FieldTypeName(FieldType::kNested));
  }
  return 0.0;
}

Result<double> RecordSet::AsDateTime(std::string_view name) const {
  return AsFloat(name);
}

Result<int64_t> RecordSet::AsInteger(std::string_view name) const {
  Result<double> x = AsFloat(name);
  if (!x.ok()) return x.status();
  // 2^63 is exactly representable; anything at or beyond it is out of range.
  if (!std::isfinite(*x) || std::fabs(*x) >= 9223372036854775807.0) {
    return Status::Error("'" + FormatValue(FieldType::kNumber, CellValue(*x)) +
                         "' is not a valid integer value");
  }
  return static_cast<int64_t>(std::llround(*x));
}

Result<bool> RecordSet::IsNull(std::string_view name) const {
  Result<CellValue> v = FieldValue(name);
  if (!v.ok()) return v.status();
  return std::holds_alternative<std::monostate>(*v);
}

void RecordSet::AddObserver(RecordSetObserver* observer) {
  if (observer != nullptr && std::find(observers_.begin(), observers_.end(),
                                       observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void RecordSet::RemoveObserver(RecordSetObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                   observers_.end());
}

void RecordSet::DisableControls() { ++disable_count_; }

void RecordSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0) FlushPending();
}

void RecordSet::NotifyDataChanged() {
  if (ControlsDisabled()) {
    pending_data_ = true;
    return;
  }
  std::vector<RecordSetObserver*> observers = observers_;
  for (RecordSetObserver* o : observers) o->DataChanged();
}

void RecordSet::NotifyCursorMoved() {
  if (ControlsDisabled()) {
    pending_cursor_ = true;
    return;
  }
  std::vector<RecordSetObserver*> observers = observers_;
  for (RecordSetObserver* o : observers) o->CursorMoved();
}

void RecordSet::FlushPending() {
  if (ControlsDisabled()) return;
  bool data = pending_data_;
  bool cursor = pending_cursor_;
  pending_data_ = pending_cursor_ = false;
  if (data) {
    NotifyDataChanged();
  } else if (cursor) {
    NotifyCursorMoved();
  }
}

void RecordSet::FireAfterScroll() {
  if (after_scroll_) after_scroll_(*this);
}

// ---------------------------------------------------------------- DetailSet

DetailSet::DetailSet(std::string name, DocumentSet* master, int master_field,
                     const layouts::Layout* layout)
    : RecordSet(std::move(name), layout),
      master_(master),
      line_field_(master->fields()[master_field].name) {}

bool DetailSet::active() const { return master_->active(); }

bool DetailSet::ControlsDisabled() const {
  return RecordSet::ControlsDisabled() || master_->ControlsDisabled();
}

RecordSet::View DetailSet::CurrentView() const {
  View v;
  if (!master_->active()) return v;
  const int64_t document = master_->CurrentIndex();
  if (document < 0) return v;
  const LineRun run = master_->store_->Lines(static_cast<uint32_t>(document));
  v.store = master_->store_.get();
  v.lines = true;
  v.first = run.first;
  v.count = run.count;
  return v;
}

void DetailSet::Follow() {
  ResetCursor();
  NotifyDataChanged();
}

// ------------------------------------------------------------------ Loader

// Takes one load's records into the store: checks them against the
// expected layout and stores them field by field as they arrive, straight
// from the wire or from decoded rows.
class DocumentSet::Loader final : public RecordReceiver {
 public:
  // `opening`: the load of Open(), which matches the delivered layout and
  // keeps the match in the set; otherwise a next packet, whose layout must
  // match the set's.
  Loader(DocumentSet* set, RecordStore* store, bool opening)
      : set_(set), store_(store), opening_(opening) {}

  Status Layout(std::vector<FieldDef> layout) override {
    std::vector<int> columns, line_columns;
    int line_width = 0;
    SKJK_RETURN_IF_ERROR(MatchLayout(set_->fields(), layout, &columns,
                                     &line_columns, &line_width));
    const int width = static_cast<int>(layout.size());
    if (opening_) {
      set_->columns_ = std::move(columns);
      set_->line_columns_ = std::move(line_columns);
      set_->line_width_ = line_width;
      set_->packet_width_ = width;
    } else if (columns != set_->columns_ ||
               line_columns != set_->line_columns_ ||
               line_width != set_->line_width_ ||
               width != set_->packet_width_) {
      return Status::Error(set_->provider_ +
                           ": the layout changed between packets");
    }
    delivered_ = std::move(layout);
    has_layout_ = true;
    return Status::OK();
  }

  Status Chunk(std::string_view payload) override {
    SKJK_RETURN_IF_ERROR(NeedLayout());
    if (delivered_.empty()) return Malformed({protocol::ChunkEnd::kMalformed});
    if (plan_.empty()) MakePlan();
    protocol::ChunkEnd end;
    try {
      end = protocol::ReadChunk(payload, delivered_, *this);
    } catch (const std::bad_alloc&) {
      return OutOfMemory();
    }
    switch (end.kind) {
      case protocol::ChunkEnd::kDone:
        return Status::OK();
      case protocol::ChunkEnd::kStopped:
        return OutOfMemory();
      default:
        return Malformed(end);
    }
  }

  // ---- The visitor of protocol::ReadChunk(): each record goes straight
  // into the store, its values where the plan puts them. A false return or
  // NestedRead::kStop means that the store refused memory.
  bool RowCount(uint64_t) { return true; }
  bool BeginRow(uint64_t) {
    if (!store_->AddRecord()) return false;
    ++received_;
    first_line_ = store_->line_count();
    has_lines_ = false;
    lines_ = nullptr;
    return true;
  }
  bool Text(size_t column, std::string_view utf8) {
    const Column& c = ColumnAt(column);
    if (c.field < 0) return true;
    const std::string_view gbk = Cut(texts_.Gbk(utf8), c.width);
    return lines_ != nullptr ? store_->SetLineText(c.field, gbk)
                             : store_->SetText(c.field, gbk);
  }
  void Number(size_t column, double d) {
    const Column& c = ColumnAt(column);
    if (c.field < 0) return;
    if (lines_ != nullptr) {
      store_->SetLineNumber(c.field, d);
    } else {
      store_->SetNumber(c.field, d);
    }
  }
  // The lines of a record are its first nested field that the set reads;
  // any other nested value (one the set does not read, or one inside a
  // line) is passed.
  protocol::NestedRead Nested(size_t column, const FieldDef&, uint64_t) {
    if (lines_ != nullptr) return protocol::NestedRead::kSkip;
    const Column& c = plan_[column];
    if (c.field < 0 || has_lines_) return protocol::NestedRead::kSkip;
    lines_ = &c.lines;
    return protocol::NestedRead::kRead;
  }
  bool NestedRow(uint64_t) { return store_->AddLine(); }
  void EndNested() {
    store_->SetLines(first_line_);
    has_lines_ = true;
    lines_ = nullptr;
  }

  Status Records(Rows rows) override {
    SKJK_RETURN_IF_ERROR(NeedLayout());
    const layouts::Layout& layout = set_->fields();
    const layouts::Layout* lines =
        set_->line_field_ >= 0 ? &layout[set_->line_field_].nested : nullptr;
    try {
      for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        SKJK_RETURN_IF_ERROR(CheckWidth(row, set_->packet_width_, "Record", r));
        SKJK_RETURN_IF_ERROR(CheckKinds(row, layout, set_->columns_));
        if (!store_->AddRecord()) return OutOfMemory();
        ++received_;
        for (size_t f = 0; f < layout.size(); ++f) {
          const Value& v = row.values[set_->columns_[f]];
          const int field = static_cast<int>(f);
          if (const auto* text = std::get_if<std::string>(&v)) {
            if (!store_->SetText(field, Cut(*text, layout[f].size)))
              return OutOfMemory();
          } else if (const double* d = std::get_if<double>(&v)) {
            store_->SetNumber(field, *d);
          } else if (const auto* nested = std::get_if<Rows>(&v)) {
            const uint32_t first = store_->line_count();
            for (size_t l = 0; l < nested->size(); ++l) {
              const Row& line = (*nested)[l];
              SKJK_RETURN_IF_ERROR(
                  CheckWidth(line, set_->line_width_, "Line", l));
              SKJK_RETURN_IF_ERROR(
                  CheckKinds(line, *lines, set_->line_columns_));
              if (!AddLine(line, *lines)) return OutOfMemory();
            }
            store_->SetLines(first);
          }
        }
      }
    } catch (const std::bad_alloc&) {
      return OutOfMemory();
    }
    return Status::OK();
  }

  // After the source has finished.
  Status Finish() { return NeedLayout(); }

 private:
  // Where a delivered column goes: its expected field (or -1: not kept)
  // and that field's text width; a nested column's line columns.
  struct Column {
    const FieldDef* def;
    int field;
    uint16_t width;
    std::vector<Column> lines;
  };

  Status NeedLayout() {
    if (has_layout_ || !opening_) return Status::OK();
    // Records without a layout: nothing to match them against.
    return Layout({});
  }

  void MakePlan() {
    const layouts::Layout& layout = set_->fields();
    plan_ = PlanOf(delivered_, layout, set_->columns_);
    if (set_->line_field_ < 0) return;
    const int nested = set_->columns_[set_->line_field_];
    plan_[nested].lines =
        PlanOf(delivered_[nested].nested, layout[set_->line_field_].nested,
               set_->line_columns_);
  }

  static std::vector<Column> PlanOf(const std::vector<FieldDef>& delivered,
                                    const layouts::Layout& expected,
                                    const std::vector<int>& columns) {
    std::vector<Column> plan;
    for (const FieldDef& f : delivered) plan.push_back({&f, -1, 0, {}});
    for (size_t i = 0; i < expected.size(); ++i) {
      plan[columns[i]].field = static_cast<int>(i);
      plan[columns[i]].width = expected[i].size;
    }
    return plan;
  }

  // Column `column` of the delivered layout, or of its lines while a
  // record's lines are read.
  const Column& ColumnAt(size_t column) const {
    return lines_ != nullptr ? (*lines_)[column] : plan_[column];
  }

  bool AddLine(const Row& line, const layouts::Layout& layout) {
    if (!store_->AddLine()) return false;
    for (size_t f = 0; f < layout.size(); ++f) {
      const Value& v = line.values[set_->line_columns_[f]];
      const int field = static_cast<int>(f);
      if (const auto* text = std::get_if<std::string>(&v)) {
        if (!store_->SetLineText(field, Cut(*text, layout[f].size)))
          return false;
      } else if (const double* d = std::get_if<double>(&v)) {
        store_->SetLineNumber(field, *d);
      }
    }
    return true;
  }

  static std::string_view Cut(std::string_view gbk, uint16_t width) {
    return gbk.size() > width ? text::TruncateGbk(gbk, width) : gbk;
  }

  static Status CheckWidth(const Row& row, int width, const char* what,
                           size_t index) {
    if (row.values.size() == static_cast<size_t>(width)) return Status::OK();
    return Status::Error(std::string(what) + " " + std::to_string(index + 1) +
                         " has " + std::to_string(row.values.size()) +
                         " values, its layout " + std::to_string(width) +
                         " fields");
  }

  // Every value of `row` must be empty or of its field's kind.
  static Status CheckKinds(const Row& row, const layouts::Layout& layout,
                           const std::vector<int>& columns) {
    for (size_t f = 0; f < layout.size(); ++f) {
      const Value& v = row.values[columns[f]];
      const size_t kind = layout[f].type == FieldType::kText     ? 1
                          : layout[f].type == FieldType::kNested ? 3
                                                                 : 2;
      if (v.index() == 0 || v.index() == kind) continue;
      return TypeMismatch(layout[f].name, FieldTypeName(layout[f].type),
                          ValueTypeName(v, layout[f].type));
    }
    return Status::OK();
  }

  Status OutOfMemory() const {
    return Status::Error(OutOfMemoryText(received_));
  }
  static Status Malformed(const protocol::ChunkEnd& end) {
    return Status::LinkLost(protocol::ChunkErrorText(end));
  }

  DocumentSet* set_;
  RecordStore* store_;
  bool opening_;
  bool has_layout_ = false;
  std::vector<FieldDef> delivered_;
  std::vector<Column> plan_;
  // While a record is read: where its lines begin in the store, whether
  // they were stored, and the plan of the lines being read (else null).
  uint32_t first_line_ = 0;
  bool has_lines_ = false;
  const std::vector<Column>* lines_ = nullptr;
  protocol::TextDecoder texts_;
  uint64_t received_ = 0;
};

// -------------------------------------------------------------- DocumentSet

DocumentSet::ReceiveRecordsFn RequestsOver(Connection& connection) {
  return [&connection](std::string_view provider, int packet_size,
                       bool with_layout, const std::vector<std::string>& params,
                       RecordReceiver* receiver) {
    return connection.GetRecords(provider, packet_size, with_layout, params,
                                 receiver);
  };
}

DocumentSet::DocumentSet(std::string name, ReceiveRecordsFn receive_records,
                         std::string provider, int packet_size,
                         const layouts::Layout* layout, std::string detail_name)
    : RecordSet(std::move(name), layout),
      receive_records_(std::move(receive_records)),
      provider_(std::move(provider)),
      packet_size_(packet_size <= 0 ? Connection::kAllRecords : packet_size),
      budget_(std::make_shared<MemoryBudget>(MemoryBudget::kDefaultLimit)) {
  for (size_t i = 0; i < layout->size(); ++i) {
    if ((*layout)[i].type == FieldType::kNested) {
      line_field_ = static_cast<int>(i);
      detail_.reset(new DetailSet(std::move(detail_name), this, line_field_,
                                  &(*layout)[i].nested));
      break;
    }
  }
}

DocumentSet::~DocumentSet() = default;

int64_t DocumentSet::CurrentIndex() const {
  return IndexIn(CurrentView(), recno_);
}

RecordSet::View DocumentSet::CurrentView() const {
  View v;
  if (!active_) return v;
  v.store = store_.get();
  v.count = count_;
  if (filter_) v.visible = &visible_;
  return v;
}

void DocumentSet::CursorChanged() {
  if (detail_) detail_->Follow();
}

void DocumentSet::FlushPending() {
  RecordSet::FlushPending();
  if (detail_) detail_->FlushPending();
}

Status DocumentSet::Open(std::vector<std::string> params) {
  Close();
  params_ = std::move(params);
  Status s;
  std::unique_ptr<RecordStore> store;
  try {
    store = std::make_unique<RecordStore>(&fields(), budget_);
    Loader loader(this, store.get(), /*opening=*/true);
    s = receive_records_(provider_, packet_size_, true, params_, &loader);
    if (s.ok()) s = loader.Finish();
  } catch (const std::bad_alloc&) {
    s = Status::Error(OutOfMemoryText(store != nullptr ? store->size() : 0));
  }
  if (!s.ok()) {
    columns_.clear();
    line_columns_.clear();
    return s;
  }
  store_ = std::move(store);
  count_ = store_->size();
  active_ = true;
  exhausted_ =
      !is_packet_set() || count_ != static_cast<uint32_t>(packet_size_);
  RebuildVisible(0);
  ResetCursor();
  CursorChanged();
  NotifyDataChanged();
  if (after_open_) after_open_(*this);
  if (RecordCount() > 0) FireAfterScroll();
  return Status::OK();
}

void DocumentSet::Close() {
  if (!active_) return;
  active_ = false;
  exhausted_ = true;
  store_.reset();
  count_ = 0;
  std::vector<int>().swap(visible_);
  ResetCursor();
  CursorChanged();
  NotifyDataChanged();
}

void DocumentSet::Close(std::unique_ptr<RecordStore>* released) {
  released->reset();
  if (active_) *released = std::move(store_);
  Close();
}

Result<int> DocumentSet::NextPacket() {
  SKJK_RETURN_IF_ERROR(CheckActive());
  if (exhausted_) return 0;
  const uint32_t old_records = store_->size();
  const uint32_t old_lines = store_->line_count();
  Status s;
  try {
    Loader loader(this, store_.get(), /*opening=*/false);
    s = receive_records_(provider_, packet_size_, false, {}, &loader);
  } catch (const std::bad_alloc&) {
    s = Status::Error(OutOfMemoryText(store_->size() - old_records));
  }
  if (!s.ok()) {
    store_->Truncate(old_records, old_lines);
    return s;
  }
  const uint32_t received = store_->size() - old_records;
  exhausted_ = received != static_cast<uint32_t>(packet_size_);
  if (received == 0) return 0;
  count_ = store_->size();
  RebuildVisible(old_records);
  if (RecordCount() > RecNo() + 1) SetEof(false);
  NotifyDataChanged();
  return static_cast<int>(received);
}

void DocumentSet::RebuildVisible(uint32_t from) {
  if (!filter_) {
    std::vector<int>().swap(visible_);
    return;
  }
  if (from == 0) visible_.clear();
  for (uint32_t i = from; i < count_; ++i) {
    if (filter_(*this, static_cast<int>(i))) {
      visible_.push_back(static_cast<int>(i));
    }
  }
}

void DocumentSet::SetFilter(RecordFilter filter) {
  filter_ = std::move(filter);
  RebuildVisible(0);
  if (!active_) return;
  ResetCursor();
  CursorChanged();
  NotifyDataChanged();
}

CellValue DocumentSet::RawValue(int record, int field) const {
  if (store_ == nullptr || record < 0 ||
      static_cast<uint32_t>(record) >= count_ || field < 0 ||
      field >= FieldCount()) {
    return std::monostate();
  }
  return store_->Get(static_cast<uint32_t>(record), field);
}

}  // namespace skjk
