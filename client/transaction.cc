#include "client/transaction.h"

#include <utility>

namespace skjk {

Status Transaction::Begin() {
  if (state_ != State::kNew) {
    return Status::Error("The transaction has begun already");
  }
  Status s = connection_->connected() ? Status::OK() : connection_->Open();
  if (s.ok()) {
    session_ = connection_->session();
    s = connection_->CallIn(session_, "CustObjdbTranStart");
  }
  if (!s.ok()) {
    // Nothing of this transaction is open: a refused start opened nothing,
    // and a broken link closed the session.
    state_ = State::kFailed;
    failure_ = s;
    return s;
  }
  state_ = State::kOpen;
  return Status::OK();
}

Status Transaction::Execute(std::string_view sql, int64_t* rows_changed) {
  if (state_ != State::kOpen) return NotOpen();
  Status s = connection_->ExecuteIn(session_, sql, rows_changed);
  if (!s.ok()) return Fail(std::move(s));
  return Status::OK();
}

Status Transaction::Commit() {
  if (state_ != State::kOpen) return NotOpen();
  Status s = connection_->CallIn(session_, "CustObjdbCommit");
  if (!s.ok()) return Fail(std::move(s));
  state_ = State::kCommitted;
  return Status::OK();
}

void Transaction::Rollback() {
  if (state_ != State::kOpen) return;
  state_ = State::kRolledBack;
  RollBackOnServer();
}

Status Transaction::NotOpen() const {
  switch (state_) {
    case State::kNew:
      return Status::Error("The transaction has not begun");
    case State::kCommitted:
      return Status::Error("The transaction has been committed already");
    case State::kRolledBack:
      return Status::Error("The transaction has been rolled back");
    case State::kFailed:
      return failure_;
    case State::kOpen:
      break;
  }
  return Status::Error("The transaction is open");
}

Status Transaction::Fail(Status failure) {
  state_ = State::kFailed;
  failure_ = failure;
  RollBackOnServer();
  return failure;
}

// A refused statement leaves the server's transaction open; a session that
// has ended took its transaction with it (the server rolls back when a
// session ends), and so does closing one whose rollback went wrong.
void Transaction::RollBackOnServer() {
  if (connection_->session() != session_) return;
  Status s = connection_->CallIn(session_, "CustObjdbRollback");
  if (!s.ok() && connection_->session() == session_) connection_->Close();
}

}  // namespace skjk
