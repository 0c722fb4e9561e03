// The client rule of skjk-server: what a client's Execute may run, on the
// SQLite backend itself and through a real server on loopback; the
// UPDATE-alias adaptation checked against what SQLite does with the
// statement it was meant to be; and on MariaDB, the application account's
// grants with and without the server's own check.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "appserver/database.h"
#include "appserver/dialect.h"
#include "appserver/schema.h"
#include "client/connection.h"
#include "exchange/invoice_file.h"
#include "exchange/invoice_writeback.h"
#include "interface_window/business_line.h"
#include "testing/backends.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk::appserver {
namespace {

// Rows for every table the system's statements read or write. The remarks
// of the head-office documents are what the comment cases aim at.
const std::vector<std::string> kRows = {
    "INSERT INTO GSTKHGL0 VALUES ('K1','vediruza商贸','','开票地址','地址',"
    "'330100','银行','001')",
    "INSERT INTO GSTKHGL0 VALUES ('K2','其他客户',NULL,NULL,'地址二','330200',"
    "NULL,NULL)",
    "INSERT INTO GSTJYGL0 VALUES ('G1','卷烟甲','硬盒','条')",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,BEIZHU) VALUES "
    "(101,'2024-04-01','Smith, A.J.')",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,BEIZHU) VALUES "
    "(102,'2024-04-01','Smith, J.')",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,BEIZHU) VALUES "
    "(103,'2024-04-01','O''Brien, A.B.')",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,BEIZHU) VALUES "
    "(104,'2024-04-01','-- x /* y */')",
    "INSERT INTO XSTXSFP2 VALUES (101,'G1',300,1,300,39)",
    "INSERT INTO XSTBFFP1 (DHAO00,YWRQ00) VALUES (201,'2024-04-01')",
    "INSERT INTO XSTFXPS1 VALUES (301,'Z','2024-04-01','张','张','K1','01',"
    "'0')",
    "INSERT INTO XSTFXPS1 VALUES (302,'Z','2024-04-01','张','张','K2','01',"
    "'0')",
    "INSERT INTO XSTFXPS2 VALUES (301,'G1',300,2,2,0,600,78,'R1',NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (302,'G1',300,1,1,0,300,39,NULL,NULL,NULL)",
};

const char* const kTables[] = {
    "GSTKHGL0", "GSTJYGL0", "XSTXSFP1", "XSTXSFP2", "XSTBFFP1",
    "XSTBFFP2", "XSTFXPS1", "XSTFXPS2", "XSTJQSK1", "XSTJQSK2",
};

// Everything a statement could have changed: the schema, the settings that
// persist in the file, every row.
std::string Dump(const std::string& path) {
  std::string out = testing::SelectRows(
      path, "SELECT type,name,tbl_name,sql FROM sqlite_master ORDER BY name");
  for (const char* pragma : {"PRAGMA user_version", "PRAGMA journal_mode",
                             "PRAGMA application_id"}) {
    out += "\n" + testing::SelectRows(path, pragma);
  }
  for (const char* table : kTables) {
    out += "\n" + std::string(table) + ": " +
           testing::SelectRows(
               path, "SELECT * FROM " + std::string(table) + " ORDER BY rowid");
  }
  return out;
}

// The files of a folder, "a.db;b.db", but the engine's companions of a
// database file (-wal, -shm, -journal), which come and go with connections.
std::string Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    bool companion = false;
    for (std::string_view end : {"-wal", "-shm", "-journal"}) {
      companion |= name.size() > end.size() &&
                   name.compare(name.size() - end.size(), end.size(), end) == 0;
    }
    if (!companion) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ";") + n;
  return out;
}

void ReplaceAll(std::string* s, std::string_view from, std::string_view to) {
  for (size_t at = s->find(from); at != std::string::npos;
       at = s->find(from, at + to.size())) {
    s->replace(at, from.size(), to);
  }
}

// Statements no client may run, each with (part of) the reason it is
// refused for. %DIR% stands for a folder the statement could write in.
struct Hostile {
  const char* sql;
  const char* refusal;
};
const Hostile kHostile[] = {
    // Schema changes.
    {"DROP TABLE XSTXSFP1", "(DROP): writing the database schema"},
    {"DROP VIEW XSVFXPS0", "(DROP): writing the database schema"},
    {"CREATE TABLE X (A)", "(CREATE): writing the database schema"},
    {"CREATE INDEX XSIXSFP1_BEIZHU ON XSTXSFP1 (BEIZHU)",
     "(CREATE): writing the database schema"},
    {"CREATE TEMP TABLE X (A)", "(CREATE): writing the database schema"},
    {"CREATE TRIGGER T AFTER INSERT ON XSTJQSK1 BEGIN DELETE FROM XSTXSFP1; "
     "END",
     "CREATE TRIGGER is not allowed"},
    {"ALTER TABLE XSTXSFP1 ADD COLUMN X", "ALTER TABLE is not allowed"},
    {"UPDATE sqlite_master SET sql='x' WHERE name='XSTXSFP1'",
     "sqlite_master may not be modified"},
    // Other databases and files.
    {"ATTACH '%DIR%/other.db' AS other", "ATTACH is not allowed"},
    {"DETACH main", "DETACH is not allowed"},
    {"VACUUM INTO '%DIR%/copy.db'", "(VACUUM): only UPDATE"},
    {"VACUUM", "(VACUUM): only UPDATE"},
    {"UPDATE XSTXSFP1 SET FPHAO0=load_extension('%DIR%/x.so')",
     "function load_extension is not allowed"},
    {"SELECT load_extension('%DIR%/x.so')",
     "function load_extension is not allowed"},
    // Settings, also those that persist in the file.
    {"PRAGMA writable_schema=ON", "PRAGMA writable_schema is not allowed"},
    {"PRAGMA journal_mode=DELETE", "PRAGMA journal_mode is not allowed"},
    {"PRAGMA user_version=7", "PRAGMA user_version is not allowed"},
    {"PRAGMA foreign_keys", "PRAGMA foreign_keys is not allowed"},
    {"REINDEX", "REINDEX is not allowed"},
    {"ANALYZE", "ANALYZE is not allowed"},
    // Transaction control belongs to the calls.
    {"BEGIN", "BEGIN in SQL text is not allowed"},
    {"COMMIT", "COMMIT in SQL text is not allowed"},
    {"ROLLBACK", "ROLLBACK in SQL text is not allowed"},
    {"SAVEPOINT s", "SAVEPOINT/RELEASE is not allowed"},
    // Writes beyond the invoice columns and the customer copy.
    {"UPDATE XSTXSFP1 SET BEIZHU='x'", "UPDATE of XSTXSFP1.BEIZHU"},
    {"UPDATE XSTXSFP1 SET FPHAO0='1', DHAO00=9 WHERE DHAO00=101",
     "UPDATE of XSTXSFP1.DHAO00"},
    {"UPDATE XSTXSFP1 A SET A.FPHAO0='1', A.JEHJ00=0 WHERE A.DHAO00=101",
     "UPDATE of XSTXSFP1.JEHJ00"},
    {"UPDATE XSTJQSK1 SET KHDM00='K2'", "UPDATE of XSTJQSK1.KHDM00"},
    {"UPDATE XSTJQSK2 SET JE0000=0", "UPDATE of XSTJQSK2.JE0000"},
    {"UPDATE GSTKHGL0 SET KHMC00='x'", "UPDATE of GSTKHGL0.KHMC00"},
    {"INSERT INTO XSTXSFP1 (DHAO00,YWRQ00) VALUES (999,'2024-01-01')",
     "INSERT into XSTXSFP1 is not allowed"},
    {"INSERT INTO GSTKHGL0 (KHDM00) VALUES ('K9')",
     "INSERT into GSTKHGL0 is not allowed"},
    {"DELETE FROM XSTJQSK1", "DELETE (from XSTJQSK1) is not allowed"},
    {"DELETE FROM XSTXSFP1 WHERE DHAO00=101",
     "DELETE (from XSTXSFP1) is not allowed"},
    // Reads of the engine's own tables, other statement kinds, functions.
    {"UPDATE XSTXSFP1 SET FPHAO0=(SELECT sql FROM sqlite_master LIMIT 1)",
     "reading sqlite_master is not allowed"},
    {"UPDATE XSTXSFP1 SET FPHAO0=(SELECT COUNT(*) FROM "
     "pragma_table_info('XSTXSFP1'))",
     "statement refused (UPDATE)"},
    {"SELECT * FROM XSTXSFP1", "(SELECT): only UPDATE"},
    {"EXPLAIN UPDATE XSTXSFP1 SET FPHAO0='1'", "(EXPLAIN): only UPDATE"},
    {"UPDATE XSTXSFP1 SET FPHAO0=length(randomblob(900000000))",
     "function randomblob is not allowed"},
    {"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) "
     "UPDATE XSTXSFP1 SET FPHAO0=(SELECT MAX(x) FROM c)",
     "a recursive query is not allowed"},
    // Hidden behind comments and literals.
    {"/* update XSTXSFP1 set FPHAO0='1' */ DROP TABLE XSTJQSK2",
     "(DROP): writing the database schema"},
    {"UPDATE XSTXSFP1 A SET A.FPHAO0='x' /* ' */, A.BEIZHU='y' /* ' */",
     "UPDATE of XSTXSFP1.BEIZHU"},
};

// Builds databases of the schema and kRows in a folder of their own.
class Databases {
 public:
  Databases() : dir_(testing::MakeTestDirectory("privilege")) {}
  ~Databases() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

  // A new database `name`.db with the schema and kRows.
  std::string Create(const std::string& name) {
    const std::string path = dir_ + "/" + name + ".db";
    Status s = CreateSqliteFile(path);
    EXPECT_TRUE(s.ok()) << s.message();
    std::unique_ptr<DbSession> admin = Open(path, Access::kAdmin);
    if (admin == nullptr) return path;
    s = CreateSchema(admin.get());
    EXPECT_TRUE(s.ok()) << s.message();
    for (const std::string& sql : kRows) {
      auto r = admin->Execute(sql);
      EXPECT_TRUE(r.ok()) << sql << ": " << r.status().message();
    }
    return path;
  }

  std::unique_ptr<DbSession> Open(const std::string& path, Access access) {
    auto db = OpenSqliteDatabase(path, access);
    EXPECT_TRUE(db.ok()) << db.status().message();
    if (!db.ok()) return nullptr;
    databases_.push_back(std::move(db).value());
    auto session = databases_.back()->OpenSession();
    EXPECT_TRUE(session.ok()) << session.status().message();
    if (!session.ok()) return nullptr;
    return std::move(session).value();
  }

 private:
  std::string dir_;
  std::vector<std::unique_ptr<Database>> databases_;
};

TEST(ClientRuleTest, HostileStatementsAreRefusedAndChangeNothing) {
  Databases dbs;
  ASSERT_FALSE(dbs.dir().empty());
  const std::string path = dbs.Create("client");
  std::unique_ptr<DbSession> client = dbs.Open(path, Access::kClient);
  ASSERT_NE(client, nullptr);
  const std::string before = Dump(path);
  const std::string files = Files(dbs.dir());
  for (bool in_transaction : {false, true}) {
    SCOPED_TRACE(in_transaction ? "in a transaction" : "on its own");
    if (in_transaction) {
      ASSERT_TRUE(client->Begin().ok());
    }
    for (const Hostile& h : kHostile) {
      std::string sql = h.sql;
      ReplaceAll(&sql, "%DIR%", dbs.dir());
      auto r = client->Execute(sql);
      ASSERT_FALSE(r.ok()) << sql << " ran: " << *r;
      EXPECT_NE(r.status().message().find(h.refusal), std::string::npos)
          << sql << ": " << r.status().message();
    }
    EXPECT_EQ(client->in_transaction(), in_transaction);
    if (in_transaction) {
      ASSERT_TRUE(client->Commit().ok());
    }
    EXPECT_EQ(Dump(path), before);
    EXPECT_EQ(Files(dbs.dir()), files);
  }
  // The session is as usable as before.
  auto r = client->Execute(
      "update XSTXSFP1 set FPBBH0='1100',FPHAO0='0001' where DHAO00=101");
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(*r, 1);
}

// The text is cut at a NUL by the engine: what follows would go unread.
TEST(ClientRuleTest, AStatementHoldingANulIsRefusedUnrun) {
  Databases dbs;
  const std::string path = dbs.Create("nul");
  const std::string before = Dump(path);
  for (Access access : {Access::kClient, Access::kAdmin}) {
    std::unique_ptr<DbSession> session = dbs.Open(path, access);
    ASSERT_NE(session, nullptr);
    for (const std::string& sql : {
             std::string("update XSTXSFP1 set FPHAO0='1' where DHAO00=101") +
                 '\0' + " and 0",
             std::string(1, '\0'),
         }) {
      auto r = session->Execute(sql);
      ASSERT_FALSE(r.ok());
      EXPECT_NE(r.status().message().find("statement refused: it holds a "
                                          "NUL byte"),
                std::string::npos)
          << r.status().message();
    }
  }
  EXPECT_EQ(Dump(path), before);
}

// The statements the plug-in sends, taken from where it builds them, in
// the order of a showing of the customer window and an import of each
// line, then both forms of the customer closing statement.
std::vector<std::string> SystemStatements() {
  std::vector<std::string> out;
  for (std::string_view sql :
       GetBusinessLine(BusinessLineKey::kJqsk).show_sync) {
    out.emplace_back(sql);
  }
  auto add = [&out](BusinessLineKey key, const InvoiceRecord& record) {
    auto statements =
        InvoiceWriteBack::Statements(GetBusinessLine(key).importing, record);
    EXPECT_TRUE(statements.ok()) << statements.status().message();
    if (!statements.ok()) return;
    for (const std::string& gbk : *statements) {
      out.push_back(text::GbkToUtf8(gbk));
    }
  };
  InvoiceRecord sales;
  sales.book = "110012";
  sales.number = "0001234";
  sales.document = "101";
  add(BusinessLineKey::kBbsk, sales);
  InvoiceRecord void_record = sales;
  void_record.kind = InvoiceRecord::Kind::kVoid;
  void_record.document = "201";
  void_record.number = "0001235";
  add(BusinessLineKey::kBbsk, void_record);
  sales.document = "301";
  sales.number = "0001236";
  add(BusinessLineKey::kFxsk, sales);
  InvoiceRecord customer = sales;
  customer.number = "0001237";
  customer.date = "20240115";
  customer.detail_count = 1;
  customer.details = {{text::Utf8ToGbk("卷烟甲"), "12.5", 2}};
  add(BusinessLineKey::kJqsk, customer);
  out.emplace_back(GetBusinessLine(BusinessLineKey::kJqsk).importing.closing);
  // The closing statement of earlier versions of the plug-in.
  out.emplace_back(
      "update XSTFXPS2 A SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
      "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL) WHERE A.DHAO00 IN (SELECT "
      "DHAO00 FROM XSTJQSK1) AND SL0000<>0");
  return out;
}

// Each runs and changes what it changes without the rule.
TEST(ClientRuleTest, TheSystemsOwnStatementsRunAsWithoutTheRule) {
  Databases dbs;
  const std::string ruled = dbs.Create("ruled");
  const std::string free = dbs.Create("free");
  std::unique_ptr<DbSession> client = dbs.Open(ruled, Access::kClient);
  std::unique_ptr<DbSession> admin = dbs.Open(free, Access::kAdmin);
  ASSERT_TRUE(client != nullptr && admin != nullptr);
  const std::vector<std::string> statements = SystemStatements();
  ASSERT_EQ(statements.size(), 9u);
  ASSERT_TRUE(client->Begin().ok());
  for (const std::string& sql : statements) {
    auto r = client->Execute(sql);
    ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
    auto expected = admin->Execute(sql);
    ASSERT_TRUE(expected.ok()) << sql << ": " << expected.status().message();
    EXPECT_EQ(*r, *expected) << sql;
    EXPECT_GT(*r, 0) << sql;  // the rows are there for each to change
  }
  ASSERT_TRUE(client->Commit().ok());
  EXPECT_EQ(Dump(ruled), Dump(free));
  EXPECT_EQ(testing::SelectRows(ruled,
                                "SELECT DHAO00,FPBBH0,FPHAO0 FROM XSTFXPS2 "
                                "ORDER BY DHAO00"),
            "301|110012|0001237;302|-|-");
}

// The UPDATE-alias form with comments, literals and quoted names changes
// exactly the rows that the statement it stands for changes in SQLite.
TEST(AdaptUpdateAliasTest, ChangesTheSameRowsAsTheIntendedStatement) {
  struct Case {
    const char* sent;      // Oracle's form, as a client sends it
    const char* intended;  // what it means, in SQLite's form
  } cases[] = {
      {"UPDATE XSTXSFP1 A SET A.FPHAO0='INV2' /* don't */ WHERE "
       "A.BEIZHU='Smith, A.J.'",
       "UPDATE XSTXSFP1 SET FPHAO0='INV2' WHERE BEIZHU='Smith, A.J.'"},
      {"UPDATE XSTXSFP1 A SET A.FPHAO0='INV2' -- don't\nWHERE "
       "A.BEIZHU='Smith, A.J.'",
       "UPDATE XSTXSFP1 SET FPHAO0='INV2' WHERE BEIZHU='Smith, A.J.'"},
      {"UPDATE XSTXSFP1 A SET A.FPHAO0='I' /* WHERE A.DHAO00=102 */, "
       "A.FPBBH0='B' WHERE A.DHAO00=101",
       "UPDATE XSTXSFP1 SET FPHAO0='I', FPBBH0='B' WHERE DHAO00=101"},
      {"UPDATE XSTXSFP1 A SET A.FPHAO0='A.X, A.FPBBH0=1' WHERE "
       "A.BEIZHU='O''Brien, A.B.'",
       "UPDATE XSTXSFP1 SET FPHAO0='A.X, A.FPBBH0=1' WHERE "
       "BEIZHU='O''Brien, A.B.'"},
      {"UPDATE XSTXSFP1 A SET A.FPHAO0='it''s', A.FPBBH0='--' WHERE "
       "A.BEIZHU='-- x /* y */'",
       "UPDATE XSTXSFP1 SET FPHAO0='it''s', FPBBH0='--' WHERE "
       "BEIZHU='-- x /* y */'"},
      {"/* write-back */ update XSTXSFP1 a /* alias */ set a . \"FPHAO0\" = "
       "'Q' where a.\"BEIZHU\"='Smith, J.' -- done",
       "UPDATE XSTXSFP1 SET FPHAO0='Q' WHERE BEIZHU='Smith, J.'"},
      {"UPDATE XSTXSFP1 A SET A.FPHAO0=(SELECT 'x' /* ( */), A.FPBBH0=(SELECT "
       "')' FROM XSTXSFP2 B WHERE B.DHAO00=A.DHAO00) WHERE A.DHAO00=101",
       "UPDATE XSTXSFP1 SET FPHAO0='x', FPBBH0=')' WHERE DHAO00=101"},
      {"UPDATE XSTXSFP1 A SET A.FPHAO0='WHERE' WHERE A.BEIZHU LIKE 'Smith, "
       "A%'",
       "UPDATE XSTXSFP1 SET FPHAO0='WHERE' WHERE BEIZHU='Smith, A.J.'"},
      {"update XSTFXPS2 A SET A.FPHAO0=(select B.DHAO00 FROM XSTFXPS1 B WHERE "
       "B.DHAO00=A.DHAO00 /* , A.FPBBH0='x' */) WHERE A.SPDM00='G1' AND "
       "A.SL0000 = 1",
       "UPDATE XSTFXPS2 SET FPHAO0=DHAO00 WHERE DHAO00=302"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    Databases dbs;
    const std::string adapted = dbs.Create("adapted");
    const std::string intended = dbs.Create("intended");
    std::unique_ptr<DbSession> client = dbs.Open(adapted, Access::kClient);
    std::unique_ptr<DbSession> admin = dbs.Open(intended, Access::kAdmin);
    ASSERT_TRUE(client != nullptr && admin != nullptr);
    auto want = admin->Execute(c.intended);
    ASSERT_TRUE(want.ok()) << want.status().message();
    ASSERT_GT(*want, 0);
    auto got = client->Execute(c.sent);
    ASSERT_TRUE(got.ok()) << got.status().message();
    EXPECT_EQ(*got, *want);
    EXPECT_EQ(Dump(adapted), Dump(intended));
  }
}

// Through a real server: each refusal reaches the client as an error and
// the log as one line, the database stays as it was, and the server goes on
// serving, also after the attack that used to break every later Hello.
TEST(ClientRuleServerTest, RefusalsAnswerTheClientAndTheServerGoesOn) {
  auto server = testing::ServerProcess::Start();
  ASSERT_TRUE(server.ok()) << server.status().message();
  testing::ServerProcess& s = **server;
  ASSERT_TRUE(s.Fill(kRows).ok());
  const std::string before = Dump(s.db_path());
  const std::string files = Files(s.directory());

  std::vector<std::string> hostile;
  for (const Hostile& h : kHostile) hostile.push_back(h.sql);
  // The break-in, in two statements.
  hostile.push_back("PRAGMA writable_schema=ON");
  hostile.push_back(
      "UPDATE sqlite_master SET sql='CREATE TABLE XSTXSFP1 (' WHERE "
      "name='XSTXSFP1'");
  hostile.push_back(std::string("update XSTXSFP1 set FPHAO0='1'") + '\0' +
                    "; DELETE FROM XSTXSFP1");
  Connection c;
  c.set_machine_name(s.machine());
  for (std::string sql : hostile) {
    ReplaceAll(&sql, "%DIR%", s.directory());
    Status st = c.Execute(text::Utf8ToGbk(sql));
    ASSERT_TRUE(st.IsRefused()) << sql << ": " << st.message();
    EXPECT_TRUE(c.connected());
  }
  EXPECT_EQ(Dump(s.db_path()), before);
  EXPECT_EQ(Files(s.directory()), files);
  // One log line for each refusal, saying what was refused.
  const std::string log = s.log();
  size_t lines = 0;
  for (size_t at = log.find("Execute: "); at != std::string::npos;
       at = log.find("Execute: ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, hostile.size()) << log;
  EXPECT_NE(log.find("Execute: statement refused (PRAGMA): PRAGMA "
                     "writable_schema is not allowed"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Execute: statement refused: it holds a NUL byte"),
            std::string::npos)
      << log;

  // A new session: Hello, the providers, the system's own statements.
  Connection next;
  next.set_machine_name(s.machine());
  Packet p;
  Status st = next.GetRecords("dsp_bbsk1", Connection::kAllRecords, true,
                              {"2024-04-01", "2024-04-01"}, &p);
  ASSERT_TRUE(st.ok()) << st.message();
  EXPECT_EQ(p.rows.size(), 4u);
  ASSERT_TRUE(next.Call("CustObjdbTranStart").ok());
  for (const std::string& sql : SystemStatements()) {
    st = next.Execute(text::Utf8ToGbk(sql));
    ASSERT_TRUE(st.ok()) << sql << ": " << st.message();
  }
  ASSERT_TRUE(next.Call("CustObjdbCommit").ok());
  EXPECT_EQ(s.Select("SELECT COUNT(*) FROM XSTJQSK2"), "1");
  EXPECT_EQ(s.Select("SELECT FPHAO0 FROM XSTXSFP1 WHERE DHAO00=101"),
            "0001234");
}

// ---- MariaDB: the engine's grants, besides the server's own check ----

// What a MariaDB statement could have changed: the schema, the functions
// and triggers, the application account's grants, every row.
std::string DumpMariadb(const std::string& admin_url) {
  const std::string db = admin_url.substr(admin_url.rfind('/') + 1);
  std::string out =
      testing::SelectRows(admin_url,
                          "SELECT TABLE_NAME, COLUMN_NAME, COLUMN_TYPE FROM "
                          "information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
                              db + "' ORDER BY 1, ORDINAL_POSITION");
  out += "\n" + testing::SelectRows(
                    admin_url,
                    "SELECT ROUTINE_NAME, ROUTINE_DEFINITION FROM "
                    "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = '" +
                        db + "' ORDER BY 1");
  out += "\n" + testing::SelectRows(
                    admin_url,
                    "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS "
                    "WHERE TRIGGER_SCHEMA = '" +
                        db + "' ORDER BY 1");
  // The test account is shared: grants on the databases of tests running
  // meanwhile come and go, and the order of the lines with them. Its global
  // grants and those on this database are what a statement here could have
  // changed.
  std::istringstream grants(
      testing::SelectRows(admin_url, "SHOW GRANTS FOR 'skjk_test_app'@'%'"));
  std::vector<std::string> own;
  for (std::string grant; std::getline(grants, grant, ';');) {
    if (grant.find(" ON *.* ") != std::string::npos ||
        grant.find("`" + db + "`") != std::string::npos) {
      own.push_back(grant);
    }
  }
  std::sort(own.begin(), own.end());
  for (const std::string& grant : own) out += "\n" + grant;
  for (const char* table : kTables) {
    out += "\n" + testing::SelectRows(admin_url,
                                      "CHECKSUM TABLE " + std::string(table));
  }
  return out;
}

struct MariadbHostile {
  const char* sql;
  // Refused by the account's grants too, not only by the server's check
  // that a client statement is an UPDATE or an INSERT.
  bool by_grants;
};
const MariadbHostile kMariadbHostile[] = {
    {"DROP TABLE XSTXSFP1", true},
    {"DROP VIEW XSVFXPS0", true},
    {"DROP DATABASE %DB%", true},
    {"CREATE TABLE X (A INT)", true},
    {"CREATE INDEX XSIXSFP1_BEIZHU ON XSTXSFP1 (BEIZHU)", true},
    {"ALTER TABLE XSTXSFP1 ADD COLUMN X INT", true},
    {"TRUNCATE TABLE XSTJQSK1", true},
    {"CREATE TRIGGER T AFTER INSERT ON XSTJQSK1 FOR EACH ROW DELETE FROM "
     "XSTXSFP1",
     true},
    {"DROP FUNCTION TO_DATE", true},
    {"CREATE FUNCTION F() RETURNS INT RETURN 1", true},
    {"UPDATE XSTXSFP1 SET BEIZHU='x'", true},
    {"UPDATE XSTXSFP1 A SET A.FPHAO0='1', A.JEHJ00=0 WHERE A.DHAO00=101", true},
    {"UPDATE XSTJQSK1 SET KHDM00='K2'", true},
    {"UPDATE GSTKHGL0 SET KHMC00='x'", true},
    {"INSERT INTO XSTXSFP1 (DHAO00,YWRQ00) VALUES (999,'2024-01-01')", true},
    {"INSERT INTO GSTKHGL0 (KHDM00) VALUES ('K9')", true},
    {"REPLACE INTO XSTJQSK1 (DHAO00) VALUES (1)", true},
    {"DELETE FROM XSTJQSK1", true},
    {"DELETE FROM XSTXSFP1 WHERE DHAO00=101", true},
    {"UPDATE mysql.global_priv SET Priv='{}'", true},
    {"UPDATE XSTXSFP1 SET FPHAO0=(SELECT MAX(User) FROM mysql.user)", true},
    {"GRANT ALL PRIVILEGES ON %DB%.* TO 'skjk_test_app'@'%'", true},
    {"CREATE USER 'intruder'@'%'", true},
    {"SET GLOBAL max_connections=1", true},
    {"SELECT * FROM XSTXSFP1 INTO OUTFILE '/tmp/skjk-outfile'", true},
    {"LOAD DATA INFILE '/etc/hostname' INTO TABLE XSTJQSK1", true},
    {"FLUSH TABLES", true},
    {"SHUTDOWN", true},
    {"/*!50000 DROP TABLE XSTJQSK2 */", true},
    {"/* update XSTXSFP1 set FPHAO0='1' */ DROP TABLE XSTJQSK2", true},
    {"UPDATE XSTXSFP1 SET FPHAO0='1' /*!, BEIZHU='y' */", true},
    // The engine allows these to any account; the server's check does not.
    {"SELECT * FROM XSTXSFP1", false},
    {"BEGIN", false},
    {"COMMIT", false},
    {"SAVEPOINT s", false},
    {"SET SESSION sql_mode=''", false},
    {"SET PASSWORD = PASSWORD('x')", false},
    {"DO SLEEP(0)", false},
    {"UPDATE XSTXSFP1 SET FPHAO0='4'; DELETE FROM XSTXSFP1", false},
};

class MariadbPrivilegeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKJK_REQUIRE_BACKEND(testing::Backend::kMariadb);
    auto s =
        testing::ServerProcess::Start({.backend = testing::Backend::kMariadb});
    ASSERT_TRUE(s.ok()) << s.status().message();
    server_ = std::move(s).value();
    Status filled = server_->Fill(kRows);
    ASSERT_TRUE(filled.ok()) << filled.message();
  }

  // A session on the application account that clients are served with.
  std::unique_ptr<DbSession> Open(Access access) {
    auto url = ParseMariadbUrl(server_->client_db());
    EXPECT_TRUE(url.ok()) << url.status().message();
    if (!url.ok()) return nullptr;
    auto db = OpenMariadbDatabase(*url, access);
    EXPECT_TRUE(db.ok()) << db.status().message();
    if (!db.ok()) return nullptr;
    databases_.push_back(std::move(db).value());
    auto session = databases_.back()->OpenSession();
    EXPECT_TRUE(session.ok()) << session.status().message();
    return session.ok() ? std::move(session).value() : nullptr;
  }

  std::string Sql(const char* text) const {
    std::string sql = text;
    const std::string& url = server_->db_path();
    ReplaceAll(&sql, "%DB%", url.substr(url.rfind('/') + 1));
    return sql;
  }

  std::unique_ptr<testing::ServerProcess> server_;
  std::vector<std::unique_ptr<Database>> databases_;
};

// Through the server's session: every hostile statement is refused, alone
// and inside a transaction, and nothing changes.
TEST_F(MariadbPrivilegeTest, HostileStatementsAreRefusedAndChangeNothing) {
  std::unique_ptr<DbSession> client = Open(Access::kClient);
  ASSERT_NE(client, nullptr);
  const std::string before = DumpMariadb(server_->db_path());
  for (bool in_transaction : {false, true}) {
    SCOPED_TRACE(in_transaction ? "in a transaction" : "on its own");
    if (in_transaction) {
      ASSERT_TRUE(client->Begin().ok());
    }
    for (const MariadbHostile& h : kMariadbHostile) {
      auto r = client->Execute(Sql(h.sql));
      ASSERT_FALSE(r.ok()) << h.sql << " ran: " << *r;
      const std::string& m = r.status().message();
      EXPECT_TRUE(m.find("refused") != std::string::npos ||
                  m.find("more than one statement") != std::string::npos)
          << h.sql << ": " << m;
    }
    EXPECT_EQ(client->in_transaction(), in_transaction);
    if (in_transaction) {
      ASSERT_TRUE(client->Commit().ok());
    }
    EXPECT_EQ(DumpMariadb(server_->db_path()), before);
  }
  auto r = client->Execute(
      "update XSTXSFP1 set FPBBH0='1100',FPHAO0='0001' where DHAO00=101");
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(*r, 1);
}

// With the server's own check bypassed, the application account still
// cannot change the schema, other columns or tables, or the grants.
TEST_F(MariadbPrivilegeTest, TheAccountsGrantsHoldWithoutTheServersCheck) {
  std::unique_ptr<DbSession> bypass = Open(Access::kAdmin);
  ASSERT_NE(bypass, nullptr);
  const std::string before = DumpMariadb(server_->db_path());
  // The account's grants on this database are part of what is compared.
  EXPECT_NE(before.find("GRANT UPDATE ("), std::string::npos) << before;
  for (const MariadbHostile& h : kMariadbHostile) {
    if (!h.by_grants) continue;
    auto r = bypass->Execute(Sql(h.sql));
    EXPECT_FALSE(r.ok()) << h.sql << " ran: " << *r;
  }
  EXPECT_EQ(DumpMariadb(server_->db_path()), before);
  EXPECT_EQ(
      testing::SelectRows(server_->db_path(), "SELECT COUNT(*) FROM XSTXSFP1"),
      "4");
}

// serve takes only an account that cannot do more than clients need.
TEST_F(MariadbPrivilegeTest, ServingWithAnAdministrationAccountIsRefused) {
  auto url = ParseMariadbUrl(server_->db_path());
  ASSERT_TRUE(url.ok());
  auto db = OpenMariadbDatabase(*url, Access::kClient);
  ASSERT_FALSE(db.ok());
  EXPECT_NE(db.status().message().find("may do more than clients need"),
            std::string::npos)
      << db.status().message();
  Status s = testing::RunServerCommand(
      {"serve", "--db", server_->db_path(), "--port", "0"});
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("may do more than clients need"),
            std::string::npos)
      << s.message();
}

// Dropping a database takes every grant on it along: a database made later
// under the same name starts without them.
TEST_F(MariadbPrivilegeTest, DroppingADatabaseTakesItsGrantsAlong) {
  auto url = ParseMariadbUrl(server_->db_path());
  ASSERT_TRUE(url.ok());
  MariadbUrl other = *url;
  other.database += "_drop";
  Status made =
      testing::RunServerCommand({"init", "--db", FormatMariadbUrl(other),
                                 "--app-account", "skjk_test_app"});
  ASSERT_TRUE(made.ok()) << made.message();
  const std::string grants_on_it =
      "SELECT (SELECT COUNT(*) FROM mysql.db WHERE Db = '" + other.database +
      "') + (SELECT COUNT(*) FROM mysql.tables_priv WHERE Db = '" +
      other.database +
      "') + (SELECT COUNT(*) FROM mysql.columns_priv WHERE Db = '" +
      other.database +
      "') + (SELECT COUNT(*) FROM mysql.procs_priv WHERE Db = '" +
      other.database + "')";
  EXPECT_NE(testing::SelectRows(server_->db_path(), grants_on_it), "0");
  Status dropped = DropMariadbDatabase(other);
  ASSERT_TRUE(dropped.ok()) << dropped.message();
  EXPECT_EQ(testing::SelectRows(server_->db_path(), grants_on_it), "0");
  EXPECT_EQ(testing::SelectRows(
                server_->db_path(),
                "SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE "
                "SCHEMA_NAME = '" +
                    other.database + "'"),
            "0");
  // The grants on the fixture's own database are untouched.
  EXPECT_NE(DumpMariadb(server_->db_path()).find("GRANT UPDATE ("),
            std::string::npos);
}

// The system's statements run under the application account with the
// same effect as under the administration account.
TEST_F(MariadbPrivilegeTest, TheSystemsOwnStatementsRunUnderTheAccount) {
  auto twin =
      testing::ServerProcess::Start({.backend = testing::Backend::kMariadb});
  ASSERT_TRUE(twin.ok()) << twin.status().message();
  ASSERT_TRUE((*twin)->Fill(kRows).ok());
  std::unique_ptr<DbSession> client = Open(Access::kClient);
  auto admin_url = ParseMariadbUrl((*twin)->db_path());
  ASSERT_TRUE(admin_url.ok());
  auto admin_db = OpenMariadbDatabase(*admin_url, Access::kAdmin);
  ASSERT_TRUE(admin_db.ok()) << admin_db.status().message();
  auto admin = (*admin_db)->OpenSession();
  ASSERT_TRUE(client != nullptr && admin.ok());
  ASSERT_TRUE(client->Begin().ok());
  for (const std::string& sql : SystemStatements()) {
    auto r = client->Execute(sql);
    ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
    auto expected = (*admin)->Execute(sql);
    ASSERT_TRUE(expected.ok()) << sql << ": " << expected.status().message();
    EXPECT_EQ(*r, *expected) << sql;
    EXPECT_GT(*r, 0) << sql;
  }
  ASSERT_TRUE(client->Commit().ok());
  for (const char* table : kTables) {
    const std::string sql =
        std::string("SELECT * FROM ") + table + " ORDER BY 1, 2, 3";
    EXPECT_EQ(server_->Select(sql), (*twin)->Select(sql)) << table;
  }
  EXPECT_EQ(server_->Select("SELECT DHAO00,FPBBH0,FPHAO0 FROM XSTFXPS2 "
                            "ORDER BY DHAO00"),
            "301|110012|0001237;302|-|-");
}

// MariaDB's TO_DATE (a stored function) answers as the SQLite backend's.
TEST_F(MariadbPrivilegeTest, ToDateAnswersAsOnSqlite) {
  std::unique_ptr<DbSession> session = Open(Access::kAdmin);
  ASSERT_NE(session, nullptr);
  const struct {
    const char* text;
    const char* format;
  } cases[] = {
      {"20240229", "YYYYMMDD"},
      {"20230229", "YYYYMMDD"},
      {"20241301", "YYYYMMDD"},
      {"20240100", "YYYYMMDD"},
      {"00000101", "YYYYMMDD"},
      {"99991231", "yyyymmdd"},
      {"2024031", "YYYYMMDD"},
      {"202403011", "YYYYMMDD"},
      {"2024-03-01", "YYYYMMDD"},
      {"2024030a", "YYYYMMDD"},
      {"2024-03-01", "YYYY-MM-DD"},
      {"2024-3-01", "YYYY-MM-DD"},
      {"2024-04-31", "YYYY-MM-DD"},
      {"2024-03-01 23:59:59", "YYYY-MM-DD HH24:MI:SS"},
      {"2024-03-01 24:00:00", "YYYY-MM-DD HH24:MI:SS"},
      {"2024-03-01 12:60:00", "YYYY-MM-DD HH24:MI:SS"},
      {"2024-03-01", "DD.MM.YYYY"},
      {"20240301\n", "YYYYMMDD"},
  };
  ASSERT_TRUE(
      session->Execute("INSERT INTO XSTJQSK1 (DHAO00) VALUES (1)").ok());
  for (const auto& c : cases) {
    std::string error;
    auto want = OracleToDate(c.text, c.format, &error);
    std::string sql = "UPDATE XSTJQSK1 SET KPRQ00=TO_DATE('" +
                      std::string(c.text) + "','" + c.format + "')";
    auto r = session->Execute("UPDATE XSTJQSK1 SET KPRQ00=NULL");
    ASSERT_TRUE(r.ok()) << r.status().message();
    r = session->Execute(sql);
    if (want) {
      ASSERT_TRUE(r.ok()) << c.text << ": " << r.status().message();
      EXPECT_EQ(testing::SelectRows(server_->db_path(),
                                    "SELECT KPRQ00 FROM XSTJQSK1"),
                *want)
          << c.text;
    } else {
      ASSERT_FALSE(r.ok()) << c.text << " gave a date";
      EXPECT_NE(r.status().message().find(error), std::string::npos)
          << c.text << ": " << r.status().message() << " (want " << error
          << ")";
    }
  }
}

}  // namespace
}  // namespace skjk::appserver
