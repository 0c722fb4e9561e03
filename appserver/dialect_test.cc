#include "appserver/dialect.h"

#include <gtest/gtest.h>

namespace skjk::appserver {
namespace {

TEST(AdaptUpdateAliasTest, OnlyTheAliasFormChanges) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"update XSTFXPS2 A SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
       "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL) WHERE A.DHAO00 IN (SELECT "
       "DHAO00 FROM XSTJQSK1) AND SL0000<>0",
       "update XSTFXPS2 AS A SET FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
       "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL) WHERE A.DHAO00 IN (SELECT "
       "DHAO00 FROM XSTJQSK1) AND SL0000<>0"},
      // Several targets; a literal that looks like a target stays.
      {"UPDATE t x set x.a='x.b=1', x.c = (1), d=2 where x.a=1",
       "UPDATE t AS x set a='x.b=1', c = (1), d=2 where x.a=1"},
      // Statements without an alias are sent as they are.
      {"update XSTXSFP1 set FPBBH0='110012',FPHAO0='0001234' where DHAO00=101",
       "update XSTXSFP1 set FPBBH0='110012',FPHAO0='0001234' where DHAO00=101"},
      {"update T AS A SET A.C=1", "update T AS A SET A.C=1"},
      {"INSERT INTO T SELECT * FROM U A", "INSERT INTO T SELECT * FROM U A"},
      {"update", "update"},
      {"", ""},
      // Comments, literals and quoted names are never statement parts.
      {"UPDATE T A SET A.C='x' /* don't */ WHERE A.D='Smith, A.J.'",
       "UPDATE T AS A SET C='x' /* don't */ WHERE A.D='Smith, A.J.'"},
      {"update T a -- c\nset a.x=1, -- ,a.\n a.y='a.'",
       "update T AS a -- c\nset x=1, -- ,a.\n y='a.'"},
      {"UPDATE T A SET A.\"C\"='it''s, A.D=1' , A . D = \"A\".E",
       "UPDATE T AS A SET \"C\"='it''s, A.D=1' ,   D = \"A\".E"},
      {"UPDATE T A SET A.C='/*' WHERE 1", "UPDATE T AS A SET C='/*' WHERE 1"},
      // A quoted alias right after SET: the column stays a word of its own.
      {"update T \"A\" set\"A\".C=1,\"A\".D=2",
       "update T AS \"A\" set C=1,D=2"},
      {"UPDATE T A SET A.C=1 /* unclosed", "UPDATE T AS A SET C=1 /* unclosed"},
      {"-- UPDATE T A SET A.C=1\nSELECT 1",
       "-- UPDATE T A SET A.C=1\nSELECT 1"},
  };
  for (const Case& c : cases) EXPECT_EQ(AdaptUpdateAlias(c.in), c.out) << c.in;
}

TEST(FirstKeywordTest, PastSpaceAndComments) {
  EXPECT_EQ(FirstKeyword("  update T set C=1"), "UPDATE");
  EXPECT_EQ(FirstKeyword("/* a */ -- b\n\tDrop table T"), "DROP");
  EXPECT_EQ(FirstKeyword("'x'"), "");
  EXPECT_EQ(FirstKeyword(""), "");
}

// "table|name|alias|COLUMN=value;...|rest", or "-" for nullopt.
std::string Parts(std::string_view sql) {
  const std::optional<UpdateParts> p = SplitUpdate(sql);
  if (!p) return "-";
  std::string s = p->table + "|" + p->table_name + "|" + p->alias + "|";
  for (size_t i = 0; i < p->assignments.size(); ++i) {
    s += (i == 0 ? "" : ";") + p->assignments[i].column + "=" +
         p->assignments[i].value;
  }
  return s + "|" + p->rest;
}

TEST(SplitUpdateTest, PartsAsWritten) {
  struct Case {
    const char* sql;
    const char* parts;
  } cases[] = {
      {"update XSTXSFP1 set FPBBH0='110012',FPHAO0='0001234' where DHAO00=101",
       "XSTXSFP1|XSTXSFP1||FPBBH0='110012';FPHAO0='0001234'|where "
       "DHAO00=101"},
      // The customer line's closing statement: a sub-query for a value.
      {"update XSTFXPS2 A SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
       "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL) WHERE A.DHAO00 IN (SELECT "
       "DHAO00 FROM XSTJQSK1) AND SL0000<>0",
       "XSTFXPS2|XSTFXPS2|A|FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
       "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL)|WHERE A.DHAO00 IN (SELECT "
       "DHAO00 FROM XSTJQSK1) AND SL0000<>0"},
      // Quoted and qualified names, AS, literals and comments that look like
      // parts, a closing ';'.
      {"/* c */ UPDATE main.\"xstxsfp1\" AS \"a\" SET \"a\".\"fphao0\" = "
       "'x, WHERE' /* , FPBBH0='y' */ ;",
       "main.\"xstxsfp1\"|XSTXSFP1|\"a\"|FPHAO0='x, WHERE'|"},
      {"UPDATE T SET T.FPHAO0=`a``b`, [FPBBH0]=\"q\"\"x\"",
       "T|T||FPHAO0=`a``b`;FPBBH0=\"q\"\"x\"|"},
      // A comment inside a value keeps its end of line.
      {"update T set C = 1 -- one\n + 1 where X=1",
       "T|T||C=1 -- one\n + 1|where X=1"},
      {"UPDATE T SET C=1 --\n", "T|T||C=1|"},
      {"UPDATE T SET C=(1, 2) ORDER BY D LIMIT 1",
       "T|T||C=(1, 2)|ORDER BY D LIMIT 1"},
      // Forms whose rows are not read from their parts.
      {"UPDATE OR REPLACE T SET C=1", "-"},
      {"UPDATE T SET C=1 FROM U WHERE U.D=T.D", "-"},
      {"UPDATE T SET C=1 WHERE D=1 RETURNING C", "-"},
      {"UPDATE T SET (A, B)=(1, 2)", "-"},
      {"UPDATE T, U SET T.C=1", "-"},
      {"UPDATE T SET C=(1", "-"},
      {"UPDATE T SET C=1) WHERE (1", "-"},
      {"UPDATE T SET C=", "-"},
      {"UPDATE T SET C=1, WHERE D=1", "-"},
      {"UPDATE T SET C=1; UPDATE T SET C=2", "-"},
      {"WITH W AS (SELECT 1) UPDATE T SET C=1", "-"},
      {"INSERT INTO T VALUES (1)", "-"},
      {"UPDATE T", "-"},
      {"", "-"},
      // What MariaDB reads otherwise than SQLite.
      {"UPDATE T SET C=1--1, D=2", "-"},
      {"UPDATE T SET C=1 # , D=2", "-"},
      {"UPDATE T SET C=D#1", "-"},
      {"UPDATE T A SET A.FPBBH0='B', A.FPHAO0=A.FPBBH0 || 'N'", "-"},
      {"UPDATE T SET FPHAO0=FPHAO0 || 'N', FPBBH0=FPBBH0",
       "T|T||FPHAO0=FPHAO0 || 'N';FPBBH0=FPBBH0|"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parts(c.sql), c.parts) << c.sql;
}

TEST(OracleToDateTest, Formats) {
  struct Case {
    const char* text;
    const char* format;
    const char* out;  // nullptr: an error
  } cases[] = {
      {"20240115", "YYYYMMDD", "2024-01-15"},
      {"20240229", "yyyymmdd", "2024-02-29"},
      {"20230229", "YYYYMMDD", nullptr},
      {"20241301", "YYYYMMDD", nullptr},
      {"20240100", "YYYYMMDD", nullptr},
      {"2024011", "YYYYMMDD", nullptr},
      {"202401150", "YYYYMMDD", nullptr},
      {"2024-01-15", "YYYYMMDD", nullptr},
      {"2024-01-15", "YYYY-MM-DD", "2024-01-15"},
      {"2024-01-15 23:59:59", "YYYY-MM-DD HH24:MI:SS", "2024-01-15 23:59:59"},
      {"2024-01-15 24:00:00", "YYYY-MM-DD HH24:MI:SS", nullptr},
      {"20240115", "DD.MM.YYYY", nullptr},
  };
  for (const Case& c : cases) {
    std::string error;
    auto r = OracleToDate(c.text, c.format, &error);
    if (c.out == nullptr) {
      EXPECT_FALSE(r.has_value()) << c.text;
      EXPECT_NE(error.find("TO_DATE"), std::string::npos);
    } else {
      ASSERT_TRUE(r.has_value()) << c.text << ": " << error;
      EXPECT_EQ(*r, c.out);
    }
  }
}

TEST(DatesTest, StoredDatesBecomeDaysSince18991230) {
  EXPECT_EQ(StoredDateToDays("1899-12-30"), 0.0);
  EXPECT_EQ(StoredDateToDays("1900-01-01"), 2.0);
  EXPECT_EQ(StoredDateToDays("2024-01-15"), 45306.0);
  EXPECT_EQ(StoredDateToDays("2024-01-15 12:00:00"), 45306.5);
  EXPECT_EQ(StoredDateToDays("2024-01-15 06:00"), 45306.25);
  for (const char* bad : {"", "2024-1-15", "2024-02-30", "20240115",
                          "2024-01-15x", "2024-01-15 25:00"}) {
    EXPECT_FALSE(StoredDateToDays(bad).has_value()) << bad;
  }
}

TEST(DatesTest, DateParametersAndTheDayAfter) {
  std::string next;
  EXPECT_EQ(ParseDateParam("2024-02-28", &next), "2024-02-28");
  EXPECT_EQ(next, "2024-02-29");
  EXPECT_EQ(ParseDateParam("2023-02-28", &next), "2023-02-28");
  EXPECT_EQ(next, "2023-03-01");
  EXPECT_EQ(ParseDateParam("2024-12-31", &next), "2024-12-31");
  EXPECT_EQ(next, "2025-01-01");
  for (const char* bad : {"", "2024-02-30", "2024/01/01", "2024-01-01 ",
                          "20240101", "'; drop table x"}) {
    EXPECT_FALSE(ParseDateParam(bad, &next).has_value()) << bad;
  }
}

}  // namespace
}  // namespace skjk::appserver
