#include "appserver/dialect.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

namespace skjk::appserver {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

const int64_t kEpoch1899 = DaysFromCivil(1899, 12, 30);

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

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::string FormatDate(int y, int m, int d) {
  char b[48];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
  return b;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
    return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int max = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= max;
}

std::optional<std::string> OracleToDate(std::string_view text,
                                        std::string_view format,
                                        std::string* error) {
  std::string f = Upper(format);
  int y, m, d, hh = 0, mi = 0, ss = 0;
  size_t pos = 0;
  bool ok;
  bool with_time = false;
  if (f == "YYYYMMDD") {
    ok = Digits(text, &pos, 4, &y) && Digits(text, &pos, 2, &m) &&
         Digits(text, &pos, 2, &d);
  } else if (f == "YYYY-MM-DD") {
    ok = Digits(text, &pos, 4, &y) && Lit(text, &pos, '-') &&
         Digits(text, &pos, 2, &m) && Lit(text, &pos, '-') &&
         Digits(text, &pos, 2, &d);
  } else if (f == "YYYY-MM-DD HH24:MI:SS") {
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
  std::string out = FormatDate(y, m, d);
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
  double days = static_cast<double>(DaysFromCivil(y, m, d) - kEpoch1899);
  return days + (hh * 3600 + mi * 60 + ss) / 86400.0;
}

std::optional<std::string> ParseDateParam(std::string_view text,
                                          std::string* next_day) {
  size_t pos = 0;
  int y, m, d;
  if (!(Digits(text, &pos, 4, &y) && Lit(text, &pos, '-') &&
        Digits(text, &pos, 2, &m) && Lit(text, &pos, '-') &&
        Digits(text, &pos, 2, &d)) ||
      pos != text.size() || !IsValidDate(y, m, d))
    return std::nullopt;
  int ny = y, nm = m, nd = d + 1;
  if (!IsValidDate(ny, nm, nd)) {
    nd = 1;
    if (++nm > 12) {
      nm = 1;
      ++ny;
    }
  }
  *next_day = FormatDate(ny, nm, nd);
  return FormatDate(y, m, d);
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

bool IEquals(std::string_view a, std::string_view b) {
  return Upper(a) == Upper(b);
}

}  // namespace

std::string AdaptUpdateAlias(std::string_view sql) {
  size_t pos = 0;
  SkipSpace(sql, &pos);
  if (!IEquals(Word(sql, &pos, false), "UPDATE")) return std::string(sql);
  size_t before_table = pos;
  SkipSpace(sql, &pos);
  if (pos == before_table) return std::string(sql);
  if (Word(sql, &pos, true).empty()) return std::string(sql);
  size_t alias_start = pos;
  SkipSpace(sql, &pos);
  if (pos == alias_start) return std::string(sql);
  alias_start = pos;
  std::string_view alias = Word(sql, &pos, false);
  if (alias.empty() || IEquals(alias, "SET") || IEquals(alias, "AS"))
    return std::string(sql);
  size_t after_alias = pos;
  SkipSpace(sql, &pos);
  if (pos == after_alias || !IEquals(Word(sql, &pos, false), "SET"))
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
      if (IEquals(w, alias) && p < sql.size() && sql[p] == '.') pos = p + 1;
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
      if (depth == 0 && IEquals(w, "WHERE")) {
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
