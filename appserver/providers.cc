#include "appserver/providers.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "appserver/dialect.h"
#include "wire/layouts.h"
#include "wire/protocol.h"

namespace skjk::appserver {
namespace {

// The layout a provider delivers: the one the plug-in's sets expect.
std::vector<FieldDef> LayoutOf(const char* provider) {
  const layouts::Layout* layout = layouts::ProviderLayout(provider);
  return layout != nullptr ? *layout : std::vector<FieldDef>();
}

// Where DHAO00 stands among a layout's fields.
int KeyColumn(const std::vector<FieldDef>& layout) {
  for (size_t i = 0; i < layout.size(); ++i) {
    if (layout[i].name == "DHAO00") return static_cast<int>(i);
  }
  return 0;
}

std::string ColumnList(const std::vector<FieldDef>& fields, const char* alias) {
  std::string s;
  for (const FieldDef& f : fields) {
    if (f.type == FieldType::kNested) continue;
    if (!s.empty()) s += ",";
    s += std::string(alias) + "." + f.name;
  }
  return s;
}

// Not invoiced: the invoice number of the document A is NULL or empty.
const char* InvoicedFilter(bool invoiced) {
  return invoiced ? "A.FPHAO0 <> ''" : "(A.FPHAO0 IS NULL OR A.FPHAO0 = '')";
}

// Derives the ORDER BY and the condition "after a key" from the order
// columns: c1 > k1 OR (c1 = k1 AND c2 > k2) OR (c1 = k1 AND c2 = k2 AND
// c3 > k3) ..., flat so that a long key does not nest deep, where a column
// that may be NULL (all but DHAO00) sorts NULL first, as ORDER BY does. The
// key's values are bound, so the text is the same for every key.
void SetOrder(ProviderDef* p) {
  p->master_order.clear();
  p->after_sql.clear();
  p->after_params.clear();
  p->order_fields.clear();
  const int n = static_cast<int>(p->order_columns.size());
  auto nullable = [&](int i) { return p->order_columns[i] != "DHAO00"; };
  auto column = [&](int i) { return "A." + p->order_columns[i]; };
  for (int i = 0; i < n; ++i) {
    p->master_order += (i == 0 ? " ORDER BY " : ",") + column(i);
    int field = p->key_column;
    for (size_t f = 0; f + 1 < p->layout.size(); ++f) {
      if (p->layout[f].name == p->order_columns[i]) {
        field = static_cast<int>(f);
      }
    }
    p->order_fields.push_back(field);
  }
  for (int i = 0; i < n; ++i) {
    std::string term;
    for (int j = 0; j < i; ++j) {
      const std::string c = column(j);
      term += nullable(j)
                  ? "(" + c + " = ? OR (" + c + " IS NULL AND ? IS NULL))"
                  : c + " = ?";
      term += " AND ";
      p->after_params.push_back(j);
      if (nullable(j)) p->after_params.push_back(j);
    }
    const std::string c = column(i);
    term += nullable(i)
                ? "(" + c + " > ? OR (" + c + " IS NOT NULL AND ? IS NULL))"
                : c + " > ?";
    p->after_params.push_back(i);
    if (nullable(i)) p->after_params.push_back(i);
    p->after_sql += (i == 0 ? "(" : " OR (") + term + ")";
  }
  p->after_sql = " AND (" + p->after_sql + ")";
}

// The lines' queries: `select` (the line fields FROM the lines L and what
// they join) for the masters that `masters` (SELECT A.DHAO00 FROM ... A
// WHERE ..., its '?' the range) selects; see ProviderDef.
void SetLines(ProviderDef* p, const std::string& select,
              const std::string& masters) {
  p->lines_sql = select + " WHERE L.DHAO00 IN (" + masters + ")";
  p->batch_lines_sql = select +
                       " WHERE L.DHAO00 >= ? AND L.DHAO00 <= ? AND L.DHAO00 "
                       "IN (" +
                       masters + " AND A.DHAO00 >= ? AND A.DHAO00 <= ?)";
}

// Head-office sales (XSTXSFP1) and void documents (XSTBFFP1): the invoice
// number is on the document; lines from XSTXSFP2 / XSTBFFP2 with the goods.
ProviderDef DocumentProvider(const char* name, const char* table,
                             const char* line_table, bool invoiced) {
  ProviderDef p;
  p.name = name;
  p.layout = LayoutOf(name);
  std::string where =
      std::string(" WHERE A.YWRQ00 >= ? AND A.YWRQ00 < ? AND ") +
      InvoicedFilter(invoiced);
  p.master_sql =
      "SELECT " + ColumnList(p.layout, "A") + " FROM " + table + " A" + where;
  p.order_columns = {"DHAO00"};
  SetLines(&p,
           std::string("SELECT L.DHAO00,L.SPDM00,L.DJIA00,L.SL0000,L.JE0000,"
                       "G.SPMC00,G.SPGG00,G.JYDW00 FROM ") +
               line_table + " L LEFT JOIN GSTJYGL0 G ON G.SPDM00 = L.SPDM00",
           std::string("SELECT A.DHAO00 FROM ") + table + " A" + where);
  return p;
}

// Visit-sales deliveries (XSTFXPS1 + XSTFXPS2): a document is invoiced when
// one of its lines with a quantity has an invoice number.
ProviderDef VisitSalesProvider(const char* name, bool invoiced) {
  ProviderDef p;
  p.name = name;
  p.layout = LayoutOf(name);
  std::string where =
      std::string(" WHERE A.YWRQ00 >= ? AND A.YWRQ00 < ? AND ") +
      (invoiced ? "" : "NOT ") +
      "EXISTS (SELECT 1 FROM XSTFXPS2 F WHERE F.DHAO00 = A.DHAO00 AND "
      "F.SL0000 <> 0 AND F.FPHAO0 <> '')";
  // The name and address for invoicing when the customer has them.
  p.master_sql =
      "SELECT A.DHAO00,A.FPLB00,A.YWRQ00,A.YWRY00,A.XSQRRY,A.KHDM00,"
      "COALESCE(NULLIF(B.KPMC00, ''), B.KHMC00),"
      "COALESCE(NULLIF(B.KPDZ00, ''), B.DWDZ00),B.SWDJH0,B.KHYH00,B.YHZH00 "
      "FROM XSTFXPS1 A LEFT JOIN GSTKHGL0 B ON B.KHDM00 = A.KHDM00" +
      where;
  p.order_columns = {"DHAO00"};
  SetLines(&p,
           "SELECT L.DHAO00,L.SPDM00,L.DJIA00,L.SL0000,L.JE0000,L.SE0000,"
           "L.FPBBH0,L.FPHAO0,G.SPMC00,G.SPGG00,G.JYDW00 FROM XSTFXPS2 L "
           "LEFT JOIN GSTJYGL0 G ON G.SPDM00 = L.SPDM00",
           "SELECT A.DHAO00 FROM XSTFXPS1 A" + where);
  return p;
}

// The customer window's own tables XSTJQSK1 / XSTJQSK2.
ProviderDef CustomerProvider(const char* name, bool invoiced) {
  ProviderDef p;
  p.name = name;
  p.layout = LayoutOf(name);
  std::string where =
      std::string(" WHERE A.YWRQ00 >= ? AND A.YWRQ00 < ? AND ") +
      InvoicedFilter(invoiced);
  p.master_sql =
      "SELECT " + ColumnList(p.layout, "A") + " FROM XSTJQSK1 A" + where;
  // A document may have several distinct rows: order them fully so that
  // packets continue where they left off.
  p.order_columns = {"DHAO00", "FPLB00", "YWRQ00", "YWRY00", "KHDM00",
                     "DWMC00", "DWDZ00", "SWDJH0", "KHYH00", "YHZH00",
                     "CKDM00", "SKBJ00", "FPBBH0", "FPHAO0", "KPRQ00"};
  SetLines(&p,
           "SELECT L.DHAO00,L.SPDM00,L.DJIA00,L.SL0000,L.JE0000,L.SE0000,"
           "L.SPMC00,L.SPGG00,L.JYDW00 FROM XSTJQSK2 L",
           "SELECT A.DHAO00 FROM XSTJQSK1 A" + where);
  return p;
}

std::vector<ProviderDef> MakeProviders() {
  std::vector<ProviderDef> v;
  v.push_back(DocumentProvider("dsp_bbsk1", "XSTXSFP1", "XSTXSFP2", false));
  v.push_back(DocumentProvider("dsp_bbsk3", "XSTXSFP1", "XSTXSFP2", true));
  v.push_back(DocumentProvider("dsp_bbbf1", "XSTBFFP1", "XSTBFFP2", false));
  v.push_back(DocumentProvider("dsp_bbbf3", "XSTBFFP1", "XSTBFFP2", true));
  v.push_back(VisitSalesProvider("dsp_fxsk1", false));
  v.push_back(VisitSalesProvider("dsp_fxsk3", true));
  v.push_back(CustomerProvider("dsp_jqsk1", false));
  v.push_back(CustomerProvider("dsp_jqsk3", true));
  for (ProviderDef& p : v) {
    p.keys_sql =
        "SELECT A.DHAO00" + p.master_sql.substr(p.master_sql.find(" FROM "));
    p.key_column = KeyColumn(p.layout);
    SetOrder(&p);
  }
  return v;
}

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
    int64_t n = 0;
    for (;;) {
      auto row = m->Step();
      if (!row.ok()) return row.status();
      if (!*row) break;
      double key = m->Double(def.key_column);
      if (n++ == 0) first_key = key;
      last_key = key;
    }
    m->Reset();
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

// In batches of `read_batch` master rows (see StreamPacket).
Status Batches(DbSession* db, ProviderCursor* cursor, int packet_size,
               int read_batch, Output* out) {
  const ProviderDef& def = *cursor->def;
  const std::vector<FieldDef>& layout = def.layout;
  const int master_columns = static_cast<int>(layout.size()) - 1;
  const bool paged = packet_size >= 0;

  // Every batch of a packet keeps the condition "after the last document
  // delivered", with the key the packet started after.
  const bool after = paged && cursor->started;
  const std::vector<KeyValue> after_key =
      after ? cursor->last : std::vector<KeyValue>();
  // The first batch from the start (or that key); the later ones from a
  // document number on, past the rows of it delivered already.
  const std::string masters_sql =
      def.master_sql + (after ? def.after_sql : std::string());
  const std::string first_sql =
      masters_sql + def.master_order + " LIMIT ? OFFSET ?";
  const std::string later_sql = masters_sql + " AND A.DHAO00 >= ?" +
                                def.master_order + " LIMIT ? OFFSET ?";
  const std::string lines_sql = def.batch_lines_sql + " ORDER BY L.DHAO00";
  ResetOnExit reset_on_exit;
  // Where a document may have several rows, the DHAO00 of the batch's last
  // row (the last it can be: that of the row as many rows on in DHAO00
  // order, which an index gives) bounds the batch's query from above.
  const bool bounded = def.order_columns.size() > 1;
  const std::string keys_sql =
      def.keys_sql + (after ? def.after_sql : std::string());
  const std::string first_bound_sql =
      keys_sql + " ORDER BY A.DHAO00 LIMIT 1 OFFSET ?";
  const std::string later_bound_sql =
      keys_sql + " AND A.DHAO00 >= ? ORDER BY A.DHAO00 LIMIT 1 OFFSET ?";
  const std::string bound = bounded ? " AND A.DHAO00 <= ?" : "";
  const std::string first_bounded_sql =
      masters_sql + bound + def.master_order + " LIMIT ? OFFSET ?";
  const std::string later_bounded_sql = masters_sql + " AND A.DHAO00 >= ?" +
                                        bound + def.master_order +
                                        " LIMIT ? OFFSET ?";

  // The batch: its masters' fields, encoded, and each one's end there and
  // document number.
  struct Master {
    size_t end;
    double key;
  };
  std::vector<Master> batch;
  std::string masters;
  protocol::Writer mw(&masters);
  // With packets, the order keys of the batch's last row and of the last
  // row before its last document.
  std::vector<KeyValue> last_key, before_last_document;

  // Where the next batch starts: at the first row (after after_key), or at
  // the `skip`-th row of document `from_key`.
  bool from = false;
  double from_key = 0;
  int64_t skip = 0;
  int64_t remaining = paged ? packet_size : std::numeric_limits<int64_t>::max();
  for (;;) {
    const int64_t limit = std::min<int64_t>(read_batch, remaining);
    // Binds the range, the packet's start and the batch's start to `s`;
    // returns the index of the next '?'.
    auto bind_start = [&](Statement* s) -> Result<int> {
      SKJK_RETURN_IF_ERROR(BindRange(s, *cursor));
      int index = 3;
      if (after) {
        auto next = BindAfter(s, def, after_key, index);
        if (!next.ok()) return next.status();
        index = *next;
      }
      if (from) SKJK_RETURN_IF_ERROR(s->BindDouble(index++, from_key));
      return index;
    };
    double most = std::numeric_limits<double>::max();
    if (bounded) {
      auto prepared = db->Prepare(from ? later_bound_sql : first_bound_sql);
      if (!prepared.ok()) return prepared.status();
      Statement* k = *prepared;
      reset_on_exit.statements[0] = k;
      auto index = bind_start(k);
      if (!index.ok()) return index.status();
      SKJK_RETURN_IF_ERROR(k->BindInt(*index, (from ? skip : 0) + limit - 1));
      auto row = k->Step();
      if (!row.ok()) return row.status();
      if (*row) most = k->Double(0);
      k->Reset();
    }
    auto prepared =
        db->Prepare(bounded ? (from ? later_bounded_sql : first_bounded_sql)
                            : (from ? later_sql : first_sql));
    if (!prepared.ok()) return prepared.status();
    Statement* m = *prepared;
    reset_on_exit.statements[0] = m;
    auto bound_index = bind_start(m);
    if (!bound_index.ok()) return bound_index.status();
    int index = *bound_index;
    if (bounded) SKJK_RETURN_IF_ERROR(m->BindDouble(index++, most));
    SKJK_RETURN_IF_ERROR(m->BindInt(index++, limit));
    SKJK_RETURN_IF_ERROR(m->BindInt(index, from ? skip : 0));

    batch.clear();
    masters.clear();
    for (;;) {
      auto row = m->Step();
      if (!row.ok()) return row.status();
      if (!*row) break;
      for (int i = 0; i < master_columns; ++i) {
        SKJK_RETURN_IF_ERROR(PutColumn(m, i, layout[i], &mw));
      }
      const double key = m->Double(def.key_column);
      if (paged) {
        if (!batch.empty() && !(key == batch.back().key)) {
          std::swap(before_last_document, last_key);
        }
        ReadKey(m, def, &last_key);
      }
      batch.push_back({masters.size(), key});
    }
    m->Reset();
    if (batch.empty()) break;

    // A batch that the answer goes on after ends with a whole document
    // where it holds more than one: the next one starts with the rest.
    const int64_t rows = static_cast<int64_t>(batch.size());
    const bool more = rows == limit && limit < remaining;
    size_t keep = batch.size();
    bool cut = false;
    if (more) {
      const double last = batch.back().key;
      if (!(batch.front().key == last)) {
        while (batch[keep - 1].key == last) --keep;
        cut = true;
        skip = 0;
      } else {
        // One document fills the batch: the next one goes on within it.
        skip = (from && from_key == last ? skip : 0) + rows;
      }
      from = true;
      from_key = last;
    }

    // The lines of the documents kept, merged into them.
    auto lines_prepared = db->Prepare(lines_sql);
    if (!lines_prepared.ok()) return lines_prepared.status();
    Statement* l = *lines_prepared;
    reset_on_exit.statements[1] = l;
    const double low = batch.front().key;
    const double high = batch[keep - 1].key;
    SKJK_RETURN_IF_ERROR(l->BindDouble(1, low));
    SKJK_RETURN_IF_ERROR(l->BindDouble(2, high));
    SKJK_RETURN_IF_ERROR(l->BindText(3, cursor->from));
    SKJK_RETURN_IF_ERROR(l->BindText(4, cursor->to_next));
    SKJK_RETURN_IF_ERROR(l->BindDouble(5, low));
    SKJK_RETURN_IF_ERROR(l->BindDouble(6, high));
    Lines lines(layout.back(), l);
    SKJK_RETURN_IF_ERROR(lines.Start());
    size_t start = 0;
    for (size_t i = 0; i < keep; ++i) {
      out->body().append(masters, start, batch[i].end - start);
      start = batch[i].end;
      SKJK_RETURN_IF_ERROR(lines.Put(batch[i].key, out->writer()));
      SKJK_RETURN_IF_ERROR(out->RowDone());
    }
    l->Reset();
    remaining -= static_cast<int64_t>(keep);
    if (paged) {
      cursor->last = cut ? before_last_document : last_key;
      cursor->started = true;
    }
    if (!more) break;
  }
  return Status::OK();
}

}  // namespace

const std::vector<ProviderDef>& Providers() {
  static const std::vector<ProviderDef> kProviders = MakeProviders();
  return kProviders;
}

const ProviderDef* FindProvider(std::string_view name) {
  for (const ProviderDef& p : Providers()) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

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
  SKJK_RETURN_IF_ERROR(db->BeginRead());
  struct EndReadOnExit {
    DbSession* db;
    ~EndReadOnExit() { db->EndRead(); }
  } end_read{db};
  SKJK_RETURN_IF_ERROR(sink->Header(layout));
  Output out(sink);
  SKJK_RETURN_IF_ERROR(
      read_batch == 0 ? OnePass(db, cursor, packet_size, &out)
                      : Batches(db, cursor, packet_size, read_batch, &out));
  db->EndRead();  // before the end goes: the client may go on at once
  const bool paged = packet_size >= 0;
  cursor->exhausted =
      !paged || out.total() < static_cast<uint64_t>(packet_size);
  return out.End(cursor->exhausted);
}

}  // namespace skjk::appserver
