#include "exchange/export_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "text/gbk.h"
#include "text/number_forms.h"

namespace skjk::exchange {

using namespace text::literals;

std::string RateText(std::optional<double> per_cent) {
  // nearbyint rounds halves to even in the default rounding mode.
  const double whole = per_cent ? std::nearbyint(*per_cent) : 0.0;
  return text::ExchangeNumberText(whole / 100);
}

std::string BusinessDateText(std::optional<double> date_time) {
  if (!date_time) return "18991230";
  const std::optional<text::Day> day = text::DayOf(*date_time);
  return day ? text::CompactDate(*day) : "18991230";
}

std::string DateRangeText(text::Day start, text::Day end) {
  auto day_text = [](text::Day d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", static_cast<int>(d.year()));
    std::string out = buf;
    out += "年"_gbk;
    std::snprintf(buf, sizeof buf, "%02u", static_cast<unsigned>(d.month()));
    out += buf;
    out += "月"_gbk;
    std::snprintf(buf, sizeof buf, "%02u", static_cast<unsigned>(d.day()));
    out += buf;
    out += "日"_gbk;
    return out;
  };
  return day_text(start) + "至"_gbk + day_text(end);
}

}  // namespace skjk::exchange
