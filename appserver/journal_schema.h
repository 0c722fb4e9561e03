// The exchange journal: what skjk-server keeps of every export and every
// invoice write-back, in tables of its own beside the management system's
// (docs/schema.md, "Exchange journal").
//
//   SKJK_JOURNAL      one row per entry: an export, a write-back, an undo
//   SKJK_JOURNAL_DOC  the documents written into an export's file
//   SKJK_JOURNAL_ROW  per statement of a write-back (or an undo), the rows
//                     whose invoice numbers it changed, grouped by table,
//                     document and the numbers before and after
//
// Entry numbers count from 1 and are taken as MAX(ID) + 1 while the
// writer holds the database's write lock, so that the statements are the
// same on every backend.
#ifndef SKJK_APPSERVER_JOURNAL_SCHEMA_H_
#define SKJK_APPSERVER_JOURNAL_SCHEMA_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "appserver/database.h"
#include "base/status.h"

namespace skjk::appserver {

inline constexpr char kJournalTable[] = "SKJK_JOURNAL";
inline constexpr char kJournalDocumentTable[] = "SKJK_JOURNAL_DOC";
inline constexpr char kJournalRowTable[] = "SKJK_JOURNAL_ROW";

// The entry kinds (SKJK_JOURNAL.KIND).
inline constexpr char kExportEntry[] = "export";
inline constexpr char kWriteBackEntry[] = "writeback";
inline constexpr char kUndoEntry[] = "undo";

inline constexpr const char* kJournalTables[] = {
    kJournalTable, kJournalDocumentTable, kJournalRowTable};

// Whether `name` is one of the journal's tables (ASCII case ignored).
bool IsJournalTable(std::string_view name);

// Whether the text `sql` holds the name of a journal table anywhere, in any
// case: as a name, quoted, qualified, or inside a literal or a comment.
// A search of the whole text, not of its tokens, so that no reading of
// comments that differs from the engine's can hide a name.
bool MentionsJournalTable(std::string_view sql);

// Creates the journal's tables and indexes that are missing, in one
// transaction where the engine's DDL is transactional. Run by init and,
// on a database that predates the journal, when serve starts (an account
// that may create tables is needed: SQLite's file owner, MariaDB's
// administrator).
Status CreateJournalSchema(DbSession* db);

// Whether the database has all of the journal's tables.
Result<bool> HasJournalSchema(DbSession* db);

// The number of the next entry: the largest so far plus one, 1 for the
// first. Taken inside the writer's transaction, which holds the write lock.
Result<int64_t> NextJournalEntry(DbSession* db);

// An entry's time (ENTRY_TIME): the server's local time now,
// 'YYYY-MM-DD HH:MM:SS'.
std::string JournalTime();

// Gives the SQLite database `path`, about to be served, the journal's
// tables when it lacks them (a database made before the journal), through
// an administration connection of its own; *added says whether it did.
Status AddJournalToSqlite(const std::string& path, bool* added);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_JOURNAL_SCHEMA_H_
