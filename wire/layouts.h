// The record layouts the document sets expect from each provider, as data.
//
// A master layout lists the document fields in the order the provider
// delivers them, ending in the nested field that holds the document's lines;
// the nested field's `nested` member is the line layout. Text fields carry
// their byte width (a text declared without a width holds 20 bytes).
#ifndef SKJK_WIRE_LAYOUTS_H_
#define SKJK_WIRE_LAYOUTS_H_

#include <string_view>
#include <vector>

#include "wire/records.h"

namespace skjk::layouts {

using Layout = std::vector<FieldDef>;

// Byte width of a text field declared without one.
inline constexpr uint16_t kDefaultTextSize = 20;

// Line layouts.
const Layout& BasicLine();       // Bbsk sales sets, void sets of every window
const Layout& VisitSalesLine();  // Fxsk sales sets
const Layout& CustomerLine();    // Jqsk sales sets

// Master layouts, each ending in the nested field `line_field` that holds the
// line layout given.
Layout HeadOfficeSales(std::string_view line_field);  // dsp_bbsk1/3
Layout Void(std::string_view line_field);             // dsp_bbbf1/3
Layout VisitSales(std::string_view line_field);       // dsp_fxsk1/3
Layout Customer(std::string_view line_field);         // dsp_jqsk1/3

// The nested line field of a provider's master layout ("qry_bbsk2" for
// "dsp_bbsk1"), or an empty view for a provider that delivers no documents.
std::string_view LineFieldOf(std::string_view provider);

// The master layout a provider delivers, nested line field included; nullptr
// for an unknown provider (and for dsp_temp, which delivers no records).
// Providers are matched exactly (they are lower-case names).
const Layout* ProviderLayout(std::string_view provider);

}  // namespace skjk::layouts

#endif  // SKJK_WIRE_LAYOUTS_H_
