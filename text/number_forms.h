// The text forms of numbers: the one of the files exchanged with the
// tax-control machine, and the one of the grids. All texts are ASCII; the
// decimal separator is always ".", whatever the user's regional settings say.
#ifndef SKJK_TEXT_NUMBER_FORMS_H_
#define SKJK_TEXT_NUMBER_FORMS_H_

#include <string>

namespace skjk::text {

// Appends the exchanged files' text of the number `value`: rounded to 15
// significant digits, trailing zeros and a trailing point dropped, "-" before a
// negative value. With the value written as 0.d1d2... x 10^E (d1 not 0), plain
// notation when E lies in -3..15 and for zero ("450", "137.5", "0.0005", "0");
// otherwise scientific: d1, "." and the other digits if any, "E", the exponent
// E-1
// ("2E15", "5E-5", "1.5E-7"). Not-a-number and infinities give "NAN", "INF"
// and "-INF".
void AppendExchangeNumberText(double value, std::string* out);
std::string ExchangeNumberText(double value);

// A number as the grids show it: without trailing zeros after the decimal
// point (at most six decimals): 12 -> "12", 2.50 -> "2.5".
std::string GridNumberText(double value);

}  // namespace skjk::text

#endif  // SKJK_TEXT_NUMBER_FORMS_H_
