#include "appserver/provider_catalogue.h"

#include <string>
#include <utility>

#include "wire/layouts.h"

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

}  // namespace skjk::appserver
