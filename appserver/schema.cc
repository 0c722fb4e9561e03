#include "appserver/schema.h"

#include <iterator>
#include <string>
#include <vector>

namespace skjk::appserver {
namespace {

// Column types in the SQL every backend takes: VARCHAR(n) for texts of n
// bytes of GBK (UTF-8 here, so a backend that enforces widths gets room for
// them in characters), DOUBLE PRECISION for numbers, INTEGER for document
// numbers, VARCHAR(19) for dates ('YYYY-MM-DD' or 'YYYY-MM-DD HH:MM:SS').
#define DATE_COL "VARCHAR(19)"
#define NUM_COL "DOUBLE PRECISION"

// Head-office sales documents and void documents share their columns; the
// sales ones have GSDW00 and SJDHAO besides.
#define DOCUMENT_COLUMNS                                                      \
  "DHAO00 INTEGER PRIMARY KEY, YWRQ00 " DATE_COL                              \
  " NOT NULL, YWRY00 VARCHAR(8), CKRQ00 " DATE_COL                            \
  ", CKRY00 VARCHAR(8), CWRQ00 " DATE_COL                                     \
  ", CWRY00 VARCHAR(8), DWDM00 VARCHAR(12), CKDM00 VARCHAR(2),"               \
  " THCKDM VARCHAR(2), FPLB00 VARCHAR(3), XSFSDM VARCHAR(4), ZZSL00 " NUM_COL \
  ", PZNY00 VARCHAR(6), PZH000 " NUM_COL                                      \
  ", FKDM00 VARCHAR(2), DWMC00 VARCHAR(50), DZ0000 VARCHAR(50),"              \
  " DWXZ00 VARCHAR(1), DWSNW0 VARCHAR(1), XTXZ00 VARCHAR(1),"                 \
  " KHYH00 VARCHAR(40), YHZH00 VARCHAR(30), SWDJH0 VARCHAR(25),"              \
  " FPBBH0 VARCHAR(11), FPHAO0 VARCHAR(10), SLHJ00 " NUM_COL                  \
  ", JEHJ00 " NUM_COL ", SEHJ00 " NUM_COL ", ZJE000 " NUM_COL                 \
  ", JSHJ00 VARCHAR(60), BEIZHU VARCHAR(50)"

#define LINE_COLUMNS                                            \
  "DHAO00 INTEGER NOT NULL, SPDM00 VARCHAR(8), DJIA00 " NUM_COL \
  ", SL0000 " NUM_COL ", JE0000 " NUM_COL ", SE0000 " NUM_COL

const char* const kStatements[] = {
    // Customers and goods.
    "CREATE TABLE GSTKHGL0 (KHDM00 VARCHAR(12) PRIMARY KEY,"
    " KHMC00 VARCHAR(50), KPMC00 VARCHAR(50), KPDZ00 VARCHAR(50),"
    " DWDZ00 VARCHAR(50), SWDJH0 VARCHAR(25), KHYH00 VARCHAR(40),"
    " YHZH00 VARCHAR(40))",
    "CREATE TABLE GSTJYGL0 (SPDM00 VARCHAR(8) PRIMARY KEY,"
    " SPMC00 VARCHAR(30), SPGG00 VARCHAR(20), JYDW00 VARCHAR(10))",
    // Head-office sales documents and their lines.
    "CREATE TABLE XSTXSFP1 (GSDW00 VARCHAR(12), " DOCUMENT_COLUMNS
    ", SJDHAO " NUM_COL ")",
    "CREATE TABLE XSTXSFP2 (" LINE_COLUMNS ")",
    "CREATE INDEX XSIXSFP1_YWRQ ON XSTXSFP1 (YWRQ00)",
    "CREATE INDEX XSIXSFP2_DHAO ON XSTXSFP2 (DHAO00)",
    // Void documents and their lines.
    "CREATE TABLE XSTBFFP1 (" DOCUMENT_COLUMNS ")",
    "CREATE TABLE XSTBFFP2 (" LINE_COLUMNS ")",
    "CREATE INDEX XSIBFFP1_YWRQ ON XSTBFFP1 (YWRQ00)",
    "CREATE INDEX XSIBFFP2_DHAO ON XSTBFFP2 (DHAO00)",
    // Visit-sales delivery documents; the invoice numbers are on the lines.
    "CREATE TABLE XSTFXPS1 (DHAO00 INTEGER PRIMARY KEY, FPLB00 VARCHAR(2),"
    " YWRQ00 " DATE_COL
    " NOT NULL, YWRY00 VARCHAR(8), XSQRRY VARCHAR(8),"
    " KHDM00 VARCHAR(12), CKDM00 VARCHAR(2), SKBJ00 VARCHAR(2))",
    "CREATE TABLE XSTFXPS2 (DHAO00 INTEGER NOT NULL, SPDM00 VARCHAR(8),"
    " DJIA00 " NUM_COL ", FXSL00 " NUM_COL ", SL0000 " NUM_COL
    ", THSL00 " NUM_COL ", JE0000 " NUM_COL ", SE0000 " NUM_COL
    ", RBDH00 VARCHAR(20), FPBBH0 VARCHAR(11), FPHAO0 VARCHAR(10))",
    "CREATE INDEX XSIFXPS1_YWRQ ON XSTFXPS1 (YWRQ00)",
    "CREATE INDEX XSIFXPS2_DHAO ON XSTFXPS2 (DHAO00)",
    // One row per delivery line with its document's head. An empty invoice
    // number reads as NULL, as in the management system's own database.
    "CREATE VIEW XSVFXPS0 AS SELECT A.DHAO00 AS DHAO00, A.FPLB00 AS FPLB00,"
    " A.YWRQ00 AS YWRQ00, A.YWRY00 AS YWRY00, A.XSQRRY AS XSQRRY,"
    " A.KHDM00 AS KHDM00, A.CKDM00 AS CKDM00, A.SKBJ00 AS SKBJ00,"
    " B.SPDM00 AS SPDM00, B.SL0000 AS SL0000, B.JE0000 AS JE0000,"
    " NULLIF(B.FPBBH0, '') AS FPBBH0, NULLIF(B.FPHAO0, '') AS FPHAO0"
    " FROM XSTFXPS1 A JOIN XSTFXPS2 B ON B.DHAO00 = A.DHAO00",
    // The documents of the customer window, copied from the delivery data.
    // A document may have more than one row here (the copy keeps distinct
    // rows), so DHAO00 is not a key.
    "CREATE TABLE XSTJQSK1 (DHAO00 INTEGER NOT NULL, FPBBH0 VARCHAR(12),"
    " FPHAO0 VARCHAR(10), KPRQ00 " DATE_COL
    ", FPLB00 VARCHAR(2),"
    " YWRQ00 " DATE_COL
    ", YWRY00 VARCHAR(8), KHDM00 VARCHAR(12),"
    " DWMC00 VARCHAR(50), DWDZ00 VARCHAR(50), SWDJH0 VARCHAR(25),"
    " KHYH00 VARCHAR(40), YHZH00 VARCHAR(40), CKDM00 VARCHAR(2),"
    " SKBJ00 VARCHAR(2))",
    "CREATE TABLE XSTJQSK2 (DHAO00 INTEGER NOT NULL, SPDM00 VARCHAR(8),"
    " SPMC00 VARCHAR(30), SPGG00 VARCHAR(20), JYDW00 VARCHAR(10),"
    " DJIA00 " NUM_COL ", FXSL00 " NUM_COL ", SL0000 " NUM_COL
    ", THSL00 " NUM_COL ", JE0000 " NUM_COL ", SE0000 " NUM_COL
    ", RBDH00 VARCHAR(20))",
    "CREATE INDEX XSIJQSK1_DHAO ON XSTJQSK1 (DHAO00)",
    "CREATE INDEX XSIJQSK1_YWRQ ON XSTJQSK1 (YWRQ00)",
    "CREATE INDEX XSIJQSK2_DHAO ON XSTJQSK2 (DHAO00)",
};

}  // namespace

Status CreateSchema(DbSession* db, const std::vector<std::string>& extras) {
  SKJK_RETURN_IF_ERROR(db->Begin());
  std::vector<std::string> statements(std::begin(kStatements),
                                      std::end(kStatements));
  statements.insert(statements.end(), extras.begin(), extras.end());
  for (const std::string& sql : statements) {
    auto r = db->Execute(sql);
    if (!r.ok()) {
      Status rollback = db->Rollback();
      (void)rollback;  // the first error is the one to report
      return Status::Error("cannot create the schema: " + r.status().message());
    }
  }
  return db->Commit();
}

}  // namespace skjk::appserver
