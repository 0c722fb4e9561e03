// `skjk-server journal`: the journal printed as text and CSV with its
// filters, and a write-back undone (or refused) on both backends, from
// journal rows written straight into the tables; then the command itself.
#include "appserver/journal_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "appserver/database.h"
#include "testing/backends.h"
#include "testing/server_process.h"

namespace skjk::appserver {
namespace {

// The documents before the write-back. Document 1002 has an empty text for
// a number, the others NULL; 3001 has four delivery lines, one without
// quantity; 5001 and 5003 have two customer rows each.
const std::vector<std::string> kDocuments = {
    "INSERT INTO XSTXSFP1 (DHAO00, YWRQ00, FPBBH0, FPHAO0) VALUES "
    "(1001, '2024-04-01', NULL, NULL), (1002, '2024-04-01', NULL, '')",
    "INSERT INTO XSTBFFP1 (DHAO00, YWRQ00) VALUES (2001, '2024-04-02')",
    "INSERT INTO XSTFXPS2 (DHAO00, SPDM00, SL0000, FPBBH0, FPHAO0) VALUES "
    "(3001, 'G1', 1, NULL, NULL), (3001, 'G2', 2, NULL, NULL), "
    "(3001, 'G3', 3, NULL, NULL), (3001, 'G4', 0, NULL, NULL), "
    "(3002, 'G1', 1, '1100', '0005'), (3002, 'G2', 1, '1100', '0004'), "
    "(3003, 'G1', 1, '1100', '0008')",
    "INSERT INTO XSTJQSK1 (DHAO00, YWRY00, FPBBH0, FPHAO0) VALUES "
    "(5001, 'A', NULL, NULL), (5001, 'B', NULL, NULL), "
    "(5003, 'A', NULL, NULL), (5003, 'B', '', '')",
};

// What write-back 2 did, statement by statement: 1002 twice (a chain),
// several rows of 3001 and 5001, numbers passed on between the rows of
// 3002, 3003's number taken away (the customer closing statement's NULL),
// and 5003's rows of NULL and of empty texts to one number.
const std::vector<std::string> kWriteBack = {
    "UPDATE XSTXSFP1 SET FPBBH0 = '1100', FPHAO0 = '0002' WHERE DHAO00 = 1002",
    "UPDATE XSTFXPS2 SET FPBBH0 = '1100', FPHAO0 = '0001' WHERE DHAO00 = 3001 "
    "AND SL0000 <> 0",
    "UPDATE XSTJQSK1 SET FPBBH0 = '2200', FPHAO0 = '0007' WHERE DHAO00 IN "
    "(5001, 5003)",
    "UPDATE XSTXSFP1 SET FPHAO0 = '0003' WHERE DHAO00 = 1002",
    "UPDATE XSTFXPS2 SET FPHAO0 = CASE SPDM00 WHEN 'G1' THEN '0006' ELSE "
    "'0005' END WHERE DHAO00 = 3002",
    "UPDATE XSTFXPS2 SET FPHAO0 = NULL WHERE DHAO00 = 3003",
};

constexpr char kExportFile[] = "D:\\导出\\销售,\"一\"\n.txt";

// The journal: an export, write-back 2 as above, a failed export of an
// older client (no desk names), a write-back that changed nothing.
const std::vector<std::string> kJournal = {
    "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME, LINE, DOC_KIND, "
    "FIRST_DATE, LAST_DATE, FILE_NAME, FILE_SIZE, FILE_HASH, OUTCOME, "
    "CLIENT_ADDR, COMPUTER, USER_NAME) VALUES (1, 'export', "
    "'2024-05-01 10:00:00', 'Bbsk', 'sales', '2024-04-01', '2024-04-30', '" +
        std::string(kExportFile) +
        "', 1234, 'ab12', 'completed', '10.0.0.7', 'PC-07', '李四')",
    "INSERT INTO SKJK_JOURNAL_DOC (ENTRY_ID, DHAO00) VALUES (1, 1002), "
    "(1, 1001)",
    "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME, LINE, FILE_NAME, "
    "CLIENT_ADDR, COMPUTER, USER_NAME) VALUES (2, 'writeback', "
    "'2024-05-02 11:00:00', 'Fxsk', 'D:\\发票\\in.txt', '10.0.0.7', 'PC-07', "
    "'李四')",
    "INSERT INTO SKJK_JOURNAL_ROW (ENTRY_ID, STATEMENT_NO, TABLE_NAME, "
    "DHAO00, ROW_COUNT, OLD_FPBBH0, OLD_FPHAO0, NEW_FPBBH0, NEW_FPHAO0) "
    "VALUES (2, 1, 'XSTXSFP1', 1002, 1, NULL, '', '1100', '0002'), "
    "(2, 2, 'XSTFXPS2', 3001, 3, NULL, NULL, '1100', '0001'), "
    "(2, 3, 'XSTJQSK1', 5001, 2, NULL, NULL, '2200', '0007'), "
    "(2, 3, 'XSTJQSK1', 5003, 1, NULL, NULL, '2200', '0007'), "
    "(2, 3, 'XSTJQSK1', 5003, 1, '', '', '2200', '0007'), "
    "(2, 4, 'XSTXSFP1', 1002, 1, '1100', '0002', '1100', '0003'), "
    "(2, 5, 'XSTFXPS2', 3002, 1, '1100', '0005', '1100', '0006'), "
    "(2, 5, 'XSTFXPS2', 3002, 1, '1100', '0004', '1100', '0005'), "
    "(2, 5, 'XSTFXPS2', 3003, 1, '1100', '0008', '1100', NULL)",
    "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME, LINE, DOC_KIND, "
    "FIRST_DATE, LAST_DATE, FILE_NAME, OUTCOME, CLIENT_ADDR) VALUES (3, "
    "'export', '2024-05-03 00:00:00', 'Bbsk', 'void', '2024-04-01', "
    "'2024-04-30', 'D:\\void.txt', '文件写入失败', '10.0.0.8')",
    "INSERT INTO SKJK_JOURNAL_DOC (ENTRY_ID, DHAO00) VALUES (3, 2001)",
    "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME, CLIENT_ADDR, COMPUTER, "
    "USER_NAME) VALUES (4, 'writeback', '2024-05-04 09:30:00', '10.0.0.7', "
    "'PC-07', '李四')",
};

const UndoDesk kDesk = {"2024-06-01 08:00:00", "ADMIN-PC", "管理员"};

// Every case runs on both backends, on a database of its own.
class JournalCommandTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    SKJK_REQUIRE_BACKEND(GetParam());
    auto server = testing::ServerProcess::Start({.backend = GetParam()});
    ASSERT_TRUE(server.ok()) << server.status().message();
    server_ = std::move(server).value();
    auto db = OpenDatabase(server_->db_path(), Access::kAdmin);
    ASSERT_TRUE(db.ok()) << db.status().message();
    db_ = std::move(db).value();
    auto session = db_->OpenSession();
    ASSERT_TRUE(session.ok()) << session.status().message();
    session_ = std::move(session).value();
  }

  // Runs the statements, each on its own.
  void Run(const std::vector<std::string>& statements) {
    for (const std::string& sql : statements) {
      auto r = session_->Execute(sql);
      ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
    }
  }
  // The documents, written back, and the journal.
  void Fill() {
    Run(kDocuments);
    before_ = Invoices();
    Run(kWriteBack);
    Run(kJournal);
  }

  std::string Print(const JournalFilter& filter = {},
                    JournalFormat format = JournalFormat::kText) {
    std::ostringstream out;
    Status s = PrintJournal(session_.get(), filter, format, out);
    EXPECT_TRUE(s.ok()) << s.message();
    return out.str();
  }

  // The invoice numbers of every row but 5003's, NULL as "~".
  std::string Invoices() {
    std::string out;
    for (const char* sql :
         {"SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTXSFP1 ORDER BY DHAO00",
          "SELECT DHAO00, SPDM00, FPBBH0, FPHAO0 FROM XSTFXPS2 ORDER BY "
          "DHAO00, SPDM00",
          "SELECT DHAO00, YWRY00, FPBBH0, FPHAO0 FROM XSTJQSK1 WHERE DHAO00 "
          "<> 5003 ORDER BY DHAO00, YWRY00"}) {
      out += testing::SelectRows(server_->db_path(), sql, "~") + "\n";
    }
    return out;
  }
  // Everything an undo could write.
  std::string State() {
    return Invoices() +
           testing::SelectRows(
               server_->db_path(),
               "SELECT DHAO00, FPBBH0, FPHAO0 FROM XSTJQSK1 WHERE DHAO00 = "
               "5003 ORDER BY YWRY00",
               "~") +
           "\n" +
           testing::SelectRows(server_->db_path(),
                               "SELECT * FROM SKJK_JOURNAL ORDER BY ID", "~") +
           "\n" +
           testing::SelectRows(server_->db_path(),
                               "SELECT * FROM SKJK_JOURNAL_ROW ORDER BY "
                               "ENTRY_ID, STATEMENT_NO, DHAO00, NEW_FPHAO0",
                               "~");
  }

  Status Undo(int64_t entry, std::string* out = nullptr) {
    std::ostringstream text;
    Status s = UndoWriteBack(session_.get(), entry, kDesk, text);
    if (out != nullptr) *out = text.str();
    EXPECT_FALSE(session_->in_transaction());
    return s;
  }

  std::unique_ptr<testing::ServerProcess> server_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<DbSession> session_;
  std::string before_;  // the invoice numbers before the write-back
};

TEST_P(JournalCommandTest, PrintsEveryEntryAsText) {
  EXPECT_EQ(Print(), "The journal is empty.\n");
  Fill();
  EXPECT_EQ(Print(), std::string("#1  2024-05-01 10:00:00  export  Bbsk\n"
                                 "  desk: address 10.0.0.7, computer PC-07, "
                                 "user 李四\n"
                                 "  sales documents, 2024-04-01 to "
                                 "2024-04-30\n"
                                 "  file: ") +
                         kExportFile +
                         ", 1234 bytes, SHA-256 ab12\n"
                         "  outcome: completed\n"
                         "  documents (2): 1001..1002\n"
                         "\n"
                         "#2  2024-05-02 11:00:00  writeback  Fxsk\n"
                         "  desk: address 10.0.0.7, computer PC-07, user 李四\n"
                         "  file: D:\\发票\\in.txt\n"
                         "  statement 1, XSTXSFP1, document 1002, 1 row: "
                         "(empty) -> 1100/0002\n"
                         "  statement 2, XSTFXPS2, document 3001, 3 rows: "
                         "(empty) -> 1100/0001\n"
                         "  statement 3, XSTJQSK1, document 5001, 2 rows: "
                         "(empty) -> 2200/0007\n"
                         "  statement 3, XSTJQSK1, document 5003, 1 row: "
                         "(empty) -> 2200/0007\n"
                         "  statement 3, XSTJQSK1, document 5003, 1 row: "
                         "(empty) -> 2200/0007\n"
                         "  statement 4, XSTXSFP1, document 1002, 1 row: "
                         "1100/0002 -> 1100/0003\n"
                         "  statement 5, XSTFXPS2, document 3002, 1 row: "
                         "1100/0004 -> 1100/0005\n"
                         "  statement 5, XSTFXPS2, document 3002, 1 row: "
                         "1100/0005 -> 1100/0006\n"
                         "  statement 5, XSTFXPS2, document 3003, 1 row: "
                         "1100/0008 -> 1100/(empty)\n"
                         "\n"
                         "#3  2024-05-03 00:00:00  export  Bbsk\n"
                         "  desk: address 10.0.0.8, computer (unknown), user "
                         "(unknown)\n"
                         "  void documents, 2024-04-01 to 2024-04-30\n"
                         "  file: D:\\void.txt\n"
                         "  outcome: 文件写入失败\n"
                         "  documents (1): 2001\n"
                         "\n"
                         "#4  2024-05-04 09:30:00  writeback\n"
                         "  desk: address 10.0.0.7, computer PC-07, user 李四\n"
                         "  no invoice numbers changed\n");
}

// The entries and documents the filters keep, from the CSV form: per line
// "ENTRY:DOCUMENT".
TEST_P(JournalCommandTest, FiltersKeepTheEntriesOfADayOnAndOfADocument) {
  Fill();
  struct Case {
    std::optional<std::string> since;
    std::optional<int64_t> document;
    const char* kept;
  } cases[] = {
      {{},
       {},
       "1:1001 1:1002 2:1002 2:3001 2:5001 2:5003 2:5003 2:1002 "
       "2:3002 2:3002 2:3003 3:2001 4:"},
      {"2024-05-02",
       {},
       "2:1002 2:3001 2:5001 2:5003 2:5003 2:1002 2:3002 "
       "2:3002 2:3003 3:2001 4:"},
      // The day's first second is on the day.
      {"2024-05-03", {}, "3:2001 4:"},
      {"2024-05-05", {}, ""},
      {{}, 1002, "1:1002 2:1002 2:1002"},
      {"2024-05-02", 1002, "2:1002 2:1002"},
      {{}, 2001, "3:2001"},
      {{}, 9, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kept);
    const JournalFilter filter = {c.since, c.document};
    std::istringstream csv(Print(filter, JournalFormat::kCsv));
    // The export's file name holds a line break: lines are read by record.
    std::string record, kept;
    std::getline(csv, record);
    EXPECT_EQ(record.rfind("entry,time,kind,", 0), 0u) << record;
    while (std::getline(csv, record)) {
      while (std::count(record.begin(), record.end(), '"') % 2 != 0) {
        std::string more;
        ASSERT_TRUE(std::getline(csv, more));
        record += "\n" + more;
      }
      std::vector<std::string> fields;
      std::string field;
      bool quoted = false;
      for (char ch : record) {
        if (ch == '"') quoted = !quoted;
        if (ch == ',' && !quoted) {
          fields.push_back(field);
          field.clear();
        } else {
          field += ch;
        }
      }
      fields.push_back(field);
      ASSERT_EQ(fields.size(), 24u) << record;
      kept += (kept.empty() ? "" : " ") + fields[0] + ":" + fields[16];
    }
    EXPECT_EQ(kept, c.kept);
    if (*c.kept == '\0') {
      EXPECT_EQ(Print(filter), "No entry of the journal matches.\n");
    }
  }
}

// Under --document the text names the file's other documents by number
// only, and shows only the document's row groups.
TEST_P(JournalCommandTest, ADocumentsEntriesShowOnlyTheDocument) {
  Fill();
  const std::string text = Print({.document = 1002});
  EXPECT_NE(text.find("  document 1002 (one of 2 in the file)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  statement 1, XSTXSFP1, document 1002, 1 row: (empty) "
                      "-> 1100/0002\n  statement 4, XSTXSFP1, document 1002, "
                      "1 row: 1100/0002 -> 1100/0003\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("3001"), std::string::npos) << text;
  EXPECT_EQ(text.find("#3"), std::string::npos) << text;
}

TEST_P(JournalCommandTest, CsvQuotesCommasQuotesAndLineBreaks) {
  EXPECT_EQ(Print({}, JournalFormat::kCsv),
            "entry,time,kind,line,client_address,computer,user,undoes,"
            "undone_by,document_kind,first_date,last_date,file_name,"
            "file_size,file_hash,outcome,document,statement,table,rows,"
            "old_invoice_book,old_invoice_number,new_invoice_book,"
            "new_invoice_number\r\n");
  Fill();
  const std::string csv = Print({.document = 1002}, JournalFormat::kCsv);
  EXPECT_EQ(csv.substr(csv.find("\r\n") + 2),
            "1,2024-05-01 10:00:00,export,Bbsk,10.0.0.7,PC-07,李四,,,sales,"
            "2024-04-01,2024-04-30,\"D:\\导出\\销售,\"\"一\"\"\n.txt\",1234,"
            "ab12,completed,1002,,,,,,,\r\n"
            "2,2024-05-02 11:00:00,writeback,Fxsk,10.0.0.7,PC-07,李四,,,,,,"
            "D:\\发票\\in.txt,,,,1002,1,XSTXSFP1,1,,,1100,0002\r\n"
            "2,2024-05-02 11:00:00,writeback,Fxsk,10.0.0.7,PC-07,李四,,,,,,"
            "D:\\发票\\in.txt,,,,1002,4,XSTXSFP1,1,1100,0002,1100,0003\r\n");
  // An entry without documents or rows is a line of its own.
  const std::string all = Print({.since = "2024-05-04"}, JournalFormat::kCsv);
  EXPECT_EQ(all.substr(all.find("\r\n") + 2),
            "4,2024-05-04 09:30:00,writeback,,10.0.0.7,PC-07,李四,,,,,,,,,,"
            ",,,,,,,\r\n");
}

// The undo puts back every number the write-back changed, the chain of
// 1002 to its first one, and journals itself; the journal then shows both
// ends.
TEST_P(JournalCommandTest, UndoRestoresTheNumbersAndJournalsItself) {
  Fill();
  ASSERT_NE(Invoices(), before_);
  std::string out;
  Status s = Undo(2, &out);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(Invoices(), before_);
  // 5003's rows came to one number from NULL and from empty texts: both
  // are not invoiced again.
  EXPECT_EQ(testing::SelectRows(server_->db_path(),
                                "SELECT COUNT(*) FROM XSTJQSK1 WHERE DHAO00 = "
                                "5003 AND COALESCE(FPBBH0, '') = '' AND "
                                "COALESCE(FPHAO0, '') = ''"),
            "2");
  const std::string restored =
      "  statement 1, XSTFXPS2, document 3002, 1 row: 1100/0005 -> "
      "1100/0004\n"
      "  statement 1, XSTFXPS2, document 3002, 1 row: 1100/0006 -> "
      "1100/0005\n"
      "  statement 1, XSTFXPS2, document 3003, 1 row: 1100/(empty) -> "
      "1100/0008\n"
      "  statement 2, XSTXSFP1, document 1002, 1 row: 1100/0003 -> "
      "1100/0002\n"
      "  statement 3, XSTJQSK1, document 5001, 2 rows: 2200/0007 -> "
      "(empty)\n"
      "  statement 3, XSTJQSK1, document 5003, 2 rows: 2200/0007 -> "
      "(empty)\n"
      "  statement 4, XSTFXPS2, document 3001, 3 rows: 1100/0001 -> "
      "(empty)\n"
      "  statement 5, XSTXSFP1, document 1002, 1 row: 1100/0002 -> "
      "(empty)\n";
  EXPECT_EQ(out,
            "journal entry 5 undid journal entry 2: restored the invoice "
            "numbers of 6 documents\n" +
                restored);
  EXPECT_EQ(
      testing::SelectRows(server_->db_path(),
                          "SELECT KIND, ENTRY_TIME, LINE, FILE_NAME, "
                          "CLIENT_ADDR, COMPUTER, USER_NAME, UNDOES "
                          "FROM SKJK_JOURNAL WHERE ID = 5",
                          "~"),
      "undo|2024-06-01 08:00:00|Fxsk|D:\\发票\\in.txt|~|ADMIN-PC|管理员|2");
  // The rows keep NULL and empty texts apart as the write-back had them.
  EXPECT_EQ(testing::SelectRows(server_->db_path(),
                                "SELECT STATEMENT_NO, TABLE_NAME, DHAO00, "
                                "ROW_COUNT, OLD_FPBBH0, OLD_FPHAO0, "
                                "NEW_FPBBH0, NEW_FPHAO0 FROM SKJK_JOURNAL_ROW "
                                "WHERE ENTRY_ID = 5 AND DHAO00 IN (1002, "
                                "3001) ORDER BY STATEMENT_NO",
                                "~"),
            "2|XSTXSFP1|1002|1|1100|0003|1100|0002;"
            "4|XSTFXPS2|3001|3|1100|0001|~|~;"
            "5|XSTXSFP1|1002|1|1100|0002|~|");
  EXPECT_EQ(Print({.since = "2024-06-01"}),
            "#5  2024-06-01 08:00:00  undo  Fxsk  (undoes #2)\n"
            "  desk: address (unknown), computer ADMIN-PC, user 管理员\n"
            "  file: D:\\发票\\in.txt\n" +
                restored);
  EXPECT_NE(Print().find("#2  2024-05-02 11:00:00  writeback  Fxsk  (undone "
                         "by #5)\n"),
            std::string::npos);
}

// A document changed after the write-back keeps the whole undo from
// running: nothing is written, and each such document is named with what
// it carries and what the write-back left.
TEST_P(JournalCommandTest, UndoIsRefusedWhenDocumentsChangedSince) {
  Fill();
  Run({"UPDATE XSTXSFP1 SET FPHAO0 = '0004' WHERE DHAO00 = 1002",
       "UPDATE XSTFXPS2 SET FPHAO0 = '0009' WHERE DHAO00 = 3001 AND SPDM00 = "
       "'G2'"});
  const std::string state = State();
  Status s = Undo(2);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.message(),
            "journal entry 2 cannot be undone (nothing was written): these "
            "documents changed since, or the journal cannot tell their rows "
            "apart\n"
            "  XSTXSFP1 document 1002: now 1100/0004 (1 row); the write-back "
            "left 1100/0003 (1 row) (statement 4)\n"
            "  XSTFXPS2 document 3001: now (empty) (1 row), 1100/0001 (2 "
            "rows), 1100/0009 (1 row); the write-back left 1100/0001 (3 rows) "
            "(statement 2)");
  EXPECT_EQ(State(), state);
}

// Refusals that name the entry's kind, its absence, its earlier undo, or
// rows the journal cannot tell apart; none writes anything.
TEST_P(JournalCommandTest, UndoRefusesWhatItCannotUndo) {
  Fill();
  // Write-back 6 gave one number to two customer rows that had different
  // ones.
  Run(
      {"INSERT INTO XSTJQSK1 (DHAO00, YWRY00, FPBBH0, FPHAO0) VALUES "
       "(5002, 'A', '3300', '0001'), (5002, 'B', '3300', '0001')",
       "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME) VALUES (6, "
       "'writeback', '2024-05-06 10:00:00')",
       "INSERT INTO SKJK_JOURNAL_ROW (ENTRY_ID, STATEMENT_NO, TABLE_NAME, "
       "DHAO00, ROW_COUNT, OLD_FPBBH0, OLD_FPHAO0, NEW_FPBBH0, NEW_FPHAO0) "
       "VALUES (6, 1, 'XSTJQSK1', 5002, 1, NULL, NULL, '3300', '0001'), "
       "(6, 1, 'XSTJQSK1', 5002, 1, '3300', '0000', '3300', '0001')"});
  Status undone = Undo(2);
  ASSERT_TRUE(undone.ok()) << undone.message();
  const struct {
    int64_t entry;
    const char* refusal;
  } cases[] = {
      {1, "journal entry 1 is an export: only a write-back can be undone"},
      {7, "journal entry 7 is an undo: only a write-back can be undone"},
      {99, "there is no journal entry 99"},
      {2, "journal entry 2 was undone already, by journal entry 7"},
      {6,
       "journal entry 6 cannot be undone (nothing was written): these "
       "documents changed since, or the journal cannot tell their rows apart\n"
       "  XSTJQSK1 document 5002: now 3300/0001 (2 rows); statement 1 gave "
       "3300/0001 to rows that had different numbers ((empty), 3300/0000), "
       "which cannot be told apart"},
  };
  const std::string state = State();
  for (const auto& c : cases) {
    Status s = Undo(c.entry);
    ASSERT_FALSE(s.ok()) << c.entry;
    EXPECT_EQ(s.message(), c.refusal);
    EXPECT_EQ(State(), state) << c.entry;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, JournalCommandTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

// The command itself on an SQLite file: what goes to stdout and stderr,
// and the exit status.
TEST(JournalCommandLineTest, PrintsUndoesAndFailsAsTheOtherCommands) {
  const std::string dir = testing::MakeTestDirectory("journal");
  ASSERT_FALSE(dir.empty());
  const std::string db = dir + "/j.db";
  Status s = testing::RunServerCommand({"init", "--db", db});
  ASSERT_TRUE(s.ok()) << s.message();
  std::string script;
  for (const auto* list : {&kDocuments, &kWriteBack}) {
    for (const std::string& sql : *list) script += sql + "\n";
  }
  // One line per statement: the export's file name without its line break.
  for (size_t i = 0; i < kJournal.size(); ++i) {
    std::string sql = kJournal[i];
    if (i == 0) sql.erase(sql.find('\n'), 1);
    script += sql + "\n";
  }
  s = testing::RunServerCommand({"sql", "--db", db}, script);
  ASSERT_TRUE(s.ok()) << s.message();

  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* out;  // what stdout begins with
    const char* err;  // what stderr begins with
  } cases[] = {
      {{"--since", "2024-05-04"},
       0,
       "#4  2024-05-04 09:30:00  writeback\n",
       ""},
      {{"--document", "2001", "--format", "csv"}, 0, "entry,time,kind,", ""},
      {{"--undo", "2"},
       0,
       "journal entry 5 undid journal entry 2: restored the invoice numbers "
       "of 6 documents\n  statement 1, XSTFXPS2, document 3002",
       ""},
      {{"--undo", "2"},
       1,
       "",
       "skjk-server: journal entry 2 was undone already, by journal entry 5\n"},
      {{"--document", "1002"}, 0, "#1  2024-05-01 10:00:00  export", ""},
      {{"--undo", "2", "--format", "csv"},
       1,
       "",
       "skjk-server: journal --undo takes no --since, --document or "
       "--format\n"},
      {{"--format", "xml"}, 1, "", "skjk-server: --format takes text or csv\n"},
      {{"--since", "2024-02-30"},
       1,
       "",
       "skjk-server: --since takes a date YYYY-MM-DD\n"},
      {{"--undo", "x"},
       1,
       "",
       "skjk-server: --undo takes a journal entry's number\n"},
      {{"--limit", "3"}, 1, "", "skjk-server: journal has no option --limit"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"journal", "--db", db};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args.back());
    auto r = testing::RunServerCommandCapturing(args);
    ASSERT_TRUE(r.ok()) << r.status().message();
    EXPECT_EQ(r->exit_code, c.exit_code) << r->err;
    EXPECT_EQ(r->out.substr(0, std::string_view(c.out).size()), c.out)
        << r->out;
    EXPECT_EQ(r->err.substr(0, std::string_view(c.err).size()), c.err)
        << r->err;
    if (*c.out == '\0') {
      EXPECT_EQ(r->out, "");
    }
    if (*c.err == '\0') {
      EXPECT_EQ(r->err, "");
    }
  }
  auto missing = testing::RunServerCommandCapturing(
      {"journal", "--db", dir + "/missing.db"});
  ASSERT_TRUE(missing.ok());
  EXPECT_EQ(missing->exit_code, 1);
  EXPECT_EQ(missing->out, "");
  EXPECT_NE(missing->err.find("missing.db"), std::string::npos) << missing->err;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace skjk::appserver
