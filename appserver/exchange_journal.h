// The exchange journal as a client session writes and reads it
// (appserver/journal_schema.h has the tables): every export the client
// records, every invoice write-back it runs, and the checks that the
// plug-in makes before an export and before a write-back.
//
// A write-back is journaled as it runs: for each client UPDATE that sets
// FPBBH0 or FPHAO0, the rows it is about to change are read first with a
// SELECT built from the statement's own parts (its table, alias, the values
// it sets and its WHERE), under the client rule; then the UPDATE runs; then
// the rows whose invoice numbers really changed go into SKJK_JOURNAL_ROW,
// grouped by document and numbers before and after, under the entry of the
// client's transaction. The journal is written inside the transaction: it
// commits with the change and goes with a rollback, and a journal that
// cannot be written takes the transaction back with it.
#ifndef SKJK_APPSERVER_EXCHANGE_JOURNAL_H_
#define SKJK_APPSERVER_EXCHANGE_JOURNAL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "appserver/database.h"
#include "appserver/dialect.h"
#include "base/status.h"
#include "wire/protocol.h"

namespace skjk::appserver {

// Where a session's entries come from: the client's address (without the
// port) and the computer and user its Hello named.
struct Desk {
  std::string address;
  std::string computer;
  std::string user;
};

// The journal of one client session, on its database session.
class ExchangeJournal {
 public:
  ExchangeJournal(DbSession* db, Desk desk) : db_(db), desk_(std::move(desk)) {}

  // Runs a client's statement (Execute) as DbSession::Execute does, and
  // journals it when it is an UPDATE that sets FPBBH0 or FPHAO0. Such an
  // UPDATE sent outside a transaction runs in one of its own. Refused
  // besides what the backend refuses: a statement that names a journal
  // table, one that begins with WITH, and an UPDATE in a form whose rows
  // the server cannot read (see SplitUpdate). When the journal cannot be
  // written after the UPDATE ran, or does not account for every row the
  // UPDATE changed, the transaction is rolled back and the statement fails
  // saying so.
  Result<int64_t> Execute(std::string_view sql);

  // Tells that the session's transaction began or ended (the calls
  // CustObjdbTranStart, CustObjdbCommit, CustObjdbRollback): the next
  // journaled UPDATE opens a new entry.
  void TransactionBoundary();

  // One export entry with its documents, in a transaction of its own or
  // inside the session's open one. Returns the entry's number.
  Result<int64_t> RecordExport(const protocol::RecordExport& m);

  // Of the documents asked about, those in an earlier export entry of the
  // same line and kind that are still not invoiced; the latest such entry's
  // time and file. Reads only.
  Result<protocol::ExportHistory> CheckExport(const protocol::CheckExport& m);

  // What the line's tables hold for the documents: those missing, those
  // invoiced with their numbers. Reads only; the line and the file name
  // go into the session's next write-back entries.
  Result<protocol::InvoiceState> CheckInvoices(
      const protocol::CheckInvoices& m);

 private:
  // The UPDATE `sql` of `parts`, journaled, inside the transaction (one of
  // its own when `own`).
  Result<int64_t> JournaledUpdate(std::string_view sql,
                                  const UpdateParts& parts, bool own);
  // A new SKJK_JOURNAL row of `kind` with the desk; the export's fields
  // from `exported`, else the line and file of the last CheckInvoices.
  Result<int64_t> NewEntry(const char* kind,
                           const protocol::RecordExport* exported);
  // Rolls the transaction back after `why`: the error to answer with.
  Status Abandon(const std::string& why, bool own);

  DbSession* db_;
  const Desk desk_;
  // The write-back entry of the session's open transaction (0: none yet)
  // and the UPDATE statements the transaction has run.
  int64_t entry_ = 0;
  int64_t statements_ = 0;
  // What the last CheckInvoices named, for the write-back entries.
  std::string line_;
  std::string file_name_;
};

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_EXCHANGE_JOURNAL_H_
