#include "appserver/dialect.h"

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

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

// A piece of SQL text as SQLite reads it.
struct Token {
  enum class Kind {
    kSpace,       // white space
    kComment,     // -- to the end of the line, or /* ... */
    kString,      // '...' ('' inside)
    kIdentifier,  // "...", [...] or `...` (a quoted name)
    kWord,        // a name, keyword or number
    kSymbol,      // any other character
  };
  Kind kind;
  std::string_view text;
};

bool IsWordChar(char c) {
  // Bytes of multi-byte UTF-8 characters belong to names, as in SQLite.
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
         c == '#' || static_cast<unsigned char>(c) >= 0x80;
}

// The end of a quoted piece starting at `pos` with `open`, closed by
// `close` (doubled inside when open == close); the end of `s` if unclosed.
size_t QuotedEnd(std::string_view s, size_t pos, char close) {
  size_t p = pos + 1;
  while (p < s.size()) {
    if (s[p] == close) {
      if (s[pos] == close && p + 1 < s.size() && s[p + 1] == close) {
        p += 2;
        continue;
      }
      return p + 1;
    }
    ++p;
  }
  return s.size();
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  size_t pos = 0;
  while (pos < s.size()) {
    const char c = s[pos];
    size_t end = pos + 1;
    Token::Kind kind = Token::Kind::kSymbol;
    if (std::isspace(static_cast<unsigned char>(c))) {
      kind = Token::Kind::kSpace;
      while (end < s.size() && std::isspace(static_cast<unsigned char>(s[end])))
        ++end;
    } else if (c == '-' && pos + 1 < s.size() && s[pos + 1] == '-') {
      kind = Token::Kind::kComment;
      end = s.find('\n', pos);
      end = end == std::string_view::npos ? s.size() : end + 1;
    } else if (c == '/' && pos + 1 < s.size() && s[pos + 1] == '*') {
      kind = Token::Kind::kComment;
      end = s.find("*/", pos + 2);
      end = end == std::string_view::npos ? s.size() : end + 2;
    } else if (c == '\'') {
      kind = Token::Kind::kString;
      end = QuotedEnd(s, pos, '\'');
    } else if (c == '"' || c == '`') {
      kind = Token::Kind::kIdentifier;
      end = QuotedEnd(s, pos, c);
    } else if (c == '[') {
      kind = Token::Kind::kIdentifier;
      end = QuotedEnd(s, pos, ']');
    } else if (IsWordChar(c)) {
      kind = Token::Kind::kWord;
      while (end < s.size() && IsWordChar(s[end])) ++end;
    }
    out.push_back({kind, s.substr(pos, end - pos)});
    pos = end;
  }
  return out;
}

bool Insignificant(const Token& t) {
  return t.kind == Token::Kind::kSpace || t.kind == Token::Kind::kComment;
}

bool IsKeyword(const Token& t, std::string_view word) {
  return t.kind == Token::Kind::kWord && text::EqualsIgnoringCase(t.text, word);
}

bool IsSymbol(const Token& t, char c) {
  return t.kind == Token::Kind::kSymbol && t.text.size() == 1 && t.text[0] == c;
}

bool IsName(const Token& t) {
  return t.kind == Token::Kind::kWord || t.kind == Token::Kind::kIdentifier;
}

// The same name: words without regard to case, quoted names exactly.
bool SameName(const Token& a, const Token& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == Token::Kind::kWord)
    return text::EqualsIgnoringCase(a.text, b.text);
  return a.text == b.text;
}

// The index of the next significant token at or after `i` (tokens.size()
// when there is none).
size_t Next(const std::vector<Token>& tokens, size_t i) {
  while (i < tokens.size() && Insignificant(tokens[i])) ++i;
  return i;
}

}  // namespace

std::string AdaptUpdateAlias(std::string_view sql) {
  const std::vector<Token> t = Tokenize(sql);
  const size_t n = t.size();
  // UPDATE table[.table] alias SET
  size_t i = Next(t, 0);
  if (i == n || !IsKeyword(t[i], "UPDATE")) return std::string(sql);
  i = Next(t, i + 1);
  if (i == n || !IsName(t[i])) return std::string(sql);
  size_t after_table = i + 1;
  if (size_t dot = Next(t, after_table); dot < n && IsSymbol(t[dot], '.')) {
    size_t name = Next(t, dot + 1);
    if (name == n || !IsName(t[name])) return std::string(sql);
    after_table = name + 1;
  }
  // The alias must stand apart from the table name.
  if (after_table == n || !Insignificant(t[after_table]))
    return std::string(sql);
  const size_t alias = Next(t, after_table);
  if (alias == n || !IsName(t[alias]) || IsKeyword(t[alias], "SET") ||
      IsKeyword(t[alias], "AS"))
    return std::string(sql);
  size_t set = Next(t, alias + 1);
  if (set == n || !IsKeyword(t[set], "SET")) return std::string(sql);

  std::string out;
  for (size_t k = 0; k < alias; ++k) out.append(t[k].text);
  out += "AS ";
  for (size_t k = alias; k <= set; ++k) out.append(t[k].text);
  // The SET list: "alias." goes from the start of each top-level
  // assignment; everything from a top-level WHERE on stays as it is.
  int depth = 0;
  bool at_target = true;
  for (size_t k = set + 1; k < n; ++k) {
    const Token& tok = t[k];
    if (Insignificant(tok)) {
      out.append(tok.text);
      continue;
    }
    if (at_target) {
      at_target = false;
      size_t dot = Next(t, k + 1);
      if (SameName(tok, t[alias]) && dot < n && IsSymbol(t[dot], '.')) {
        // Keep what lies between (comments), drop the alias and the dot.
        for (size_t m = k + 1; m < dot; ++m) out.append(t[m].text);
        k = dot;
        // SET"A".F: the column must not run into the word before it.
        if (!out.empty() && IsWordChar(out.back()) && k + 1 < n &&
            !t[k + 1].text.empty() && IsWordChar(t[k + 1].text.front())) {
          out += ' ';
        }
        continue;
      }
    }
    if (depth == 0 && IsKeyword(tok, "WHERE")) {
      for (size_t m = k; m < n; ++m) out.append(t[m].text);
      return out;
    }
    if (IsSymbol(tok, '(')) ++depth;
    if (IsSymbol(tok, ')')) --depth;
    if (depth == 0 && IsSymbol(tok, ',')) at_target = true;
    out.append(tok.text);
  }
  return out;
}

std::string FirstKeyword(std::string_view sql) {
  const std::vector<Token> t = Tokenize(sql);
  size_t i = Next(t, 0);
  if (i == t.size() || t[i].kind != Token::Kind::kWord) return std::string();
  std::string out(t[i].text);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

StatementShape ShapeOf(std::string_view sql) {
  StatementShape shape;
  shape.keyword = FirstKeyword(sql);
  const std::vector<Token> t = Tokenize(sql);
  size_t offset = 0;
  bool ended = false;
  for (const Token& tok : t) {
    if (tok.kind == Token::Kind::kComment &&
        (tok.text.substr(0, 3) == "/*!" || tok.text.substr(0, 4) == "/*M!")) {
      shape.executable_comment = true;
    }
    if (!Insignificant(tok)) {
      if (IsSymbol(tok, ';')) {
        ended = true;
      } else if (ended) {
        shape.several = true;
      } else {
        shape.empty = false;
        shape.length = offset + tok.text.size();
      }
    }
    offset += tok.text.size();
  }
  return shape;
}

namespace {

// The name a name token stands for: a word in upper case, a quoted name
// without its quotes (a doubled quote inside made single) in upper case,
// as SQLite and MariaDB compare column names without regard to case.
std::string NameText(const Token& t) {
  std::string out;
  if (t.kind == Token::Kind::kWord) {
    out = std::string(t.text);
  } else {
    const char close = t.text.front() == '[' ? ']' : t.text.front();
    std::string_view inner = t.text.substr(1);
    if (!inner.empty() && inner.back() == close) inner.remove_suffix(1);
    for (size_t i = 0; i < inner.size(); ++i) {
      out += inner[i];
      if (close != ']' && inner[i] == close && i + 1 < inner.size() &&
          inner[i + 1] == close)
        ++i;
    }
  }
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Whether SQLite and MariaDB may read `t` differently: MariaDB takes `#`
// for a comment and `--` for one only before white space.
bool ReadDifferently(const Token& t) {
  if (t.kind == Token::Kind::kComment) {
    return t.text.substr(0, 2) == "--" &&
           (t.text.size() < 3 || static_cast<unsigned char>(t.text[2]) > ' ');
  }
  return (t.kind == Token::Kind::kWord || t.kind == Token::Kind::kSymbol) &&
         t.text.find('#') != std::string_view::npos;
}

}  // namespace

std::optional<UpdateParts> SplitUpdate(std::string_view sql) {
  const StatementShape shape = ShapeOf(sql);
  if (shape.empty || shape.several) return std::nullopt;
  std::vector<Token> t = Tokenize(sql);
  for (const Token& tok : t) {
    if (ReadDifferently(tok)) return std::nullopt;
  }
  // The first statement's tokens: up to its last significant one, which
  // ends at shape.length.
  size_t end = 0, count = 0;
  while (count < t.size() && end < shape.length) end += t[count++].text.size();
  t.resize(count);
  const size_t n = t.size();
  // The text from token `from` up to (without) token `to`, without the
  // white space and comments at either end: a `--` comment inside always
  // ends with its line.
  auto span = [&](size_t from, size_t to) {
    while (from < to && Insignificant(t[from])) ++from;
    while (to > from && Insignificant(t[to - 1])) --to;
    std::string out;
    for (size_t k = from; k < to; ++k) out.append(t[k].text);
    return out;
  };
  // A name, optionally qualified (A.B, A.B.C): its last part's index, or n.
  auto qualified = [&](size_t i, int parts) {
    if (i == n || !IsName(t[i])) return n;
    for (int p = 1; p < parts; ++p) {
      const size_t dot = Next(t, i + 1);
      if (dot == n || !IsSymbol(t[dot], '.')) break;
      i = Next(t, dot + 1);
      if (i == n || !IsName(t[i])) return n;
    }
    return i;
  };

  UpdateParts parts;
  size_t i = Next(t, 0);
  if (i == n || !IsKeyword(t[i], "UPDATE")) return std::nullopt;
  const size_t first = Next(t, i + 1);
  const size_t last = qualified(first, 2);
  if (last == n) return std::nullopt;
  for (size_t k = first; k <= last; ++k) {
    if (!Insignificant(t[k])) parts.table.append(t[k].text);
  }
  parts.table_name = NameText(t[last]);
  i = Next(t, last + 1);
  if (i < n && IsKeyword(t[i], "AS")) {
    i = Next(t, i + 1);
    if (i == n || !IsName(t[i])) return std::nullopt;
  }
  if (i < n && IsName(t[i]) && !IsKeyword(t[i], "SET")) {
    parts.alias = std::string(t[i].text);
    i = Next(t, i + 1);
  }
  if (i == n || !IsKeyword(t[i], "SET")) return std::nullopt;

  i = Next(t, i + 1);
  for (;;) {
    const size_t column = qualified(i, 3);
    if (column == n) return std::nullopt;
    const size_t equals = Next(t, column + 1);
    if (equals == n || !IsSymbol(t[equals], '=')) return std::nullopt;
    // The value runs to a top-level comma or clause.
    int depth = 0;
    size_t k = equals + 1;
    for (; k < n; ++k) {
      const Token& tok = t[k];
      if (IsSymbol(tok, '(')) ++depth;
      if (IsSymbol(tok, ')') && --depth < 0) return std::nullopt;
      if (depth > 0) continue;
      if (IsSymbol(tok, ',') || IsKeyword(tok, "WHERE") ||
          IsKeyword(tok, "ORDER") || IsKeyword(tok, "LIMIT") ||
          IsKeyword(tok, "FROM") || IsKeyword(tok, "RETURNING"))
        break;
    }
    if (depth != 0) return std::nullopt;
    std::string value = span(equals + 1, k);
    if (value.empty()) return std::nullopt;
    // A value that reads a column set before it in the statement: MariaDB
    // reads the new value there, SQLite the old one.
    for (size_t m = equals + 1; m < k; ++m) {
      if (!IsName(t[m])) continue;
      const std::string name = NameText(t[m]);
      for (const UpdateParts::Assignment& a : parts.assignments) {
        if (a.column == name) return std::nullopt;
      }
    }
    parts.assignments.push_back({NameText(t[column]), std::move(value)});
    if (k == n) return parts;
    if (IsSymbol(t[k], ',')) {
      i = Next(t, k + 1);
      continue;
    }
    if (IsKeyword(t[k], "FROM") || IsKeyword(t[k], "RETURNING"))
      return std::nullopt;
    // The rest must pair its brackets too, and hold no further clause
    // that makes the statement more than an UPDATE.
    int rest_depth = 0;
    for (size_t m = k; m < n; ++m) {
      if (IsSymbol(t[m], '(')) ++rest_depth;
      if (IsSymbol(t[m], ')') && --rest_depth < 0) return std::nullopt;
      if (rest_depth == 0 && IsKeyword(t[m], "RETURNING")) return std::nullopt;
    }
    if (rest_depth != 0) return std::nullopt;
    parts.rest = span(k, n);
    return parts;
  }
}

}  // namespace skjk::appserver
