#include "appserver/record_stream.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "appserver/dialect.h"
#include "wire/protocol.h"

namespace skjk::appserver {
namespace {

// Writes column `i` of `stmt` as a value of field `f`.
Status PutColumn(Statement* stmt, int i, const FieldDef& f,
                 protocol::Writer* w) {
  if (stmt->IsNull(i)) {
    protocol::PutNull(w);
    return Status::OK();
  }
  switch (f.type) {
    case FieldType::kText:
      protocol::PutText(w, stmt->Text(i));
      break;
    case FieldType::kNumber:
      protocol::PutNumber(w, stmt->Double(i));
      break;
    case FieldType::kDateTime: {
      std::string_view text = stmt->Text(i);
      if (text.empty()) {
        protocol::PutNull(w);
        break;
      }
      auto days = StoredDateToDays(text);
      if (!days) {
        return Status::Error("stored date '" + std::string(text) +
                             "' of field " + f.name + " is not a date");
      }
      protocol::PutDateTime(w, *days);
      break;
    }
    case FieldType::kNested:
      return Status::Error("internal: nested field " + f.name + " in a query");
  }
  return Status::OK();
}

Status BindRange(Statement* s, const ProviderCursor& c) {
  SKJK_RETURN_IF_ERROR(s->BindText(1, c.from));
  return s->BindText(2, c.to_next);
}

// Binds `key` to the '?' of after_sql, from `index` on; returns the index
// after them.
Result<int> BindAfter(Statement* s, const ProviderDef& def,
                      const std::vector<KeyValue>& key, int index) {
  for (int column : def.after_params) {
    const KeyValue& v = key[column];
    if (v.null) {
      SKJK_RETURN_IF_ERROR(s->BindNull(index));
    } else if (v.number) {
      SKJK_RETURN_IF_ERROR(s->BindDouble(index, v.n));
    } else {
      SKJK_RETURN_IF_ERROR(s->BindText(index, v.text));
    }
    ++index;
  }
  return index;
}

// Reads the order key of the row `m` stands on into `key`.
void ReadKey(Statement* m, const ProviderDef& def, std::vector<KeyValue>* key) {
  key->resize(def.order_fields.size());
  for (size_t i = 0; i < def.order_fields.size(); ++i) {
    const int column = def.order_fields[i];
    KeyValue& v = (*key)[i];
    v.null = m->IsNull(column);
    v.number = def.layout[column].type == FieldType::kNumber;
    if (v.null) continue;
    if (v.number) {
      v.n = m->Double(column);
    } else {
      v.text.assign(m->Text(column));
    }
  }
}

// The answer on its way to the sink: rows encoded into `body` and sent in
// chunks of about kChunkTarget.
class Output {
 public:
  explicit Output(RecordSink* sink) : sink_(sink), w_(&body_) {
    body_.reserve(protocol::kChunkTarget + 4096);
  }
  std::string& body() { return body_; }
  protocol::Writer* writer() { return &w_; }
  uint64_t total() const { return total_; }

  // A row has been encoded into body().
  Status RowDone() {
    ++rows_;
    ++total_;
    if (body_.size() < protocol::kChunkTarget) return Status::OK();
    Status s = sink_->Chunk(rows_, body_);
    body_.clear();
    rows_ = 0;
    return s;
  }
  Status End(bool exhausted) {
    if (rows_ > 0) SKJK_RETURN_IF_ERROR(sink_->Chunk(rows_, body_));
    return sink_->End(total_, exhausted);
  }

 private:
  RecordSink* sink_;
  std::string body_;
  protocol::Writer w_;
  uint64_t rows_ = 0, total_ = 0;
};

// The lines of the documents, read in DHAO00 order from a query whose
// column 0 is DHAO00, put after each document's master fields: the nested
// count and the lines. Rows of one document in a row share its lines.
class Lines {
 public:
  Lines(const FieldDef& nested, Statement* l)
      : nested_(nested), l_(l), gw_(&group_) {}

  Status Start() { return Next(); }

  // Puts the lines of document `key` (the same as or after the last one
  // asked for) into `w`.
  Status Put(double key, protocol::Writer* w) {
    if (!(key == group_key_)) {
      group_.clear();
      group_count_ = 0;
      group_key_ = key;
      while (there_ && l_->Double(0) < key) SKJK_RETURN_IF_ERROR(Next());
      while (there_ && l_->Double(0) == key) {
        for (size_t c = 0; c < nested_.nested.size(); ++c) {
          SKJK_RETURN_IF_ERROR(
              PutColumn(l_, static_cast<int>(c), nested_.nested[c], &gw_));
        }
        ++group_count_;
        SKJK_RETURN_IF_ERROR(Next());
      }
    }
    protocol::PutNested(w, group_count_);
    w->out()->append(group_);
    return Status::OK();
  }

 private:
  Status Next() {
    auto r = l_->Step();
    if (!r.ok()) return r.status();
    there_ = *r;
    return Status::OK();
  }

  const FieldDef& nested_;
  Statement* l_;
  bool there_ = false;
  std::string group_;  // the encoded lines of the last document
  protocol::Writer gw_;
  uint64_t group_count_ = 0;
  double group_key_ = NAN;
};

// Resets the statements it holds when it goes, however the packet ends (an
// interrupted statement, a client gone).
struct ResetOnExit {
  Statement* statements[2] = {nullptr, nullptr};
  ~ResetOnExit() {
    for (Statement* s : statements) {
      if (s != nullptr) s->Reset();
    }
  }
};

// Steps `m` through its rows and resets it: the first and the last value
// of its column `key_column` (both left as they are when it has no row).
Status KeyRange(Statement* m, int key_column, double* first, double* last) {
  for (bool at_first = true;; at_first = false) {
    auto row = m->Step();
    if (!row.ok()) return row.status();
    if (!*row) break;
    const double key = m->Double(key_column);
    if (at_first) *first = key;
    *last = key;
  }
  m->Reset();
  return Status::OK();
}

// One pass: the masters' query and the lines' query stepped in turn, for a
// backend that reads both as their rows are asked for. With packets, the
// masters are read twice: first for the packet's range of DHAO00.
Status OnePass(DbSession* db, ProviderCursor* cursor, int packet_size,
               Output* out) {
  const ProviderDef& def = *cursor->def;
  const std::vector<FieldDef>& layout = def.layout;
  const int master_columns = static_cast<int>(layout.size()) - 1;
  const bool paged = packet_size >= 0;
  const bool after = paged && cursor->started;
  auto masters = db->Prepare(def.master_sql + (after ? def.after_sql : "") +
                             def.master_order + (paged ? " LIMIT ?" : ""));
  if (!masters.ok()) return masters.status();
  Statement* m = *masters;
  ResetOnExit reset_on_exit;
  reset_on_exit.statements[0] = m;
  SKJK_RETURN_IF_ERROR(BindRange(m, *cursor));
  int index = 3;
  if (after) {
    auto next = BindAfter(m, def, cursor->last, index);
    if (!next.ok()) return next.status();
    index = *next;
  }
  if (paged) SKJK_RETURN_IF_ERROR(m->BindInt(index, packet_size));
  // A packet's lines lie between its first and its last document number.
  double first_key = 0, last_key = 0;
  if (paged) {
    SKJK_RETURN_IF_ERROR(KeyRange(m, def.key_column, &first_key, &last_key));
  }
  auto prepared = db->Prepare(
      def.lines_sql + (paged ? " AND L.DHAO00 >= ? AND L.DHAO00 <= ?" : "") +
      " ORDER BY L.DHAO00");
  if (!prepared.ok()) return prepared.status();
  Statement* l = *prepared;
  reset_on_exit.statements[1] = l;
  SKJK_RETURN_IF_ERROR(BindRange(l, *cursor));
  if (paged) {
    SKJK_RETURN_IF_ERROR(l->BindDouble(3, first_key));
    SKJK_RETURN_IF_ERROR(l->BindDouble(4, last_key));
  }
  Lines lines(layout.back(), l);

  // The masters' query runs first and the lines' at the first master.
  for (bool first = true;; first = false) {
    auto row = m->Step();
    if (!row.ok()) return row.status();
    if (!*row) break;
    if (first) SKJK_RETURN_IF_ERROR(lines.Start());
    for (int i = 0; i < master_columns; ++i) {
      SKJK_RETURN_IF_ERROR(PutColumn(m, i, layout[i], out->writer()));
    }
    SKJK_RETURN_IF_ERROR(lines.Put(m->Double(def.key_column), out->writer()));
    if (paged) {
      ReadKey(m, def, &cursor->last);
      cursor->started = true;
    }
    SKJK_RETURN_IF_ERROR(out->RowDone());
  }
  return Status::OK();
}

// The queries of a batched packet, fixed for the packet (see StreamPacket).
// The first batch reads from the start (or after the key the packet started
// after); the later ones from a document number on, past the rows of it
// delivered already. Where a document may have several rows (`bounded`),
// a batch's masters are bounded from above by the DHAO00 its last row can
// have at most, which the bound queries find: that of the row as many rows
// on in DHAO00 order, which an index gives.
struct BatchQueries {
  BatchQueries(const ProviderDef& def, bool after) {
    const std::string masters =
        def.master_sql + (after ? def.after_sql : std::string());
    bounded = def.order_columns.size() > 1;
    const std::string keys =
        def.keys_sql + (after ? def.after_sql : std::string());
    first_bound = keys + " ORDER BY A.DHAO00 LIMIT 1 OFFSET ?";
    later_bound =
        keys + " AND A.DHAO00 >= ? ORDER BY A.DHAO00 LIMIT 1 OFFSET ?";
    const std::string bound = bounded ? " AND A.DHAO00 <= ?" : "";
    first = masters + bound + def.master_order + " LIMIT ? OFFSET ?";
    later = masters + " AND A.DHAO00 >= ?" + bound + def.master_order +
            " LIMIT ? OFFSET ?";
    lines = def.batch_lines_sql + " ORDER BY L.DHAO00";
  }

  bool bounded;
  std::string first, later;              // the masters
  std::string first_bound, later_bound;  // their bound, when bounded
  std::string lines;
};

// A packet read in batches of `read_batch` master rows (see StreamPacket).
class BatchedPacket {
 public:
  BatchedPacket(DbSession* db, ProviderCursor* cursor, int packet_size,
                int read_batch, Output* out)
      : db_(db),
        cursor_(cursor),
        def_(*cursor->def),
        out_(out),
        read_batch_(read_batch),
        paged_(packet_size >= 0),
        // Every batch of a packet keeps the condition "after the last
        // document delivered", with the key the packet started after.
        after_(paged_ && cursor->started),
        after_key_(after_ ? cursor->last : std::vector<KeyValue>()),
        queries_(def_, after_),
        remaining_(paged_ ? packet_size : std::numeric_limits<int64_t>::max()) {
  }

  BatchedPacket(const BatchedPacket&) = delete;
  BatchedPacket& operator=(const BatchedPacket&) = delete;

  // Streams the packet to the output and advances the cursor.
  Status Run() {
    for (;;) {
      const int64_t limit = std::min<int64_t>(read_batch_, remaining_);
      double most = std::numeric_limits<double>::max();
      if (queries_.bounded) {
        auto bound = UpperBound(limit);
        if (!bound.ok()) return bound.status();
        most = *bound;
      }
      SKJK_RETURN_IF_ERROR(ReadMasters(limit, most));
      if (batch_.empty()) break;
      const BatchEnd end = EndBatch(limit);
      SKJK_RETURN_IF_ERROR(SendBatch(end.keep));
      remaining_ -= static_cast<int64_t>(end.keep);
      if (paged_) {
        cursor_->last = end.cut ? before_last_document_ : last_key_;
        cursor_->started = true;
      }
      if (!end.more) break;
    }
    return Status::OK();
  }

 private:
  // A master row read: its fields' end in masters_ and its document number.
  struct Master {
    size_t end;
    double key;
  };
  // Where a batch ends: the rows of it that go out now; whether its last
  // document was cut off (it goes out with the next batch); whether the
  // answer goes on after it.
  struct BatchEnd {
    size_t keep;
    bool cut;
    bool more;
  };

  // Binds the range, the packet's start and the batch's start to `s`;
  // returns the index of the next '?'.
  Result<int> BindStart(Statement* s) {
    SKJK_RETURN_IF_ERROR(BindRange(s, *cursor_));
    int index = 3;
    if (after_) {
      auto next = BindAfter(s, def_, after_key_, index);
      if (!next.ok()) return next.status();
      index = *next;
    }
    if (from_) SKJK_RETURN_IF_ERROR(s->BindDouble(index++, from_key_));
    return index;
  }

  // The highest DHAO00 the batch's `limit` rows can reach (the largest
  // double when the view ends before).
  Result<double> UpperBound(int64_t limit) {
    auto prepared =
        db_->Prepare(from_ ? queries_.later_bound : queries_.first_bound);
    if (!prepared.ok()) return prepared.status();
    Statement* k = *prepared;
    reset_on_exit_.statements[0] = k;
    auto index = BindStart(k);
    if (!index.ok()) return index.status();
    SKJK_RETURN_IF_ERROR(k->BindInt(*index, (from_ ? skip_ : 0) + limit - 1));
    auto row = k->Step();
    if (!row.ok()) return row.status();
    const double most =
        *row ? k->Double(0) : std::numeric_limits<double>::max();
    k->Reset();
    return most;
  }

  // Reads the batch's masters (at most `limit` rows, DHAO00 at most `most`
  // when bounded) into batch_ and masters_, encoded; with packets, keeps the
  // order keys of its last row and of the last row before its last document.
  Status ReadMasters(int64_t limit, double most) {
    auto prepared = db_->Prepare(from_ ? queries_.later : queries_.first);
    if (!prepared.ok()) return prepared.status();
    Statement* m = *prepared;
    reset_on_exit_.statements[0] = m;
    auto bound_index = BindStart(m);
    if (!bound_index.ok()) return bound_index.status();
    int index = *bound_index;
    if (queries_.bounded) SKJK_RETURN_IF_ERROR(m->BindDouble(index++, most));
    SKJK_RETURN_IF_ERROR(m->BindInt(index++, limit));
    SKJK_RETURN_IF_ERROR(m->BindInt(index, from_ ? skip_ : 0));

    const std::vector<FieldDef>& layout = def_.layout;
    const int master_columns = static_cast<int>(layout.size()) - 1;
    batch_.clear();
    masters_.clear();
    for (;;) {
      auto row = m->Step();
      if (!row.ok()) return row.status();
      if (!*row) break;
      for (int i = 0; i < master_columns; ++i) {
        SKJK_RETURN_IF_ERROR(PutColumn(m, i, layout[i], &masters_writer_));
      }
      const double key = m->Double(def_.key_column);
      if (paged_) {
        if (!batch_.empty() && !(key == batch_.back().key)) {
          std::swap(before_last_document_, last_key_);
        }
        ReadKey(m, def_, &last_key_);
      }
      batch_.push_back({masters_.size(), key});
    }
    m->Reset();
    return Status::OK();
  }

  // Decides where the batch just read ends and where the next one starts.
  // A batch that the answer goes on after ends with a whole document where
  // it holds more than one: the next one starts with the rest. One document
  // filling the batch goes on within the next one, past the rows read.
  BatchEnd EndBatch(int64_t limit) {
    const int64_t rows = static_cast<int64_t>(batch_.size());
    BatchEnd end{batch_.size(), false, rows == limit && limit < remaining_};
    if (!end.more) return end;
    const double last = batch_.back().key;
    if (!(batch_.front().key == last)) {
      while (batch_[end.keep - 1].key == last) --end.keep;
      end.cut = true;
      skip_ = 0;
    } else {
      skip_ = (from_ && from_key_ == last ? skip_ : 0) + rows;
    }
    from_ = true;
    from_key_ = last;
    return end;
  }

  // Sends the first `keep` masters of the batch, each with its lines, read
  // by the batch's range of DHAO00.
  Status SendBatch(size_t keep) {
    auto prepared = db_->Prepare(queries_.lines);
    if (!prepared.ok()) return prepared.status();
    Statement* l = *prepared;
    reset_on_exit_.statements[1] = l;
    const double low = batch_.front().key;
    const double high = batch_[keep - 1].key;
    SKJK_RETURN_IF_ERROR(l->BindDouble(1, low));
    SKJK_RETURN_IF_ERROR(l->BindDouble(2, high));
    SKJK_RETURN_IF_ERROR(l->BindText(3, cursor_->from));
    SKJK_RETURN_IF_ERROR(l->BindText(4, cursor_->to_next));
    SKJK_RETURN_IF_ERROR(l->BindDouble(5, low));
    SKJK_RETURN_IF_ERROR(l->BindDouble(6, high));
    Lines lines(def_.layout.back(), l);
    SKJK_RETURN_IF_ERROR(lines.Start());
    size_t start = 0;
    for (size_t i = 0; i < keep; ++i) {
      out_->body().append(masters_, start, batch_[i].end - start);
      start = batch_[i].end;
      SKJK_RETURN_IF_ERROR(lines.Put(batch_[i].key, out_->writer()));
      SKJK_RETURN_IF_ERROR(out_->RowDone());
    }
    l->Reset();
    return Status::OK();
  }

  DbSession* const db_;
  ProviderCursor* const cursor_;
  const ProviderDef& def_;
  Output* const out_;
  const int read_batch_;
  const bool paged_;
  const bool after_;
  const std::vector<KeyValue> after_key_;
  const BatchQueries queries_;
  ResetOnExit reset_on_exit_;

  // The batch: its masters' fields, encoded, and each one's end there and
  // document number.
  std::vector<Master> batch_;
  std::string masters_;
  protocol::Writer masters_writer_{&masters_};
  // With packets, the order keys of the batch's last row and of the last
  // row before its last document.
  std::vector<KeyValue> last_key_, before_last_document_;

  // Where the next batch starts: at the first row (after after_key_), or
  // at the `skip_`-th row of document `from_key_`.
  bool from_ = false;
  double from_key_ = 0;
  int64_t skip_ = 0;
  int64_t remaining_;  // documents the packet may still take
};

}  // namespace

Status StartCursor(const ProviderDef& def,
                   const std::vector<std::string>& params,
                   ProviderCursor* cursor) {
  if (params.size() != 2) {
    return Status::Error("provider " + def.name +
                         " takes 2 parameters (QSRQ, ZZRQ), got " +
                         std::to_string(params.size()));
  }
  std::string next_from, to_next;
  auto from = ParseDateParam(params[0], &next_from);
  if (!from) {
    return Status::Error("parameter QSRQ of " + def.name + ": '" + params[0] +
                         "' is not a date YYYY-MM-DD");
  }
  if (!ParseDateParam(params[1], &to_next)) {
    return Status::Error("parameter ZZRQ of " + def.name + ": '" + params[1] +
                         "' is not a date YYYY-MM-DD");
  }
  *cursor = ProviderCursor{&def, *from, to_next, false, {}, false};
  return Status::OK();
}

Status StreamPacket(DbSession* db, ProviderCursor* cursor, int packet_size,
                    RecordSink* sink, int read_batch) {
  const std::vector<FieldDef>& layout = cursor->def->layout;
  if (cursor->exhausted || packet_size == 0) {
    SKJK_RETURN_IF_ERROR(sink->Header(layout));
    return sink->End(0, cursor->exhausted);
  }
  if (read_batch < 0) read_batch = db->steps_in_turn() ? 0 : kReadBatch;

  // A next packet takes the documents after the last one delivered, in the
  // view as it is now (never by position: documents that have entered or
  // left the view since would shift it). The packet's queries read one
  // state of the database; the read ends with the packet, so that the
  // session holds none while it waits for its next request.
  ReadScope read(db);
  SKJK_RETURN_IF_ERROR(read.Begin());
  SKJK_RETURN_IF_ERROR(sink->Header(layout));
  Output out(sink);
  SKJK_RETURN_IF_ERROR(
      read_batch == 0
          ? OnePass(db, cursor, packet_size, &out)
          : BatchedPacket(db, cursor, packet_size, read_batch, &out).Run());
  read.End();  // before the end goes: the client may go on at once
  const bool paged = packet_size >= 0;
  cursor->exhausted =
      !paged || out.total() < static_cast<uint64_t>(packet_size);
  return out.End(cursor->exhausted);
}

}  // namespace skjk::appserver
