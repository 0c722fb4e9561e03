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
  p.master_order = " ORDER BY A.DHAO00";
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
  p.master_order = " ORDER BY A.DHAO00";
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
  p.master_order =
      " ORDER BY A.DHAO00,A.FPLB00,A.YWRQ00,A.YWRY00,A.KHDM00,A.DWMC00,"
      "A.DWDZ00,A.SWDJH0,A.KHYH00,A.YHZH00,A.CKDM00,A.SKBJ00,A.FPBBH0,"
      "A.FPHAO0,A.KPRQ00";
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
  for (ProviderDef& p : v) p.key_column = KeyColumn(p.layout);
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
  *cursor = ProviderCursor{&def, *from, to_next, 0, false};
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

  auto masters = db->Prepare(def.master_sql + def.master_order +
                             (paged ? " LIMIT ? OFFSET ?" : ""));
  if (!masters.ok()) return masters.status();
  Statement* m = *masters;
  SKJK_RETURN_IF_ERROR(BindRange(m, *cursor));
  if (paged) {
    SKJK_RETURN_IF_ERROR(m->BindInt(3, packet_size));
    SKJK_RETURN_IF_ERROR(m->BindInt(4, cursor->delivered));
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

  SKJK_RETURN_IF_ERROR(sink->Header(layout));
  std::string body;
  body.reserve(protocol::kChunkTarget + 4096);
  protocol::Writer w(&body);
  std::string group;  // the encoded lines of the last document
  protocol::Writer gw(&group);
  uint64_t group_count = 0;
  double group_key = NAN;
  uint64_t chunk_rows = 0, total = 0;

  auto line_row = l->Step();
  if (!line_row.ok()) return line_row.status();
  bool line_there = *line_row;
  auto next_line = [&]() -> Status {
    auto r = l->Step();
    if (!r.ok()) return r.status();
    line_there = *r;
    return Status::OK();
  };

  for (;;) {
    auto row = m->Step();
    if (!row.ok()) return row.status();
    if (!*row) break;
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
  cursor->delivered += static_cast<int64_t>(total);
  cursor->exhausted = !paged || total < static_cast<uint64_t>(packet_size);
  return sink->End(total, cursor->exhausted);
}

}  // namespace skjk::appserver
