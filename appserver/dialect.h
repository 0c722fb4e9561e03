// Oracle-dialect helpers for the backends: the date forms, the one
// statement form SQLite cannot parse, and the parts of an UPDATE.
#ifndef SKJK_APPSERVER_DIALECT_H_
#define SKJK_APPSERVER_DIALECT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skjk::appserver {

// True for a real calendar date (years 1..9999).
bool IsValidDate(int year, int month, int day);

// TO_DATE(text, format) for the formats 'YYYYMMDD', 'YYYY-MM-DD' and
// 'YYYY-MM-DD HH24:MI:SS' (format letters in any case): the stored date text
// 'YYYY-MM-DD' (with ' HH:MM:SS' for the last). nullopt when the text does
// not match the format or names an impossible date; *error says why.
std::optional<std::string> OracleToDate(std::string_view text,
                                        std::string_view format,
                                        std::string* error);

// Parses a stored date text 'YYYY-MM-DD' or 'YYYY-MM-DD HH:MM[:SS]' into days
// since 1899-12-30 (the fraction is the time of day). nullopt if malformed.
std::optional<double> StoredDateToDays(std::string_view text);

// Parses a "YYYY-MM-DD" parameter; nullopt unless it is a real date.
// *next_day receives the following day in the same form.
std::optional<std::string> ParseDateParam(std::string_view text,
                                          std::string* next_day);

// `update T A SET A.C=...` -> `update T AS A SET C=...`: SQLite takes a
// table alias in UPDATE only with AS and no alias-qualified column to set.
// Only the assignment targets lose their qualifier; sub-queries, string
// literals and everything after WHERE stay as they are. The text is read as
// SQL: comments (-- and /* */), string literals ('..', '' inside) and quoted
// names ("..", [..], `..`) are never taken for parts of the statement. Any
// other statement is returned unchanged.
std::string AdaptUpdateAlias(std::string_view sql);

// The first word of the statement, past white space and comments, in upper
// case ("UPDATE"); empty when it begins otherwise.
std::string FirstKeyword(std::string_view sql);

// What the tokens of an SQL text (read as AdaptUpdateAlias reads it) say of
// its statements, for a backend whose engine does not tell.
struct StatementShape {
  std::string keyword;  // FirstKeyword()
  // Nothing but white space, comments and ';'.
  bool empty = true;
  // Something significant after a top-level ';'.
  bool several = false;
  // A comment /*! ... */ or /*M! ... */, which MariaDB runs as SQL.
  bool executable_comment = false;
  // The length of the first statement, without the ';' that ends it and
  // what follows.
  size_t length = 0;
};
StatementShape ShapeOf(std::string_view sql);

// The parts of `UPDATE table [[AS] alias] SET column = value, ... [WHERE
// ...]`, read as AdaptUpdateAlias reads the text, for a query that selects
// the rows the statement changes. nullopt for any other statement or form
// (several statements, UPDATE OR ..., UPDATE ... FROM, RETURNING, brackets
// that do not pair), and for a text that SQLite and MariaDB read
// differently: a `#` outside literals, quoted names and comments (MariaDB's
// comment to the end of the line), a `--` not followed by white space
// (MariaDB's minus minus), a value that names a column the statement sets
// before it (MariaDB reads the new value, SQLite the old).
struct UpdateParts {
  std::string table;       // as written: T, "T", S.T
  std::string table_name;  // the last part of `table`, unquoted, upper case
  std::string alias;       // as written; empty when none
  struct Assignment {
    std::string column;  // unquoted, upper case, without qualifier
    std::string value;   // as written, comments inside included
  };
  std::vector<Assignment> assignments;
  // From the top-level WHERE (or ORDER BY, LIMIT) to the end of the
  // statement, as written; empty when there is none.
  std::string rest;
};
std::optional<UpdateParts> SplitUpdate(std::string_view sql);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_DIALECT_H_
