#include "appserver/dialect.h"

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "text/forms.h"

namespace skjk::appserver {
namespace {

// Reads exactly `n` digits at *pos.
bool Digits(std::string_view s, size_t* pos, int n, int* out) {
  if (*pos + n > s.size()) return false;
  int v = 0;
  for (int i = 0; i < n; ++i) {
    char c = s[*pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *pos += n;
  *out = v;
  return true;
}

bool Lit(std::string_view s, size_t* pos, char c) {
  if (*pos < s.size() && s[*pos] == c) {
    ++*pos;
    return true;
  }
  return false;
}

text::Day DayOf(int y, int m, int d) {
  return text::Day{std::chrono::year{y}, std::chrono::month(m),
                   std::chrono::day(d)};
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && day >= 1 &&
         DayOf(year, month, day).ok();
}

std::optional<std::string> OracleToDate(std::string_view text,
                                        std::string_view format,
                                        std::string* error) {
  auto is = [format](std::string_view f) {
    return text::EqualsIgnoringCase(format, f);
  };
  int y, m, d, hh = 0, mi = 0, ss = 0;
  size_t pos = 0;
  bool ok;
  bool with_time = false;
  if (is("YYYYMMDD")) {
    ok = Digits(text, &pos, 4, &y) && Digits(text, &pos, 2, &m) &&
         Digits(text, &pos, 2, &d);
  } else if (is("YYYY-MM-DD")) {
    ok = Digits(text, &pos, 4, &y) && Lit(text, &pos, '-') &&
         Digits(text, &pos, 2, &m) && Lit(text, &pos, '-') &&
         Digits(text, &pos, 2, &d);
  } else if (is("YYYY-MM-DD HH24:MI:SS")) {
    with_time = true;
    ok = Digits(text, &pos, 4, &y) && Lit(text, &pos, '-') &&
         Digits(text, &pos, 2, &m) && Lit(text, &pos, '-') &&
         Digits(text, &pos, 2, &d) && Lit(text, &pos, ' ') &&
         Digits(text, &pos, 2, &hh) && Lit(text, &pos, ':') &&
         Digits(text, &pos, 2, &mi) && Lit(text, &pos, ':') &&
         Digits(text, &pos, 2, &ss);
  } else {
    *error = "TO_DATE: unsupported format '" + std::string(format) + "'";
    return std::nullopt;
  }
  if (!ok || pos != text.size()) {
    *error = "TO_DATE: '" + std::string(text) + "' does not match format '" +
             std::string(format) + "'";
    return std::nullopt;
  }
  if (!IsValidDate(y, m, d) || hh > 23 || mi > 59 || ss > 59) {
    *error = "TO_DATE: '" + std::string(text) + "' is not a valid date";
    return std::nullopt;
  }
  std::string out = text::IsoDate(DayOf(y, m, d));
  if (with_time) {
    char b[48];
    std::snprintf(b, sizeof b, " %02d:%02d:%02d", hh, mi, ss);
    out += b;
  }
  return out;
}

std::optional<double> StoredDateToDays(std::string_view text) {
  size_t pos = 0;
  int y, m, d, hh = 0, mi = 0, ss = 0;
  if (!(Digits(text, &pos, 4, &y) && Lit(text, &pos, '-') &&
        Digits(text, &pos, 2, &m) && Lit(text, &pos, '-') &&
        Digits(text, &pos, 2, &d)) ||
      !IsValidDate(y, m, d))
    return std::nullopt;
  if (pos < text.size()) {
    if (!(Lit(text, &pos, ' ') && Digits(text, &pos, 2, &hh) &&
          Lit(text, &pos, ':') && Digits(text, &pos, 2, &mi)))
      return std::nullopt;
    if (pos < text.size() &&
        !(Lit(text, &pos, ':') && Digits(text, &pos, 2, &ss)))
      return std::nullopt;
    // Fractional seconds are accepted and ignored.
    if (pos < text.size() && text[pos] == '.') pos = text.size();
    if (pos != text.size() || hh > 23 || mi > 59 || ss > 59)
      return std::nullopt;
  }
  double days = text::DateTimeOf(DayOf(y, m, d));
  return days + (hh * 3600 + mi * 60 + ss) / 86400.0;
}

std::optional<std::string> ParseDateParam(std::string_view text,
                                          std::string* next_day) {
  std::optional<text::Day> day = text::ParseIsoDate(text);
  if (!day) return std::nullopt;
  *next_day = text::IsoDate(std::chrono::sys_days{*day} + std::chrono::days{1});
  return text::IsoDate(*day);
}

namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
         c == '#';
}

void SkipSpace(std::string_view s, size_t* pos) {
  while (*pos < s.size() && std::isspace(static_cast<unsigned char>(s[*pos])))
    ++*pos;
}

// A run of word characters (and dots for a schema-qualified table).
std::string_view Word(std::string_view s, size_t* pos, bool dots) {
  size_t b = *pos;
  while (*pos < s.size() && (IsWordChar(s[*pos]) || (dots && s[*pos] == '.')))
    ++*pos;
  return s.substr(b, *pos - b);
}

}  // namespace

std::string AdaptUpdateAlias(std::string_view sql) {
  size_t pos = 0;
  SkipSpace(sql, &pos);
  if (!text::EqualsIgnoringCase(Word(sql, &pos, false), "UPDATE"))
    return std::string(sql);
  size_t before_table = pos;
  SkipSpace(sql, &pos);
  if (pos == before_table) return std::string(sql);
  if (Word(sql, &pos, true).empty()) return std::string(sql);
  size_t alias_start = pos;
  SkipSpace(sql, &pos);
  if (pos == alias_start) return std::string(sql);
  alias_start = pos;
  std::string_view alias = Word(sql, &pos, false);
  if (alias.empty() || text::EqualsIgnoringCase(alias, "SET") ||
      text::EqualsIgnoringCase(alias, "AS"))
    return std::string(sql);
  size_t after_alias = pos;
  SkipSpace(sql, &pos);
  if (pos == after_alias ||
      !text::EqualsIgnoringCase(Word(sql, &pos, false), "SET"))
    return std::string(sql);

  std::string out(sql.substr(0, alias_start));
  out += "AS ";
  out.append(sql.substr(alias_start, pos - alias_start));  // alias ... SET
  // The SET list: strip "alias." at the start of each top-level assignment.
  int depth = 0;
  bool at_target = true;
  while (pos < sql.size()) {
    if (at_target) {
      size_t ws = pos;
      SkipSpace(sql, &pos);
      out.append(sql.substr(ws, pos - ws));
      size_t p = pos;
      std::string_view w = Word(sql, &p, false);
      if (text::EqualsIgnoringCase(w, alias) && p < sql.size() && sql[p] == '.')
        pos = p + 1;
      at_target = false;
      continue;
    }
    char c = sql[pos];
    if (c == '\'' || c == '"') {
      size_t end = pos + 1;
      while (end < sql.size()) {
        if (sql[end] == c) {
          if (end + 1 < sql.size() && sql[end + 1] == c) {
            end += 2;  // doubled quote inside the literal
            continue;
          }
          break;
        }
        ++end;
      }
      end = end < sql.size() ? end + 1 : end;
      out.append(sql.substr(pos, end - pos));
      pos = end;
      continue;
    }
    if (IsWordChar(c)) {
      size_t p = pos;
      std::string_view w = Word(sql, &p, false);
      if (depth == 0 && text::EqualsIgnoringCase(w, "WHERE")) {
        out.append(sql.substr(pos));
        return out;
      }
      out.append(w);
      pos = p;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth == 0) at_target = true;
    out.push_back(c);
    ++pos;
  }
  return out;
}

}  // namespace skjk::appserver
