// `skjk-server journal`: the exchange journal (appserver/journal_schema.h)
// read out for the administration, and a write-back's invoice numbers put
// back as they were before it.
//
// Both work on a session with administration access (Access::kAdmin) on
// either backend.
#ifndef SKJK_APPSERVER_JOURNAL_COMMAND_H_
#define SKJK_APPSERVER_JOURNAL_COMMAND_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "appserver/database.h"
#include "base/status.h"

namespace skjk::appserver {

// Which entries PrintJournal shows.
struct JournalFilter {
  // "YYYY-MM-DD": entries written on that day or later.
  std::optional<std::string> since = std::nullopt;
  // Entries that concern the document: exports that wrote it, write-backs
  // and undos that changed its rows. Of those only the document itself is
  // shown, not the entry's other documents and rows.
  std::optional<int64_t> document = std::nullopt;
};

enum class JournalFormat {
  // For reading: an entry's head, its desk, then its documents or row
  // groups, indented.
  kText,
  // For spreadsheets: a header line, then one line per document of an
  // export and per row group of a write-back or undo (an entry without
  // either still has one), RFC 4180 (CRLF, fields quoted where needed),
  // UTF-8.
  kCsv,
};

// Writes the journal's entries that `filter` keeps to `out`, oldest first.
Status PrintJournal(DbSession* db, const JournalFilter& filter,
                    JournalFormat format, std::ostream& out);

// Who undoes, for the undo's journal entry.
struct UndoDesk {
  std::string time;  // 'YYYY-MM-DD HH:MM:SS', local
  std::string computer;
  std::string user;
};
// This machine's local time, host name and the name of the account that
// runs the process.
UndoDesk LocalDesk();

// Restores the invoice numbers that write-back entry `entry` changed, in
// one transaction: the entry's row groups from its last statement to its
// first, each setting the rows of its table and document that carry the
// numbers the write-back gave back to the numbers they had before. Every
// group's rows must still be there as the write-back left them (as many
// rows with its numbers, an empty text and NULL alike); otherwise, or when
// the journal cannot say which rows had which numbers, nothing is written
// and the error lists the documents. The undo is journaled as an entry of
// kind 'undo' with rows of its own. Refused for an entry of another kind
// and for one undone already. Writes what it restored to `out`.
Status UndoWriteBack(DbSession* db, int64_t entry, const UndoDesk& desk,
                     std::ostream& out);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_JOURNAL_COMMAND_H_
