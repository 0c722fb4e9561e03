#include "wire/layouts.h"

#include <array>
#include <string>
#include <utility>

namespace skjk::layouts {
namespace {

FieldDef Text(std::string name, uint16_t size = kDefaultTextSize) {
  return FieldDef{std::move(name), FieldType::kText, size, {}};
}
FieldDef Number(std::string name) {
  return FieldDef{std::move(name), FieldType::kNumber, 0, {}};
}
FieldDef Date(std::string name) {
  return FieldDef{std::move(name), FieldType::kDateTime, 0, {}};
}
FieldDef Nested(std::string_view name, const Layout& lines) {
  return FieldDef{std::string(name), FieldType::kNested, 0, lines};
}

// Fields 2..33 of the head-office sales layout, shared with the void layout.
Layout HeadOfficeCore() {
  return {
      Number("DHAO00"),   Date("YWRQ00"),     Text("YWRY00", 8),
      Date("CKRQ00"),     Text("CKRY00", 8),  Date("CWRQ00"),
      Text("CWRY00", 8),  Text("DWDM00", 12), Text("CKDM00", 2),
      Text("THCKDM", 2),  Text("FPLB00", 3),  Text("XSFSDM", 4),
      Number("ZZSL00"),   Text("PZNY00", 6),  Number("PZH000"),
      Text("FKDM00", 2),  Text("DWMC00", 50), Text("DZ0000", 50),
      Text("DWXZ00", 1),  Text("DWSNW0", 1),  Text("XTXZ00", 1),
      Text("KHYH00", 40), Text("YHZH00", 30), Text("SWDJH0", 25),
      Text("FPBBH0", 11), Text("FPHAO0", 10), Number("SLHJ00"),
      Number("JEHJ00"),   Number("SEHJ00"),   Number("ZJE000"),
      Text("JSHJ00", 60), Text("BEIZHU", 50),
  };
}

struct ProviderEntry {
  std::string_view provider;
  std::string_view line_field;
  Layout (*make)(std::string_view);
};

constexpr std::array<ProviderEntry, 8> kProviders{{
    {"dsp_bbsk1", "qry_bbsk2", &HeadOfficeSales},
    {"dsp_bbsk3", "qry_bbsk4", &HeadOfficeSales},
    {"dsp_bbbf1", "qry_bbbf2", &Void},
    {"dsp_bbbf3", "qry_bbbf4", &Void},
    {"dsp_fxsk1", "qry_fxsk2", &VisitSales},
    {"dsp_fxsk3", "qry_fxsk4", &VisitSales},
    {"dsp_jqsk1", "qry_jqsk2", &Customer},
    {"dsp_jqsk3", "qry_jqsk4", &Customer},
}};

}  // namespace

const Layout& BasicLine() {
  static const Layout* const layout =
      new Layout{Number("DHAO00"),   Text("SPDM00", 8), Number("DJIA00"),
                 Number("SL0000"),   Number("JE0000"),  Text("SPMC00", 30),
                 Text("SPGG00", 20), Text("JYDW00", 10)};
  return *layout;
}

const Layout& VisitSalesLine() {
  static const Layout* const layout =
      new Layout{Number("DHAO00"),   Text("SPDM00", 8),  Number("DJIA00"),
                 Number("SL0000"),   Number("JE0000"),   Number("SE0000"),
                 Text("FPBBH0", 11), Text("FPHAO0", 10), Text("SPMC00", 30),
                 Text("SPGG00", 20), Text("JYDW00", 10)};
  return *layout;
}

const Layout& CustomerLine() {
  static const Layout* const layout =
      new Layout{Number("DHAO00"),   Text("SPDM00", 8),  Number("DJIA00"),
                 Number("SL0000"),   Number("JE0000"),   Number("SE0000"),
                 Text("SPMC00", 30), Text("SPGG00", 20), Text("JYDW00", 10)};
  return *layout;
}

Layout HeadOfficeSales(std::string_view line_field) {
  Layout layout{Text("GSDW00", 12)};
  for (FieldDef& f : HeadOfficeCore()) layout.push_back(std::move(f));
  layout.push_back(Number("SJDHAO"));
  layout.push_back(Nested(line_field, BasicLine()));
  return layout;
}

Layout Void(std::string_view line_field) {
  Layout layout = HeadOfficeCore();
  layout.push_back(Nested(line_field, BasicLine()));
  return layout;
}

Layout VisitSales(std::string_view line_field) {
  return {Number("DHAO00"),   Text("FPLB00", 2),
          Date("YWRQ00"),     Text("YWRY00", 8),
          Text("XSQRRY", 8),  Text("DWDM00", 12),
          Text("DWMC00", 50), Text("DZ0000", 50),
          Text("SWDJH0", 25), Text("KHYH00", 40),
          Text("YHZH00", 40), Nested(line_field, VisitSalesLine())};
}

Layout Customer(std::string_view line_field) {
  return {Number("DHAO00"),   Text("FPBBH0", 12),
          Text("FPHAO0", 10), Date("KPRQ00"),
          Text("FPLB00", 2),  Date("YWRQ00"),
          Text("YWRY00", 8),  Text("KHDM00", 12),
          Text("DWMC00", 50), Text("DWDZ00", 50),
          Text("SWDJH0", 25), Text("KHYH00", 40),
          Text("YHZH00", 40), Text("CKDM00", 2),
          Text("SKBJ00", 2),  Nested(line_field, CustomerLine())};
}

std::string_view LineFieldOf(std::string_view provider) {
  for (const ProviderEntry& e : kProviders) {
    if (e.provider == provider) return e.line_field;
  }
  return {};
}

const Layout* ProviderLayout(std::string_view provider) {
  static const std::array<const Layout*, kProviders.size()>* const tables = [] {
    auto* t = new std::array<const Layout*, kProviders.size()>;
    for (size_t i = 0; i < kProviders.size(); ++i) {
      (*t)[i] = new Layout(kProviders[i].make(kProviders[i].line_field));
    }
    return t;
  }();
  for (size_t i = 0; i < kProviders.size(); ++i) {
    if (kProviders[i].provider == provider) return (*tables)[i];
  }
  return nullptr;
}

}  // namespace skjk::layouts
