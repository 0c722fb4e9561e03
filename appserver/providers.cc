#include "appserver/providers.h"

#include <cmath>
#include <utility>

#include "appserver/dialect.h"
#include "server/layouts.h"
#include "server/protocol.h"

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
  p.lines_sql =
      std::string("SELECT L.DHAO00,L.SPDM00,L.DJIA00,L.SL0000,L.JE0000,") +
      "G.SPMC00,G.SPGG00,G.JYDW00 FROM " + line_table +
      " L LEFT JOIN GSTJYGL0 G ON G.SPDM00 = L.SPDM00 WHERE L.DHAO00 IN "
      "(SELECT A.DHAO00 FROM " +
      table + " A" + where + ")";
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
  p.lines_sql =
      "SELECT L.DHAO00,L.SPDM00,L.DJIA00,L.SL0000,L.JE0000,L.SE0000,"
      "L.FPBBH0,L.FPHAO0,G.SPMC00,G.SPGG00,G.JYDW00 FROM XSTFXPS2 L "
      "LEFT JOIN GSTJYGL0 G ON G.SPDM00 = L.SPDM00 WHERE L.DHAO00 IN "
      "(SELECT A.DHAO00 FROM XSTFXPS1 A" +
      where + ")";
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
  p.lines_sql =
      "SELECT L.DHAO00,L.SPDM00,L.DJIA00,L.SL0000,L.JE0000,L.SE0000,L.SPMC00,"
      "L.SPGG00,L.JYDW00 FROM XSTJQSK2 L WHERE L.DHAO00 IN "
      "(SELECT A.DHAO00 FROM XSTJQSK1 A" +
      where + ")";
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

// Binds the cursor's last key to the '?' of after_sql, from `index` on.
Status BindAfter(Statement* s, const ProviderCursor& c, int index) {
  for (int column : c.def->after_params) {
    const KeyValue& v = c.last[column];
    if (v.null) {
      SKJK_RETURN_IF_ERROR(s->BindNull(index));
    } else if (v.number) {
      SKJK_RETURN_IF_ERROR(s->BindDouble(index, v.n));
    } else {
      SKJK_RETURN_IF_ERROR(s->BindText(index, v.text));
    }
    ++index;
  }
  return Status::OK();
}

// Keeps the order key of the row `m` stands on as the cursor's last.
void KeepKey(Statement* m, ProviderCursor* c) {
  const ProviderDef& def = *c->def;
  c->last.resize(def.order_fields.size());
  for (size_t i = 0; i < def.order_fields.size(); ++i) {
    const int column = def.order_fields[i];
    KeyValue& v = c->last[i];
    v.null = m->IsNull(column);
    v.number = def.layout[column].type == FieldType::kNumber;
    if (v.null) continue;
    if (v.number) {
      v.n = m->Double(column);
    } else {
      v.text = std::string(m->Text(column));
    }
  }
  c->started = true;
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
                    RecordSink* sink) {
  const ProviderDef& def = *cursor->def;
  const std::vector<FieldDef>& layout = def.layout;
  const FieldDef& nested = layout.back();
  const int master_columns = static_cast<int>(layout.size()) - 1;
  const int line_columns = static_cast<int>(nested.nested.size());
  const bool paged = packet_size >= 0;

  if (cursor->exhausted || packet_size == 0) {
    SKJK_RETURN_IF_ERROR(sink->Header(layout));
    return sink->End(0, cursor->exhausted);
  }

  // A next packet takes the documents after the last one delivered, in the
  // view as it is now (never by position: documents that have entered or
  // left the view since would shift it).
  const bool after = paged && cursor->started;
  auto masters = db->Prepare(def.master_sql + (after ? def.after_sql : "") +
                             def.master_order + (paged ? " LIMIT ?" : ""));
  if (!masters.ok()) return masters.status();
  Statement* m = *masters;
  SKJK_RETURN_IF_ERROR(BindRange(m, *cursor));
  if (after) SKJK_RETURN_IF_ERROR(BindAfter(m, *cursor, 3));
  if (paged) {
    const int limit_index =
        3 + (after ? static_cast<int>(def.after_params.size()) : 0);
    SKJK_RETURN_IF_ERROR(m->BindInt(limit_index, packet_size));
  }
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
  auto lines = db->Prepare(
      def.lines_sql + (paged ? " AND L.DHAO00 >= ? AND L.DHAO00 <= ?" : "") +
      " ORDER BY L.DHAO00");
  if (!lines.ok()) return lines.status();
  Statement* l = *lines;
  SKJK_RETURN_IF_ERROR(BindRange(l, *cursor));
  if (paged) {
    SKJK_RETURN_IF_ERROR(l->BindDouble(3, first_key));
    SKJK_RETURN_IF_ERROR(l->BindDouble(4, last_key));
  }

  // However the packet ends (an interrupted statement, a client gone), both
  // queries are reset, so that the session holds no read of the database
  // while it waits for its next request.
  struct ResetOnExit {
    Statement* a;
    Statement* b;
    ~ResetOnExit() {
      a->Reset();
      b->Reset();
    }
  } reset_on_exit{m, l};

  SKJK_RETURN_IF_ERROR(sink->Header(layout));
  std::string body;
  body.reserve(protocol::kChunkTarget + 4096);
  protocol::Writer w(&body);
  std::string group;  // the encoded lines of the last document
  protocol::Writer gw(&group);
  uint64_t group_count = 0;
  double group_key = NAN;
  uint64_t chunk_rows = 0, total = 0;

  bool line_there = false;
  auto next_line = [&]() -> Status {
    auto r = l->Step();
    if (!r.ok()) return r.status();
    line_there = *r;
    return Status::OK();
  };

  // The masters' query runs first and the lines' at the first master: a
  // backend that reads rows as they arrive then keeps the smaller result in
  // memory and streams the lines.
  for (bool first = true;; first = false) {
    auto row = m->Step();
    if (!row.ok()) return row.status();
    if (!*row) break;
    if (first) SKJK_RETURN_IF_ERROR(next_line());
    for (int i = 0; i < master_columns; ++i) {
      SKJK_RETURN_IF_ERROR(PutColumn(m, i, layout[i], &w));
    }
    double key = m->Double(def.key_column);
    if (!(key == group_key)) {
      group.clear();
      group_count = 0;
      group_key = key;
      while (line_there && l->Double(0) < key)
        SKJK_RETURN_IF_ERROR(next_line());
      while (line_there && l->Double(0) == key) {
        for (int i = 0; i < line_columns; ++i) {
          SKJK_RETURN_IF_ERROR(PutColumn(l, i, nested.nested[i], &gw));
        }
        ++group_count;
        SKJK_RETURN_IF_ERROR(next_line());
      }
    }
    protocol::PutNested(&w, group_count);
    body.append(group);
    if (paged) KeepKey(m, cursor);
    ++chunk_rows;
    ++total;
    if (body.size() >= protocol::kChunkTarget) {
      SKJK_RETURN_IF_ERROR(sink->Chunk(chunk_rows, body));
      body.clear();
      chunk_rows = 0;
    }
  }
  m->Reset();
  l->Reset();
  if (chunk_rows > 0) SKJK_RETURN_IF_ERROR(sink->Chunk(chunk_rows, body));
  cursor->exhausted = !paged || total < static_cast<uint64_t>(packet_size);
  return sink->End(total, cursor->exhausted);
}

}  // namespace skjk::appserver
