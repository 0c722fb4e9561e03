// A transaction of the application server's database: the statements of a
// customer synchronisation or of a write-back are committed all together or
// not at all.
//
//   Transaction t(&connection);
//   SKJK_RETURN_IF_ERROR(t.Begin());
//   for (const std::string& sql : statements) {
//     SKJK_RETURN_IF_ERROR(t.Execute(sql));
//   }
//   return t.Commit();  // leaving without Commit rolls back
//
// A transaction runs on the session it began on, or not at all. Begin opens
// a session when the connection has none (a transaction begun on a fresh
// session is sound) and otherwise begins on the open one. No later call
// opens a session: once that session has ended (Connection::Close, a
// reconnect by another request of the connection, a broken link), the server
// has rolled the transaction back, and every further call fails without
// sending anything. Requests that others make through the connection while
// the transaction is open go to its session and so take part in it.
//
// On the wire: CustObjdbTranStart, one Execute of provider dsp_temp per
// statement, CustObjdbCommit; CustObjdbRollback when it ends otherwise.
//
// Nothing here throws. The first failure ends the transaction: what was done
// is rolled back, and every later Execute or Commit returns that same
// failure. The failures (base/status.h; the message is for the user):
//   Begin    LinkLost: no session could be opened, or the open one turned out
//            broken (the connection is closed; a new Transaction opens a new
//            session). BadInput: the server machine text is malformed.
//            Refused: the server did not begin (e.g. another session held
//            the write lock too long). Nothing is open afterwards.
//   Execute  Refused: the server refused the statement; the transaction is
//            rolled back. LinkLost: the session has ended, before or during
//            the statement; the server rolled back as it ended it, and this
//            and every later statement went nowhere.
//   Commit   OK: every statement is permanent. Refused: the server did not
//            commit; the transaction is rolled back. LinkLost: the commit
//            was not confirmed. When the session had ended before, nothing is
//            committed; when the link broke while the server was answering,
//            the commit may have been done: look at the data before running
//            the statements again.
// Calls out of order (Execute or Commit before Begin, Begin twice, anything
// after Commit or Rollback) fail with a general failure and send nothing.
//
// The connection must outlive the transaction. Not thread-safe, like the
// connection.
#ifndef SKJK_CLIENT_TRANSACTION_H_
#define SKJK_CLIENT_TRANSACTION_H_

#include <cstdint>
#include <string_view>

#include "base/status.h"
#include "client/connection.h"

namespace skjk {

class Transaction {
 public:
  explicit Transaction(Connection* connection) : connection_(connection) {}
  // Rolls back when begun and neither committed nor ended by a failure.
  ~Transaction() { Rollback(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  Status Begin();
  // Runs one SQL statement (GBK); stores the number of rows it changed in
  // *rows_changed when given.
  Status Execute(std::string_view sql, int64_t* rows_changed = nullptr);
  Status Commit();
  // Ends an open transaction without committing: rolls back on its session.
  // When the server does not confirm that, the session is closed, which
  // makes the server roll back. Does nothing when the transaction is not
  // open (not begun, committed, or ended by a failure).
  void Rollback();

 private:
  enum class State { kNew, kOpen, kCommitted, kRolledBack, kFailed };
  // The answer to a call that finds the transaction not open.
  Status NotOpen() const;
  // Ends the transaction with `failure` and rolls back what is left of it.
  Status Fail(Status failure);
  void RollBackOnServer();

  Connection* connection_;
  Connection::SessionId session_ = 0;
  State state_ = State::kNew;
  Status failure_;
};

}  // namespace skjk

#endif  // SKJK_CLIENT_TRANSACTION_H_
