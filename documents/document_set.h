// Document sets: the client-side record sets of an interface window.
//
// A DocumentSet (master set, ClientDataSet1/3/5/7) holds the documents one
// provider delivered for a date range, each with its lines in a nested field.
// Its DetailSet (ClientDataSet2/4/6/8) presents the lines of the master's
// current document. Both offer the same cursor and field access (RecordSet).
//
// Fields. A set's fields are its expected layout (wire/layouts.h), in that
// order; field index i below always means the i-th field of that layout, not
// the position in the server's packet. Names are matched without regard to
// case. Values are read as skjk::CellValue: a text holds at most the field's
// byte width of GBK (longer texts are cut on load, never inside a two-byte
// character); a number and a date-time are doubles (date-time = days since
// 1899-12-30); a nested field gives the run of its lines; any value may be
// empty (std::monostate). A CellValue's text is a view into the set: it
// stays valid until the set's records change (open, close, next packet).
//
// Storage. The records are held compactly (documents/record_store.h), texts
// once each; the memory they take comes from a MemoryBudget, by default one
// of the set's own, in a window one shared by its sets. A load that would go
// beyond it, or beyond what the system gives, stops at once, frees what it
// took and fails with kOutOfMemoryText; the set is then as before the load
// (closed for Open, unchanged for NextPacket). Records arrive from a
// RecordReceiver source chunk by chunk and are stored as they come; nothing
// of a load is visible before it has completed.
//
// Cursor. First() stands on record 0; Next() moves on; Eof() is set only by
// First() on an empty set or by a Next() from the last record, which leaves
// the cursor on that last record (field access still reads it), exactly what
// a walk `for (s.First(); !s.Eof(); s.Next())` and the visit-sales scroll
// step need. MoveTo(i) clears Eof. With no record (closed or empty set)
// field access by name yields empty values.
//
// Display following. Observers (a grid, the totals) are told when the data
// changed (open, close, next packet, filter) and when the cursor moved.
// DisableControls()/EnableControls() nest; while disabled no observer call is
// made, and the last EnableControls() makes one call for what happened
// meanwhile (DataChanged if the data changed, else CursorMoved if the cursor
// moved). A master's suspension covers its detail set as well. The set's own
// events (after-open, after-scroll) fire regardless of the suspension.
//
// Errors are Status/Result values with texts in GBK (here plain ASCII):
//   "Field '%s' not found"
//   "Type mismatch for field '%s', expecting: %s actual: %s"
//   "<set name>: Cannot perform this operation on a closed dataset"
// Type names are String, Float, DateTime and DataSet.
//
// No method throws. Observers and callbacks must not throw either: they run
// inside the plug-in's event handlers. Not thread-safe (one UI thread).
#ifndef SKJK_DOCUMENTS_DOCUMENT_SET_H_
#define SKJK_DOCUMENTS_DOCUMENT_SET_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "client/connection.h"
#include "documents/record_store.h"
#include "wire/layouts.h"
#include "wire/records.h"

namespace skjk {

class DetailSet;
class DocumentSet;

// The display's view of a set: grids and edits that follow it.
class RecordSetObserver {
 public:
  virtual ~RecordSetObserver() = default;
  // The records changed as a whole (opened, closed, packet appended, filter
  // changed): re-read the record count and every visible cell.
  virtual void DataChanged() {}
  // The cursor stands on another record (or Eof changed).
  virtual void CursorMoved() {}
};

// The name of a field type as the layout check reports it: "String",
// "Float", "DateTime", "DataSet".
std::string_view FieldTypeName(FieldType type);

// A value shown as text, as AsString() gives it: a text as it stands; a
// number in at most 15 significant digits without trailing zeros ("12",
// "0.5", "1234.56"); a date-time as "YYYY-MM-DD", followed by " HH:MM:SS"
// when it has a time of day; a nested field as "(DataSet)"; empty as "".
std::string FormatValue(FieldType type, const CellValue& value);

// What a load that runs out of memory says (GBK): what happened and what to
// do; %d stands for the number of documents received when it stopped.
std::string OutOfMemoryText(uint64_t documents_received);

// One record of a set, for reading several of its fields without finding the
// record again for each. Valid until the set's records change (open, close,
// next packet, filter) or, for a detail set, until its master moves.
class RecordRef {
 public:
  RecordRef() = default;
  // Field `field` (layout index); an empty value when out of range or when
  // there is no record.
  CellValue operator[](int field) const;
  explicit operator bool() const { return store_ != nullptr; }

 private:
  friend class RecordSet;
  RecordRef(const RecordStore* store, bool line, uint32_t index,
            int field_count)
      : store_(store), line_(line), index_(index), field_count_(field_count) {}
  const RecordStore* store_ = nullptr;
  bool line_ = false;
  uint32_t index_ = 0;
  int field_count_ = 0;
};

// Cursor, field access and display following shared by master and detail.
class RecordSet {
 public:
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;
  virtual ~RecordSet();

  // Component name, e.g. "ClientDataSet1".
  const std::string& name() const { return name_; }

  // A master set is active after a successful Open() until Close(); a detail
  // set exactly while its master is.
  virtual bool active() const = 0;

  // ---- Layout.
  const layouts::Layout& fields() const { return *layout_; }
  int FieldCount() const { return static_cast<int>(layout_->size()); }
  // Index of the field called `name` (any case), or -1.
  int FieldIndex(std::string_view name) const;

  // ---- Records. Counts and indexes see only the records that pass the
  // filter (see DocumentSet::SetFilter); a detail set has no filter.
  // Number of records held (0 when closed).
  int RecordCount() const;
  // The value of field `field` of record `record` without moving the
  // cursor (for owner-data grids). An index out of range gives an empty
  // value.
  CellValue Cell(int record, int field) const;
  // FormatValue() of that cell.
  std::string CellText(int record, int field) const;
  // Record `record` (empty when out of range), for reading many fields.
  RecordRef Record(int record) const;

  // ---- Cursor.
  void First();
  void Next();
  bool Eof() const { return eof_; }
  // Index of the current record, -1 when there is none.
  int RecNo() const { return RecordCount() == 0 ? -1 : recno_; }
  // Stands on record `i` (clamped into range) and clears Eof.
  void MoveTo(int i);

  // ---- Field access on the current record. "Field '%s' not found" for a
  // name the layout lacks; the closed-dataset error on a closed set.
  // The value as it is held.
  Result<CellValue> FieldValue(std::string_view name) const;
  // FormatValue() of the value.
  Result<std::string> AsString(std::string_view name) const;
  // A number or date-time as it is; a text parsed as a decimal number
  // ("'%s' is not a valid floating point value" when it is none); empty 0.
  Result<double> AsFloat(std::string_view name) const;
  // As AsFloat(), for date-time fields (days since 1899-12-30).
  Result<double> AsDateTime(std::string_view name) const;
  // AsFloat() rounded half away from zero; "'%s' is not a valid integer
  // value" when out of the 64-bit range.
  Result<int64_t> AsInteger(std::string_view name) const;
  // True when the value is empty.
  Result<bool> IsNull(std::string_view name) const;

  // ---- Display following.
  // Registers an observer (not owned; it must outlive its registration).
  void AddObserver(RecordSetObserver* observer);
  void RemoveObserver(RecordSetObserver* observer);
  void DisableControls();
  void EnableControls();
  // True while this set's (or, for a detail set, its master's) display
  // following is suspended.
  virtual bool ControlsDisabled() const { return disable_count_ > 0; }

  // Runs after every cursor operation (First, Next, MoveTo), also a Next()
  // that only set Eof, and after an Open() that delivered records.
  void set_after_scroll(std::function<void(RecordSet&)> callback) {
    after_scroll_ = std::move(callback);
  }

 protected:
  RecordSet(std::string name, const layouts::Layout* layout);

  // The records currently presented: records of `store` (its lines when
  // `lines`) from `first` on, `count` of them; `visible` (when filtered)
  // maps record index -> index among them.
  struct View {
    const RecordStore* store = nullptr;
    bool lines = false;
    uint32_t first = 0;
    uint32_t count = 0;
    const std::vector<int>* visible = nullptr;  // nullptr: all records
  };
  virtual View CurrentView() const = 0;
  // The store index of record `record` of view `v`, or -1 when out of
  // range.
  static int64_t IndexIn(const View& v, int record);

  Status CheckActive() const;
  Result<int> CheckedField(std::string_view name) const;
  CellValue CurrentValue(int field) const;

  // Sets the cursor without any notification.
  void ResetCursor();
  void SetEof(bool eof) { eof_ = eof; }
  // Observer notifications (held back while suspended).
  void NotifyDataChanged();
  void NotifyCursorMoved();
  // Sends what was held back, when no longer suspended.
  virtual void FlushPending();
  void FireAfterScroll();
  // Called when the cursor moved, before observers hear of it.
  virtual void CursorChanged() {}

 private:
  std::string name_;
  const layouts::Layout* layout_;
  int recno_ = 0;
  bool eof_ = true;
  int disable_count_ = 0;
  bool pending_data_ = false;
  bool pending_cursor_ = false;
  std::vector<RecordSetObserver*> observers_;
  std::function<void(RecordSet&)> after_scroll_;

  friend class DocumentSet;
};

// The lines of the master's current document. Never requests anything; it
// holds no records of its own (it reads them inside the master) and is
// empty while the master is closed, empty, or on a document without lines.
// Every cursor move of the master puts the detail set on its first line and
// tells its observers DataChanged.
class DetailSet : public RecordSet {
 public:
  bool active() const override;
  bool ControlsDisabled() const override;
  DocumentSet& master() const { return *master_; }
  // The nested field of the master layout it presents, e.g. "qry_bbsk2".
  const std::string& line_field() const { return line_field_; }

 private:
  friend class DocumentSet;
  DetailSet(std::string name, DocumentSet* master, int master_field,
            const layouts::Layout* layout);
  View CurrentView() const override;
  // The master moved or its data changed.
  void Follow();

  DocumentSet* master_;
  std::string line_field_;
};

// A master set: documents from one provider.
class DocumentSet : public RecordSet {
 public:
  // The get-records request, streaming (Connection::GetRecords with a
  // RecordReceiver); RequestsOver() makes one of a connection.
  using ReceiveRecordsFn = std::function<Status(
      std::string_view provider, int packet_size, bool with_layout,
      const std::vector<std::string>& params, RecordReceiver* receiver)>;
  // A record filter: true lets raw record `record` (read it with RawValue)
  // through.
  using RecordFilter = std::function<bool(const DocumentSet&, int record)>;

  // `packet_size` is Connection::kAllRecords or the number of documents per
  // request. `layout` is the expected layout (not copied: a layout of
  // wire/layouts.h lives for the program); when it ends in a nested field
  // the set has a detail set named `detail_name` on it.
  DocumentSet(std::string name, ReceiveRecordsFn receive_records,
              std::string provider, int packet_size,
              const layouts::Layout* layout, std::string detail_name = "");
  ~DocumentSet() override;

  const std::string& provider() const { return provider_; }
  int packet_size() const { return packet_size_; }
  bool is_packet_set() const { return packet_size_ != Connection::kAllRecords; }
  bool active() const override { return active_; }
  // The detail set, or nullptr when the layout has no nested field.
  DetailSet* detail() { return detail_.get(); }

  // Closes the set, then sends one get-records request for the provider with
  // the packet size, the layout and `params` by position (QSRQ, ZZRQ as
  // "YYYY-MM-DD" GBK texts; kept as params()). The delivered layout must
  // hold every expected field (by name, any case; extra fields are ignored)
  // with the expected kind of type, also inside the nested field; every
  // record must match it. On success the set keeps the records (stored as
  // they arrived; texts cut to their widths), stands on the first record,
  // tells its observers, fires after-open and then after-scroll (when it
  // holds records). On any failure it stays closed, holds nothing and
  // returns the request's or the check's error, or OutOfMemoryText().
  Status Open(std::vector<std::string> params);
  // Drops records and lines; tells the observers when it was open.
  void Close();
  // Close() that hands the records over to *released (replacing its
  // content; null when the set held none) instead of freeing them, so that
  // the caller can free a large set in steps (RecordStore::FreeSome).
  void Close(std::unique_ptr<RecordStore>* released);

  // The memory budget of the set's loads (shared by the sets of a window).
  // Takes effect from the next Open().
  void set_memory_budget(std::shared_ptr<MemoryBudget> budget) {
    budget_ = std::move(budget);
  }
  const std::shared_ptr<MemoryBudget>& memory_budget() const { return budget_; }
  const std::vector<std::string>& params() const { return params_; }

  // Next packet: 0 without a request when the provider is exhausted (always
  // so for a set that gets all records at once); otherwise one get-records
  // request for the provider with the packet size, no layout and no
  // params, whose records are checked and appended; returns their number.
  // The provider counts as exhausted after any request that delivered a
  // number of records other than the number asked for. The cursor keeps its
  // record but Eof is cleared when records were added. A failed request
  // leaves the set as it was (open, not exhausted). Closed set: error.
  Result<int> NextPacket();
  bool exhausted() const { return exhausted_; }

  // Runs after every successful Open() (the window's after-open step).
  void set_after_open(std::function<void(DocumentSet&)> callback) {
    after_open_ = std::move(callback);
  }

  // Record filter: while set (non-null), cursor walks, RecordCount() and
  // Cell() see only records that pass it; records of a later packet are
  // filtered as they arrive. Setting or clearing it puts the cursor on the
  // first passing record and tells the observers DataChanged.
  void SetFilter(RecordFilter filter);
  bool filtered() const { return static_cast<bool>(filter_); }
  // Field `field` of raw record `record` of this set: every record held,
  // whether it passes the filter or not, in the order delivered.
  CellValue RawValue(int record, int field) const;
  int raw_count() const { return static_cast<int>(count_); }

 private:
  class Loader;
  View CurrentView() const override;
  // The current document's store index, or -1 when there is none.
  int64_t CurrentIndex() const;
  void CursorChanged() override;
  void FlushPending() override;
  void RebuildVisible(uint32_t from);

  ReceiveRecordsFn receive_records_;
  std::string provider_;
  int packet_size_;
  bool active_ = false;
  bool exhausted_ = true;
  std::vector<std::string> params_;
  std::shared_ptr<MemoryBudget> budget_;
  std::unique_ptr<RecordStore> store_;  // null while closed
  uint32_t count_ = 0;                  // records of completed loads
  // What the set was opened with: the delivered layout's width and, per
  // expected field, its delivered column (also inside the nested field).
  std::vector<int> columns_;
  std::vector<int> line_columns_;
  int packet_width_ = 0;
  int line_width_ = 0;
  int line_field_ = -1;  // index of the nested field, or -1
  RecordFilter filter_;
  std::vector<int> visible_;  // with a filter: passing record -> store index
  std::unique_ptr<DetailSet> detail_;
  std::function<void(DocumentSet&)> after_open_;

  friend class DetailSet;
};

// The request function of sets whose get-records requests go through
// `connection` (not owned; it must outlive the sets that use it).
DocumentSet::ReceiveRecordsFn RequestsOver(Connection& connection);

}  // namespace skjk

#endif  // SKJK_DOCUMENTS_DOCUMENT_SET_H_
