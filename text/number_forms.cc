#include "text/number_forms.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace skjk::text {

namespace {

// The number text of a value that scaled by 10^k (k = 0..4) is a whole
// number m below 10^15, written from m's digits; false for any other value.
// Scaling rounds by at most 2^-53 of the product, so the value lies within
// 2^-53 of m / 10^k relative to it, far closer than half a unit of the 15th
// digit (at least 5 x 10^-16 relative): its rounding to 15 significant
// digits is m / 10^k itself, which with 1 <= m < 10^15 is written plain.
// Quantities, amounts and document numbers are such values; they skip the
// general conversion below.
bool AppendShortDecimal(double value, std::string* out) {
  static constexpr double kScales[] = {1, 10, 100, 1000, 10000};
  const double magnitude = std::fabs(value);
  for (int k = 0; k < 5; ++k) {
    const double scaled = magnitude * kScales[k];
    if (!(scaled < 1e15)) return false;
    if (scaled != std::trunc(scaled)) continue;
    char digits[24];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits,
                                                 static_cast<uint64_t>(scaled));
    size_t n = static_cast<size_t>(r.ptr - digits);
    size_t decimals = static_cast<size_t>(k);
    while (decimals > 0 && digits[n - 1] == '0') {
      --n;
      --decimals;
    }
    if (value < 0) out->push_back('-');
    if (n > decimals) {
      out->append(digits, n - decimals);
      if (decimals > 0) {
        out->push_back('.');
        out->append(digits + (n - decimals), decimals);
      }
    } else {
      out->append("0.");
      out->append(decimals - n, '0');
      out->append(digits, n);
    }
    return true;
  }
  return false;
}

}  // namespace

void AppendExchangeNumberText(double value, std::string* out) {
  if (std::isnan(value)) {
    out->append("NAN");
    return;
  }
  if (std::isinf(value)) {
    out->append(value < 0 ? "-INF" : "INF");
    return;
  }
  if (value == 0) {  // -0 as well
    out->push_back('0');
    return;
  }
  if (AppendShortDecimal(value, out)) return;
  // d.dddddddddddddde[+-]x: the 15 significant digits, rounded once.
  char buf[32];
  const std::to_chars_result r = std::to_chars(
      buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const char* p = buf;
  if (*p == '-') {
    out->push_back('-');
    ++p;
  }
  char digits[15];
  int n = 0;
  digits[n++] = *p++;
  ++p;  // '.'
  while (*p != 'e') digits[n++] = *p++;
  ++p;               // 'e'
  int exponent = 0;  // of the first digit: E - 1
  std::from_chars(*p == '+' ? p + 1 : p, r.ptr, exponent);
  while (n > 1 && digits[n - 1] == '0') --n;

  if (exponent >= -4 && exponent <= 14) {
    if (exponent < 0) {
      out->append("0.");
      out->append(static_cast<size_t>(-exponent - 1), '0');
      out->append(digits, static_cast<size_t>(n));
    } else if (n <= exponent + 1) {
      out->append(digits, static_cast<size_t>(n));
      out->append(static_cast<size_t>(exponent + 1 - n), '0');
    } else {
      out->append(digits, static_cast<size_t>(exponent + 1));
      out->push_back('.');
      out->append(digits + exponent + 1, static_cast<size_t>(n - exponent - 1));
    }
    return;
  }
  out->push_back(digits[0]);
  if (n > 1) {
    out->push_back('.');
    out->append(digits + 1, static_cast<size_t>(n - 1));
  }
  out->push_back('E');
  char exp[8];
  const std::to_chars_result e = std::to_chars(exp, exp + sizeof exp, exponent);
  out->append(exp, e.ptr);
}

std::string ExchangeNumberText(double value) {
  std::string out;
  AppendExchangeNumberText(value, &out);
  return out;
}

std::string GridNumberText(double value) {
  if (!std::isfinite(value)) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", value);
  std::string text(buf);
  size_t dot = text.find('.');
  if (dot != std::string::npos) {
    size_t end = text.find_last_not_of('0');
    text.erase(end == dot ? dot : end + 1);
  }
  if (text == "-0") text = "0";
  return text;
}

}  // namespace skjk::text
