// skjk-taxsim: a stand-in for the tax-control machine. It reads a
// sales-document file ("SJJK0101") or a void-document file ("SJJK0102") as
// the export writes it and answers with the issued-invoice file ("SJJK0201")
// the machine would write for it, so that the import can be tried without
// the machine.
//
// The answer (GBK, every line ended by CR LF, fields separated by "~~"):
//   SJJK0201
//   N~~FIRST~~LAST                  record count and date range, YYYYMMDD
// and per document, in the order of the input, a record line
//   KIND~~NAME~~TAXNO~~BOOK~~NUMBER~~COUNT~~DATE~~TOTAL~~DOCUMENT
// (KIND "0" for sales, "1" for void; NAME, TAXNO and TOTAL are the customer
// name, tax registration number and total amount of a sales document and
// empty for a void one; NUMBER counts up from the start number, at least
// eight digits; COUNT is the number of goods lines, 0 for void; DATE is the
// invoice date), followed for sales by one detail line per goods line
//   NO~~NAME~~UNIT~~PACKING~~QUANTITY~~AMOUNT~~RATE~~TAX
// (NO counts the lines of the invoice from 1; TAX is AMOUNT x RATE rounded
// to two decimals, halves away from zero, "0" for an empty rate).
//
// A value holding a blank (bytes 1..32), a comma, a tilde or a double quote
// is written between double quotes, each double quote inside doubled, as the
// import splits fields; so is an empty value at the end of a line, so that
// the line keeps its field count. The import turns "~~" into "," even
// between quotes, so a value holding "~~" does not come back unchanged; the
// input's own fields never hold one, since the export separates them by it.
#ifndef SKJK_TOOLS_TAXSIM_TAXSIM_H_
#define SKJK_TOOLS_TAXSIM_TAXSIM_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "text/forms.h"

namespace skjk::taxsim {

// Deliberately bad or awkward answers, for testing the import.
enum class Damage {
  kNone,
  kHeader,    // the header is "SJJK0200"
  kDate,      // the summary's first date is 30 February of its year
  kTruncate,  // the file ends after the first half (rounded down) of the
              // detail lines of the first sales record that has any
  kQuote,     // a single quote inside the first record's invoice number and
              // the first detail line's product name (which the import
              // reads: its write-back doubles them)
  kBroken,    // the same two values broken: a GBK lead byte followed by a
              // single quote inside each (which the import refuses)
};

// The damage named `name` on the command line ("header", "date", "truncate",
// "quote", "broken"); nullopt for any other name.
std::optional<Damage> ParseDamage(std::string_view name);

struct Options {
  std::string book = "110012";  // invoice book number, GBK
  int64_t start = 1;            // the first invoice number
  // The invoice date of every record; else a sales record has its document's
  // business date and a void record the last date of the range.
  std::optional<text::Day> date;
  // The summary's date range; else the one of the input's header line.
  std::optional<text::Day> first, last;
  Damage damage = Damage::kNone;
};

// The issued-invoice file answering `input`, the bytes of a sales- or
// void-document file. Input that is not such a file fails with a BadInput
// status whose GBK message names the line (from 1) and what is wrong with it;
// so does a damage that the input gives nothing to apply to.
Result<std::string> Answer(std::string_view input, const Options& options);

}  // namespace skjk::taxsim

#endif  // SKJK_TOOLS_TAXSIM_TAXSIM_H_
