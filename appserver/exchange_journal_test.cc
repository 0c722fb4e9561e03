// The write-back journal against a database session that answers as it is
// told: what reaches the database for each client statement, and what
// happens when the rows read before an UPDATE do not account for the rows
// it changed (the server tests, on real databases, cover the rest).
#include "appserver/exchange_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skjk::appserver {
namespace {

class ScriptedSession final : public DbSession {
 public:
  Status Begin() override {
    calls += "begin;";
    open = true;
    return Status::OK();
  }
  Status Commit() override {
    calls += "commit;";
    open = false;
    return Status::OK();
  }
  Status Rollback() override {
    calls += "rollback;";
    open = false;
    return Status::OK();
  }
  bool in_transaction() override { return open; }
  Status BeginRead() override { return Status::OK(); }
  void EndRead() override {}
  bool steps_in_turn() const override { return true; }
  Result<int64_t> Execute(std::string_view sql) override {
    calls += "execute " + std::string(sql) + ";";
    return changed;
  }
  Result<std::vector<TextRow>> ReadForWrite(std::string_view sql,
                                            std::string_view kind) override {
    calls += "read(" + std::string(kind) + ") " + std::string(sql) + ";";
    return rows;
  }
  // The journal's own writes, where a case gets that far.
  Result<Statement*> Prepare(const std::string&) override {
    return Status::Error("no journal here");
  }
  void SetInterruptCheck(std::function<bool()>) override {}

  std::string calls;
  bool open = false;
  std::vector<TextRow> rows;
  int64_t changed = 0;
};

TEST(ExchangeJournalTest, WhatReachesTheDatabase) {
  const DbSession::TextRow unchanged = {"101", "B", "N", "B", "N"};
  const struct {
    std::string sql;
    bool in_transaction;
    std::vector<DbSession::TextRow> rows;  // read before the UPDATE
    int64_t changed;                       // by the UPDATE
    std::string calls;
    std::string answer;  // "<N>" for rows changed, else part of the error
  } cases[] = {
      // Statements that set no invoice numbers, and those the backend
      // refuses whatever they are, go as they are.
      {"update XSTJQSK2 set SE0000=1",
       false,
       {},
       3,
       "execute update XSTJQSK2 set SE0000=1;",
       "<3>"},
      {"SELECT 1", false, {}, 0, "execute SELECT 1;", "<0>"},
      {"update T set FPHAO0='1'; select 1",
       false,
       {},
       0,
       "execute update T set FPHAO0='1'; select 1;",
       "<0>"},
      // Read, run, then the entry: one that cannot be written takes the
      // transaction back.
      {"update XSTFXPS2 A SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
       "B.DHAO00=A.DHAO00) WHERE A.DHAO00 IN (SELECT DHAO00 FROM XSTJQSK1)",
       true,
       {unchanged},
       1,
       "read(UPDATE) SELECT DHAO00, FPBBH0, FPHAO0, FPBBH0, (select B.FPHAO0 "
       "FROM XSTJQSK1 B WHERE B.DHAO00=A.DHAO00) FROM XSTFXPS2 A WHERE "
       "A.DHAO00 IN (SELECT DHAO00 FROM XSTJQSK1);execute update XSTFXPS2 A "
       "SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
       "B.DHAO00=A.DHAO00) WHERE A.DHAO00 IN (SELECT DHAO00 FROM "
       "XSTJQSK1);rollback;",
       "the exchange journal could not be written: no journal here"},
      // More rows changed than read: the journal would miss some.
      {"update XSTXSFP1 set FPBBH0='B', FPHAO0='N' where DHAO00>100",
       false,
       {unchanged},
       2,
       "begin;read(UPDATE) SELECT DHAO00, FPBBH0, FPHAO0, 'B', 'N' FROM "
       "XSTXSFP1 where DHAO00>100;execute update XSTXSFP1 set FPBBH0='B', "
       "FPHAO0='N' where DHAO00>100;rollback;",
       "the UPDATE changed 2 rows where the server read 1 before it ran"},
      {"update XSTXSFP1 set FPHAO0='N'",
       true,
       {unchanged, unchanged},
       1,
       "read(UPDATE) SELECT DHAO00, FPBBH0, FPHAO0, FPBBH0, 'N' FROM "
       "XSTXSFP1;execute update XSTXSFP1 set FPHAO0='N';rollback;",
       "changed 1 rows where the server read 2 before it ran, so the "
       "exchange journal would not say what it changed; the transaction was "
       "rolled back"},
      // A read that is not the five columns asked for: not run.
      {"update XSTXSFP1 set FPHAO0='N'",
       false,
       {{"101", "B", "N", "B"}},
       1,
       "begin;read(UPDATE) SELECT DHAO00, FPBBH0, FPHAO0, FPBBH0, 'N' FROM "
       "XSTXSFP1;rollback;",
       "cannot read which rows it changes"},
      // Refused before anything reaches the database.
      {"UPDATE OR REPLACE XSTXSFP1 SET FPHAO0='N'",
       false,
       {},
       0,
       "",
       "statement refused (UPDATE): the server reads an UPDATE only in the "
       "form"},
      {"WITH W AS (SELECT 1) UPDATE XSTXSFP1 SET FPHAO0='N'",
       false,
       {},
       0,
       "",
       "statement refused (WITH)"},
      {"insert into XSTJQSK1 select * from skjk_journal",
       false,
       {},
       0,
       "",
       "statement refused (INSERT): the exchange journal"},
  };
  for (const auto& c : cases) {
    ScriptedSession db;
    db.open = c.in_transaction;
    db.rows = c.rows;
    db.changed = c.changed;
    ExchangeJournal journal(&db, {"127.0.0.1", "DESK", "USER"});
    auto r = journal.Execute(c.sql);
    EXPECT_EQ(db.calls, c.calls) << c.sql;
    if (r.ok()) {
      EXPECT_EQ("<" + std::to_string(*r) + ">", c.answer) << c.sql;
    } else {
      EXPECT_NE(r.status().message().find(c.answer), std::string::npos)
          << c.sql << ": " << r.status().message();
    }
  }
}

}  // namespace
}  // namespace skjk::appserver
