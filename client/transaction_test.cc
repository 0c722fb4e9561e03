// Transactions against a real skjk-server on loopback, on each database
// backend. What was committed is read from the database directly, past the
// server.
#include "client/transaction.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "client/connection.h"
#include "testing/backends.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using text::literals::operator""_gbk;

// Copies a document of customer `code` ("C1": document 1) into the
// customer window's table, as the customer synchronisation does.
std::string Insert(const std::string& code) {
  return text::Utf8ToGbk(
      "insert into XSTJQSK1 (DHAO00, KHDM00, DWMC00) "
      "values (" +
      code.substr(1) + ", '" + code + "', '客户" + code + "')");
}

// Every case runs on both database backends.
class TransactionTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    SKJK_REQUIRE_BACKEND(GetParam());
    ASSERT_NO_FATAL_FAILURE(StartServer());
  }

  void StartServer() {
    conn_.Close();
    server_.reset();
    auto s =
        testing::ServerProcess::Start({.backend = GetParam()});  // empty tables
    ASSERT_TRUE(s.ok()) << s.status().message();
    server_ = std::move(s).value();
    conn_.set_machine_name(server_->machine());
  }

  // The customers of the committed documents, "C1;C2".
  std::string Customers() const {
    return server_->Select("SELECT KHDM00 FROM XSTJQSK1 ORDER BY 1");
  }

  std::unique_ptr<testing::ServerProcess> server_;
  Connection conn_;
};

TEST_P(TransactionTest, CommitMakesEveryStatementPermanentAndNothingBefore) {
  {
    Transaction t(&conn_);
    ASSERT_TRUE(t.Begin().ok());
    EXPECT_TRUE(conn_.connected());  // Begin opened the session
    for (const char* code : {"C1", "C2", "C3"}) {
      int64_t changed = -1;
      Status s = t.Execute(Insert(code), &changed);
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(changed, 1);
    }
    int64_t changed = -1;
    ASSERT_TRUE(
        t.Execute("update XSTJQSK1 set FPHAO0=DWMC00 where KHDM00<>'C2'",
                  &changed)
            .ok());
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(Customers(), "");  // others see nothing before the commit
    Status s = t.Commit();
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(Customers(), "C1;C2;C3");

    // A committed transaction takes no more statements and sends nothing.
    EXPECT_EQ(t.Execute(Insert("C4")).code(), Status::Code::kGeneral);
    EXPECT_EQ(t.Commit().code(), Status::Code::kGeneral);
  }  // and its end rolls nothing back
  EXPECT_EQ(Customers(), "C1;C2;C3");
  EXPECT_TRUE(conn_.connected());
}

TEST_P(TransactionTest, RefusedStatementRollsBackTheEarlierOnes) {
  Transaction t(&conn_);
  ASSERT_TRUE(t.Begin().ok());
  ASSERT_TRUE(t.Execute(Insert("C1")).ok());
  Connection::SessionId session = conn_.session();
  // A document without a number.
  Status refused =
      t.Execute("insert into XSTJQSK1 (DHAO00, KHDM00) values (NULL, 'C2')");
  ASSERT_TRUE(refused.IsRefused()) << refused.message();
  // The engine's own words: SQLite's "NOT NULL constraint failed",
  // MariaDB's "cannot be null".
  EXPECT_TRUE(refused.message().find("NOT NULL") != std::string::npos ||
              refused.message().find("cannot be null") != std::string::npos)
      << refused.message();
  // Every later call gives the same answer and sends nothing.
  for (Status s : {t.Execute(Insert("C2")), t.Commit()}) {
    EXPECT_TRUE(s.IsRefused());
    EXPECT_EQ(s.message(), refused.message());
  }
  EXPECT_EQ(Customers(), "");
  // The session goes on, without an open transaction: the next one can begin.
  EXPECT_EQ(conn_.session(), session);
  Transaction next(&conn_);
  ASSERT_TRUE(next.Begin().ok());
  ASSERT_TRUE(next.Execute(Insert("C3")).ok());
  ASSERT_TRUE(next.Commit().ok());
  EXPECT_EQ(Customers(), "C3");
}

TEST_P(TransactionTest, EndingWithoutCommitRollsBack) {
  for (bool explicitly : {false, true}) {
    SCOPED_TRACE(explicitly ? "Rollback()" : "destructor");
    ASSERT_NO_FATAL_FAILURE(StartServer());
    {
      Transaction t(&conn_);
      ASSERT_TRUE(t.Begin().ok());
      ASSERT_TRUE(t.Execute(Insert("C1")).ok());
      if (explicitly) {
        t.Rollback();
        // Nothing more runs, here or anywhere.
        EXPECT_EQ(t.Execute(Insert("C2")).code(), Status::Code::kGeneral);
        EXPECT_EQ(t.Commit().code(), Status::Code::kGeneral);
      }
    }
    EXPECT_EQ(Customers(), "");
    // The session is still there and has no transaction open.
    ASSERT_TRUE(conn_.connected());
    Transaction next(&conn_);
    ASSERT_TRUE(next.Begin().ok());
    ASSERT_TRUE(next.Execute(Insert("C3")).ok());
    ASSERT_TRUE(next.Commit().ok());
    EXPECT_EQ(Customers(), "C3");
  }
}

// The session a transaction began on ends half-way. Its later statements
// must fail as link lost and go nowhere, least of all to a new session,
// where each would commit on its own.
TEST_P(TransactionTest, LostSessionEndsTheTransactionAndNothingIsCommitted) {
  struct Case {
    const char* name;
    std::function<void()> lose;
    bool server_up;  // a new session can be had afterwards
  };
  for (const Case& c : std::initializer_list<Case>{
           {"connection closed", [this] { conn_.Close(); }, true},
           {"reopened by a get-records request",
            [this] {
              conn_.Close();
              Packet p;
              ASSERT_TRUE(conn_
                              .GetRecords("dsp_bbsk1", Connection::kAllRecords,
                                          true, {"2024-01-01", "2024-12-31"},
                                          &p)
                              .ok());
            },
            true},
           {"reconnected", [this] { ASSERT_TRUE(conn_.Open().ok()); }, true},
           // The client notices only when it next sends.
           {"server stopped", [this] { ASSERT_TRUE(server_->Stop().ok()); },
            false},
       }) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(StartServer());
    {
      Transaction t(&conn_);
      ASSERT_TRUE(t.Begin().ok());
      ASSERT_TRUE(t.Execute(Insert("C1")).ok());
      ASSERT_NO_FATAL_FAILURE(c.lose());
      Connection::SessionId session = conn_.session();

      Status s = t.Execute(Insert("C2"));
      EXPECT_TRUE(s.IsLinkLost()) << s.message();
      EXPECT_FALSE(s.message().empty());
      for (Status later : {t.Execute(Insert("C3")), t.Commit()}) {
        EXPECT_TRUE(later.IsLinkLost()) << later.message();
      }
      // The transaction opened no session of its own.
      EXPECT_TRUE(!conn_.connected() || conn_.session() == session);
    }
    EXPECT_EQ(Customers(), "");
    if (!c.server_up) continue;
    // The connection serves a new transaction, untouched by the old one.
    Transaction next(&conn_);
    ASSERT_TRUE(next.Begin().ok());
    ASSERT_TRUE(next.Execute(Insert("C4")).ok());
    ASSERT_TRUE(next.Commit().ok());
    EXPECT_EQ(Customers(), "C4");
  }
}

TEST_P(TransactionTest, FailedCommitIsReported) {
  Transaction t(&conn_);
  ASSERT_TRUE(t.Begin().ok());
  ASSERT_TRUE(t.Execute(Insert("C1")).ok());
  // Something else on the session ends the server's transaction.
  ASSERT_TRUE(conn_.Call("CustObjdbRollback").ok());
  Status s = t.Commit();
  EXPECT_TRUE(s.IsRefused()) << s.message();
  EXPECT_NE(s.message().find("no transaction is open"), std::string::npos)
      << s.message();
  EXPECT_TRUE(t.Commit().IsRefused());
  EXPECT_EQ(Customers(), "");
}

// A failed Begin leaves nothing open, and the transaction runs nothing.
TEST_P(TransactionTest, FailedBeginRunsNothing) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    Status::Code code;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"nothing listening",
            [this] { conn_.set_machine_name("127.0.0.1:1"); },
            Status::Code::kLinkLost},
           {"bad machine name", [this] { conn_.set_machine_name("host:0"); },
            Status::Code::kBadInput},
           {"session in a transaction already",
            [this] {
              ASSERT_TRUE(conn_.Open().ok());
              ASSERT_TRUE(conn_.Call("CustObjdbTranStart").ok());
            },
            Status::Code::kRefused},
       }) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(StartServer());
    ASSERT_NO_FATAL_FAILURE(c.prepare());
    Transaction t(&conn_);
    Status s = t.Begin();
    EXPECT_EQ(s.code(), c.code) << s.message();
    EXPECT_FALSE(s.message().empty());
    for (Status later : {t.Execute(Insert("C1")), t.Commit(), t.Begin()}) {
      EXPECT_FALSE(later.ok());
    }
    EXPECT_EQ(t.Execute(Insert("C1")).message(), s.message());
    if (conn_.connected()) {
      // The transaction that was there is left to its owner.
      ASSERT_TRUE(conn_.Call("CustObjdbCommit").ok());
    }
    EXPECT_EQ(Customers(), "");
  }
}

TEST_P(TransactionTest, CallsOutOfOrderSendNothing) {
  Transaction t(&conn_);
  EXPECT_EQ(t.Execute(Insert("C1")).code(), Status::Code::kGeneral);
  EXPECT_EQ(t.Commit().code(), Status::Code::kGeneral);
  EXPECT_FALSE(conn_.connected());
  ASSERT_TRUE(t.Begin().ok());
  EXPECT_EQ(t.Begin().code(), Status::Code::kGeneral);
  ASSERT_TRUE(t.Execute(Insert("C1")).ok());
  ASSERT_TRUE(t.Commit().ok());
  EXPECT_EQ(Customers(), "C1");
}

INSTANTIATE_TEST_SUITE_P(Backends, TransactionTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

}  // namespace
}  // namespace skjk
