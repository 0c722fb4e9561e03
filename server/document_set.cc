#include "server/document_set.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

#include "text/forms.h"
#include "text/gbk.h"

namespace skjk {
namespace {

const Value kEmptyValue;

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

// One field's check on load: where its value sits and what it may hold.
struct FieldCheck {
  int column;
  size_t kind;  // Value index of a value of this field (1 text, 2, 3)
  uint16_t size;
  const FieldDef* field;
};

std::vector<FieldCheck> MakeChecks(const layouts::Layout& layout,
                                   const std::vector<int>& columns) {
  std::vector<FieldCheck> checks;
  checks.reserve(layout.size());
  for (size_t i = 0; i < layout.size(); ++i) {
    const FieldDef& f = layout[i];
    size_t kind = f.type == FieldType::kText     ? 1
                  : f.type == FieldType::kNested ? 3
                                                 : 2;
    checks.push_back({columns[i], kind, f.size, &f});
  }
  return checks;
}

// Checks one record (or line) against the layout, cutting texts to width.
// Runs for every value of a load, so the common path is kept short.
Status CheckValues(Row* row, const std::vector<FieldCheck>& checks,
                   size_t width, const char* what, size_t index) {
  if (row->values.size() != width) {
    return Status::Error(std::string(what) + " " + std::to_string(index + 1) +
                         " has " + std::to_string(row->values.size()) +
                         " values, its layout " + std::to_string(width) +
                         " fields");
  }
  Value* values = row->values.data();
  for (const FieldCheck& c : checks) {
    Value& v = values[c.column];
    const size_t kind = v.index();
    if (kind == 1) {
      if (c.kind == 1) {
        std::string& s = *std::get_if<std::string>(&v);
        if (s.size() > c.size) s.resize(text::TruncateGbk(s, c.size).size());
        continue;
      }
    } else if (kind == c.kind || kind == 0) {
      continue;
    }
    return TypeMismatch(c.field->name, FieldTypeName(c.field->type),
                        ValueTypeName(v, c.field->type));
  }
  return Status::OK();
}

std::string FormatDateTime(double days) {
  // Far outside any calendar in use: shown as a number.
  if (!std::isfinite(days) || std::fabs(days) > 3e6) {
    return FormatValue(FieldType::kNumber, Value(days));
  }
  double whole = std::floor(days);
  int64_t seconds = std::llround((days - whole) * 86400.0);
  if (seconds >= 86400) {
    whole += 1;
    seconds -= 86400;
  }
  std::optional<text::Day> day = text::DayOf(whole);
  if (!day) return FormatValue(FieldType::kNumber, Value(days));
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

std::string FormatValue(FieldType type, const Value& value) {
  if (const std::string* s = std::get_if<std::string>(&value)) return *s;
  if (const double* d = std::get_if<double>(&value)) {
    if (type == FieldType::kDateTime) return FormatDateTime(*d);
    double x = *d == 0 ? 0.0 : *d;  // no "-0"
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", x);
    return buf;
  }
  if (std::holds_alternative<Rows>(value)) return "(DataSet)";
  return std::string();
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
  if (v.rows == nullptr) return 0;
  return static_cast<int>(v.visible != nullptr ? v.visible->size()
                                               : v.rows->size());
}

const Row* RecordSet::RowAt(int record) const {
  return RowIn(CurrentView(), record);
}

const Row* RecordSet::RowIn(const View& v, int record) {
  if (v.rows == nullptr || record < 0) return nullptr;
  if (v.visible != nullptr) {
    if (static_cast<size_t>(record) >= v.visible->size()) return nullptr;
    return &(*v.rows)[(*v.visible)[record]];
  }
  if (static_cast<size_t>(record) >= v.rows->size()) return nullptr;
  return &(*v.rows)[record];
}

const Value& RecordRef::operator[](int field) const {
  if (row_ == nullptr || field < 0 || field >= field_count_) {
    return kEmptyValue;
  }
  return row_->values[static_cast<size_t>((*columns_)[field])];
}

RecordRef RecordSet::Record(int record) const {
  View v = CurrentView();
  const Row* row = RowIn(v, record);
  if (row == nullptr || v.columns == nullptr) return RecordRef();
  return RecordRef(row, v.columns, FieldCount());
}

const Value& RecordSet::Cell(int record, int field) const {
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

const Value& RecordSet::CurrentValue(int field) const {
  return Cell(recno_, field);
}

Result<const Value*> RecordSet::FieldValue(std::string_view name) const {
  Result<int> i = CheckedField(name);
  if (!i.ok()) return i.status();
  return &CurrentValue(*i);
}

Result<std::string> RecordSet::AsString(std::string_view name) const {
  Result<int> i = CheckedField(name);
  if (!i.ok()) return i.status();
  return FormatValue((*layout_)[*i].type, CurrentValue(*i));
}

Result<double> RecordSet::AsFloat(std::string_view name) const {
  Result<int> i = CheckedField(name);
  if (!i.ok()) return i.status();
  const Value& v = CurrentValue(*i);
  if (const double* d = std::get_if<double>(&v)) return *d;
  if (const std::string* s = std::get_if<std::string>(&v)) {
    std::string_view t = *s;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (t.empty()) return 0.0;
    if (t.front() == '+') t.remove_prefix(1);
    double x = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
    if (ec != std::errc() || end != t.data() + t.size()) {
      return Status::Error("'" + *s + "' is not a valid floating point value");
    }
    return x;
  }
  if (std::holds_alternative<Rows>(v)) {
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
    return Status::Error("'" + FormatValue(FieldType::kNumber, Value(*x)) +
                         "' is not a valid integer value");
  }
  return static_cast<int64_t>(std::llround(*x));
}

Result<bool> RecordSet::IsNull(std::string_view name) const {
  Result<const Value*> v = FieldValue(name);
  if (!v.ok()) return v.status();
  return std::holds_alternative<std::monostate>(**v);
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
      master_field_(master_field),
      line_field_(master->fields()[master_field].name) {}

bool DetailSet::active() const { return master_->active(); }

bool DetailSet::ControlsDisabled() const {
  return RecordSet::ControlsDisabled() || master_->ControlsDisabled();
}

RecordSet::View DetailSet::CurrentView() const {
  View v;
  if (!master_->active()) return v;
  const Row* row = master_->CurrentRow();
  if (row == nullptr) return v;
  const Value& lines = row->values[master_->columns_[master_field_]];
  v.rows = std::get_if<Rows>(&lines);
  v.columns = &master_->line_columns_;
  return v;
}

void DetailSet::Follow() {
  ResetCursor();
  NotifyDataChanged();
}

// -------------------------------------------------------------- DocumentSet

DocumentSet::DocumentSet(std::string name, GetRecordsFn get_records,
                         std::string provider, int packet_size,
                         const layouts::Layout* layout, std::string detail_name)
    : RecordSet(std::move(name), layout),
      get_records_(std::move(get_records)),
      provider_(std::move(provider)),
      packet_size_(packet_size <= 0 ? Connection::kAllRecords : packet_size) {
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

const Row* DocumentSet::CurrentRow() const {
  return RowIn(CurrentView(), recno_);
}

RecordSet::View DocumentSet::CurrentView() const {
  View v;
  if (!active_) return v;
  v.rows = &rows_;
  v.columns = &columns_;
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

Status DocumentSet::CheckRecords(Rows* rows, size_t first) const {
  const layouts::Layout& layout = fields();
  const std::vector<FieldCheck> checks = MakeChecks(layout, columns_);
  std::vector<FieldCheck> line_checks;
  if (line_field_ >= 0) {
    line_checks = MakeChecks(layout[line_field_].nested, line_columns_);
  }
  const size_t width = packet_width_;
  const size_t line_width = line_width_;
  for (size_t r = first; r < rows->size(); ++r) {
    Row& row = (*rows)[r];
    SKJK_RETURN_IF_ERROR(CheckValues(&row, checks, width, "Record", r));
    if (line_field_ < 0) continue;
    Rows* nested = std::get_if<Rows>(&row.values[columns_[line_field_]]);
    if (nested == nullptr) continue;
    for (size_t l = 0; l < nested->size(); ++l) {
      SKJK_RETURN_IF_ERROR(
          CheckValues(&(*nested)[l], line_checks, line_width, "Line", l));
    }
  }
  return Status::OK();
}

Status DocumentSet::Open(std::vector<std::string> params) {
  Close();
  params_ = std::move(params);
  Packet packet;
  Status s = get_records_(provider_, packet_size_, true, params_, &packet);
  if (s.ok()) {
    s = MatchLayout(fields(), packet.layout, &columns_, &line_columns_,
                    &line_width_);
  }
  if (s.ok()) {
    packet_width_ = static_cast<int>(packet.layout.size());
    s = CheckRecords(&packet.rows, 0);
  }
  if (!s.ok()) {
    columns_.clear();
    line_columns_.clear();
    return s;
  }
  rows_ = std::move(packet.rows);
  active_ = true;
  exhausted_ =
      !is_packet_set() || rows_.size() != static_cast<size_t>(packet_size_);
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
  Rows().swap(rows_);
  visible_.clear();
  ResetCursor();
  CursorChanged();
  NotifyDataChanged();
}

void DocumentSet::Close(Rows* released) {
  released->clear();
  if (active_) released->swap(rows_);
  Close();
}

Result<int> DocumentSet::NextPacket() {
  SKJK_RETURN_IF_ERROR(CheckActive());
  if (exhausted_) return 0;
  Packet packet;
  Status s = get_records_(provider_, packet_size_, false, {}, &packet);
  if (s.ok() && !packet.layout.empty()) {
    // A layout sent along anyway must be the one the set was opened with.
    std::vector<int> columns, line_columns;
    int line_width = 0;
    s = MatchLayout(fields(), packet.layout, &columns, &line_columns,
                    &line_width);
    if (s.ok() && (columns != columns_ || line_columns != line_columns_ ||
                   line_width != line_width_ ||
                   static_cast<int>(packet.layout.size()) != packet_width_)) {
      s = Status::Error(provider_ + ": the layout changed between packets");
    }
  }
  if (s.ok()) s = CheckRecords(&packet.rows, 0);
  if (!s.ok()) return s;
  const size_t received = packet.rows.size();
  exhausted_ = received != static_cast<size_t>(packet_size_);
  if (received == 0) return 0;
  const size_t old_size = rows_.size();
  rows_.reserve(old_size + received);
  rows_.insert(rows_.end(), std::make_move_iterator(packet.rows.begin()),
               std::make_move_iterator(packet.rows.end()));
  RebuildVisible(old_size);
  if (RecordCount() > RecNo() + 1) SetEof(false);
  NotifyDataChanged();
  return static_cast<int>(received);
}

void DocumentSet::RebuildVisible(size_t from) {
  if (!filter_) {
    visible_.clear();
    return;
  }
  if (from == 0) visible_.clear();
  for (size_t i = from; i < rows_.size(); ++i) {
    if (filter_(*this, rows_[i])) visible_.push_back(static_cast<int>(i));
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

const Value& DocumentSet::RawValue(const Row& row, int field) const {
  if (field < 0 || static_cast<size_t>(field) >= columns_.size()) {
    return kEmptyValue;
  }
  size_t col = columns_[field];
  return col < row.values.size() ? row.values[col] : kEmptyValue;
}

}  // namespace skjk
