#include "text/forms.h"

#include <cmath>
#include <cstdio>

#include "text/gbk.h"

namespace skjk::text {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

constexpr sys_days kFirstDay{std::chrono::year{1} / 1 / 1};
constexpr sys_days kLastDay{std::chrono::year{9999} / 12 / 31};

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// Appends the last `width` decimal digits of `value`.
void AppendDigits(unsigned value, int width, std::string* out) {
  char buf[4];
  for (int i = width - 1; i >= 0; --i, value /= 10) {
    buf[i] = static_cast<char>('0' + value % 10);
  }
  out->append(buf, static_cast<size_t>(width));
}

// YYYY<separator>MM<separator>DD, without separators when it is 0. Written
// digit by digit: the exported files and the grids format a date per row,
// where a formatted print costs more than the rest of the row. Years outside
// 0..9999 (and fields out of range) keep printf's form.
std::string Format(Day day, char separator) {
  const int year = static_cast<int>(day.year());
  const auto month = static_cast<unsigned>(day.month());
  const auto day_of_month = static_cast<unsigned>(day.day());
  if (year < 0 || year > 9999 || month > 99 || day_of_month > 99) {
    char buf[40];
    if (separator != 0) {
      std::snprintf(buf, sizeof buf, "%04d%c%02u%c%02u", year, separator, month,
                    separator, day_of_month);
    } else {
      std::snprintf(buf, sizeof buf, "%04d%02u%02u", year, month, day_of_month);
    }
    return buf;
  }
  std::string out;
  out.reserve(10);
  AppendDigits(static_cast<unsigned>(year), 4, &out);
  if (separator != 0) out.push_back(separator);
  AppendDigits(month, 2, &out);
  if (separator != 0) out.push_back(separator);
  AppendDigits(day_of_month, 2, &out);
  return out;
}

}  // namespace

std::optional<Day> DayOf(double date_time) {
  if (!std::isfinite(date_time)) return std::nullopt;
  const double whole = std::floor(date_time);
  const double first = (kFirstDay - kDayZero).count();
  const double last = (kLastDay - kDayZero).count();
  if (whole < first || whole > last) return std::nullopt;
  return Day{kDayZero + days{static_cast<long>(whole)}};
}

double DateTimeOf(Day day) {
  return static_cast<double>((sys_days{day} - kDayZero).count());
}

std::string IsoDate(Day day) { return Format(day, '-'); }

std::string CompactDate(Day day) { return Format(day, 0); }

std::optional<Day> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
    return std::nullopt;
  }
  auto number = [&](size_t from, size_t count, int* out) {
    int v = 0;
    for (size_t i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
  };
  int y, m, d;
  if (!number(0, 4, &y) || !number(5, 2, &m) || !number(8, 2, &d) || y < 1) {
    return std::nullopt;
  }
  Day day{std::chrono::year{y}, std::chrono::month{static_cast<unsigned>(m)},
          std::chrono::day{static_cast<unsigned>(d)}};
  if (!day.ok()) return std::nullopt;
  return day;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsGbkLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace skjk::text
