#include "appserver/journal_schema.h"

#include <cctype>
#include <ctime>
#include <string>

#include "text/forms.h"

namespace skjk::appserver {
namespace {

// Invoice numbers are kept wider than any table's columns for them, so that
// the journal never refuses what a table took.
#define INVOICE_COL "VARCHAR(64)"

const char* const kStatements[] = {
    "CREATE TABLE IF NOT EXISTS SKJK_JOURNAL ("
    // Entry number, 1, 2, ...
    "ID INTEGER NOT NULL PRIMARY KEY,"
    // export, writeback or undo.
    " KIND VARCHAR(10) NOT NULL,"
    // The server's local time when the entry was written,
    // 'YYYY-MM-DD HH:MM:SS'.
    " ENTRY_TIME VARCHAR(19) NOT NULL,"
    // The business line (Bbsk, Fxsk, Jqsk) when the client named it.
    " LINE VARCHAR(8),"
    // Export: sales or void documents, and the window's date range.
    " DOC_KIND VARCHAR(5), FIRST_DATE VARCHAR(10), LAST_DATE VARCHAR(10),"
    // Export: the file written. Write-back: the issued-invoice file read,
    // when the client named it.
    " FILE_NAME VARCHAR(1024), FILE_SIZE BIGINT, FILE_HASH VARCHAR(64),"
    // Export: 'completed', or why the run failed.
    " OUTCOME VARCHAR(1024),"
    // The desk: the client's address and the names it gave at connection.
    " CLIENT_ADDR VARCHAR(64), COMPUTER VARCHAR(128), USER_NAME VARCHAR(128),"
    // Undo: the entry whose write-back it undid.
    " UNDOES INTEGER)",
    "CREATE INDEX IF NOT EXISTS SKJK_JOURNAL_TIME ON SKJK_JOURNAL (ENTRY_TIME)",
    "CREATE TABLE IF NOT EXISTS SKJK_JOURNAL_DOC (ENTRY_ID INTEGER NOT NULL,"
    " DHAO00 BIGINT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS SKJK_JOURNAL_DOC_ENTRY ON SKJK_JOURNAL_DOC "
    "(ENTRY_ID)",
    "CREATE INDEX IF NOT EXISTS SKJK_JOURNAL_DOC_DHAO ON SKJK_JOURNAL_DOC "
    "(DHAO00)",
    "CREATE TABLE IF NOT EXISTS SKJK_JOURNAL_ROW (ENTRY_ID INTEGER NOT NULL,"
    // The statement's number inside the entry, from 1.
    " STATEMENT_NO INTEGER NOT NULL,"
    " TABLE_NAME VARCHAR(8) NOT NULL, DHAO00 BIGINT,"
    // How many rows of the document went from the old numbers to the new.
    " ROW_COUNT INTEGER NOT NULL,"
    " OLD_FPBBH0 " INVOICE_COL ", OLD_FPHAO0 " INVOICE_COL
    ", NEW_FPBBH0 " INVOICE_COL ", NEW_FPHAO0 " INVOICE_COL ")",
    "CREATE INDEX IF NOT EXISTS SKJK_JOURNAL_ROW_ENTRY ON SKJK_JOURNAL_ROW "
    "(ENTRY_ID)",
    "CREATE INDEX IF NOT EXISTS SKJK_JOURNAL_ROW_DHAO ON SKJK_JOURNAL_ROW "
    "(DHAO00)",
};

#undef INVOICE_COL

}  // namespace

bool IsJournalTable(std::string_view name) {
  for (std::string_view t : kJournalTables) {
    if (text::EqualsIgnoringCase(t, name)) return true;
  }
  return false;
}

bool MentionsJournalTable(std::string_view sql) {
  std::string upper(sql);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (std::string_view t : kJournalTables) {
    if (upper.find(t) != std::string::npos) return true;
  }
  return false;
}

Result<bool> HasJournalSchema(DbSession* db) {
  // A query that names a missing table fails; the engines word that
  // differently, so any failure of these reads as "missing".
  for (const char* sql : {"SELECT COUNT(*) FROM SKJK_JOURNAL WHERE ID = 0",
                          "SELECT COUNT(*) FROM SKJK_JOURNAL_DOC WHERE "
                          "ENTRY_ID = 0",
                          "SELECT COUNT(*) FROM SKJK_JOURNAL_ROW WHERE "
                          "ENTRY_ID = 0"}) {
    auto q = db->Prepare(sql);
    if (!q.ok()) return false;
    auto row = (*q)->Step();
    (*q)->Reset();
    if (!row.ok()) return false;
  }
  return true;
}

Status CreateJournalSchema(DbSession* db) {
  auto has = HasJournalSchema(db);
  if (!has.ok()) return has.status();
  if (*has) return Status::OK();
  SKJK_RETURN_IF_ERROR(db->Begin());
  for (const char* sql : kStatements) {
    auto r = db->Execute(sql);
    if (!r.ok()) {
      Status rollback = db->Rollback();
      (void)rollback;  // the first error is the one to report
      return Status::Error("cannot create the exchange journal: " +
                           r.status().message());
    }
  }
  return db->Commit();
}

Status AddJournalToSqlite(const std::string& path, bool* added) {
  *added = false;
  auto db = OpenSqliteDatabase(path, Access::kAdmin);
  if (!db.ok()) return db.status();
  auto session = (*db)->OpenSession();
  if (!session.ok()) return session.status();
  auto has = HasJournalSchema(session->get());
  if (!has.ok()) return has.status();
  if (*has) return Status::OK();
  SKJK_RETURN_IF_ERROR(CreateJournalSchema(session->get()));
  *added = true;
  return Status::OK();
}

Result<int64_t> NextJournalEntry(DbSession* db) {
  auto last = db->Prepare("SELECT MAX(ID) FROM SKJK_JOURNAL");
  if (!last.ok()) return last.status();
  auto row = (*last)->Step();
  if (!row.ok()) return row.status();
  const int64_t id = *row && !(*last)->IsNull(0) ? (*last)->Int(0) + 1 : 1;
  (*last)->Reset();
  return id;
}

std::string JournalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32] = {};
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  }
  return text;
}

}  // namespace skjk::appserver
