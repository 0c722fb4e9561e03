// The text forms of values in the files written for the tax-control machine.
// All texts are GBK; the decimal separator is always ".", whatever the
// user's regional settings say, since the machine reads numbers with a point.
#ifndef SKJK_EXCHANGE_EXPORT_TEXT_H_
#define SKJK_EXCHANGE_EXPORT_TEXT_H_

#include <optional>
#include <string>

#include "text/forms.h"

namespace skjk::exchange {

// The rate text of a tax rate in per cent: the rate rounded to a whole
// number (halves to the even neighbour; empty counts as 0), divided by 100,
// as a number text: 17 gives "0.17", 12.5 gives "0.12", 0 gives "0".
std::string RateText(std::optional<double> per_cent);

// "YYYYMMDD" of the day of a date-time value; "18991230" for an empty one.
std::string BusinessDateText(std::optional<double> date_time);

// The date range of the window: "2024年01月15日至2024年01月16日".
std::string DateRangeText(text::Day start, text::Day end);

}  // namespace skjk::exchange

#endif  // SKJK_EXCHANGE_EXPORT_TEXT_H_
