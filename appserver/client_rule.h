// What a client's own SQL (Execute) may do: the rule of least privilege of
// skjk-server, as data. A client statement is one UPDATE or INSERT; it may
// write only the places below and read only the system's tables. Anything
// else (DDL, ATTACH, PRAGMA, VACUUM, transaction control in the text,
// DELETE, other tables or columns, the engine's own tables, functions not
// listed, the exchange journal) is refused before it runs. The backend
// enforces the rule with its engine's own mechanism (SQLite: the authorizer
// on the prepared statement).
#ifndef SKJK_APPSERVER_CLIENT_RULE_H_
#define SKJK_APPSERVER_CLIENT_RULE_H_

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace skjk::appserver {

// One table clients may write.
struct WritableTable {
  std::string_view table;
  // INSERT is allowed (the customer copy: INSERT ... SELECT).
  bool insert;
  // The columns UPDATE may set (the invoice write-back and the customer
  // closing statement).
  std::span<const std::string_view> columns;
};

// The rule's data.
std::span<const WritableTable> ClientWritableTables();
std::span<const std::string_view> ClientReadableTables();
std::span<const std::string_view> ClientFunctions();

// Names compare without regard to ASCII case, as SQL names do.
bool ClientMayUpdate(std::string_view table, std::string_view column);
bool ClientMayInsert(std::string_view table);
bool ClientMayRead(std::string_view table);
bool ClientMayCall(std::string_view function);

// "XSTXSFP1.FPBBH0, XSTXSFP1.FPHAO0, ...": what UPDATE may set, for messages.
std::string ClientUpdatableColumns();
// "XSTJQSK1, XSTJQSK2": where INSERT may add rows, for messages.
std::string ClientInsertableTables();

// Why a client statement of another kind (SELECT, VACUUM, ...) is refused.
inline constexpr char kClientStatementKinds[] =
    "only UPDATE of the invoice columns and INSERT into the customer copy are "
    "accepted";

// Why a client statement that names a table of the exchange journal
// (appserver/journal_schema.h) is refused: the server alone writes it, and
// clients read it through no statement.
inline constexpr char kJournalRefusal[] =
    "the exchange journal (SKJK_JOURNAL, SKJK_JOURNAL_DOC, SKJK_JOURNAL_ROW) "
    "is the server's own: a client statement may not name its tables";

// The refusal of a text holding a NUL byte at `offset` (any text, client's
// or not: the engines would cut it there).
std::string NulRefusal(size_t offset);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_CLIENT_RULE_H_
