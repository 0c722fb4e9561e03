// skjk-server as a process on loopback with a real SQLite file: providers,
// the statements the plug-in sends, transactions, sessions and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "appserver/database.h"
#include "appserver/provider_catalogue.h"
#include "appserver/record_stream.h"
#include "client/connection.h"
#include "platform/socket.h"
#include "testing/backends.h"
#include "testing/server_process.h"
#include "text/gbk.h"
#include "wire/protocol.h"

namespace skjk {
namespace {

using text::literals::operator""_gbk;
using protocol::MessageType;

// A layout as "NAME T12,NAME N,NAME D,lines[...]".
std::string Describe(const std::vector<FieldDef>& layout) {
  std::string s;
  for (const FieldDef& f : layout) {
    if (!s.empty()) s += ",";
    switch (f.type) {
      case FieldType::kText:
        s += f.name + " T" + std::to_string(f.size);
        break;
      case FieldType::kNumber:
        s += f.name + " N";
        break;
      case FieldType::kDateTime:
        s += f.name + " D";
        break;
      case FieldType::kNested:
        s += f.name + "[" + Describe(f.nested) + "]";
        break;
    }
  }
  return s;
}

double Num(const Row& row, size_t i) { return std::get<double>(row.values[i]); }
std::string Txt(const Row& row, size_t i) {
  if (std::holds_alternative<std::monostate>(row.values[i])) return "~";
  return text::GbkToUtf8(std::get<std::string>(row.values[i]));
}
const Rows& Lines(const Row& row) { return std::get<Rows>(row.values.back()); }

std::vector<double> Keys(const Packet& p, size_t key = 0) {
  std::vector<double> v;
  for (const Row& r : p.rows) v.push_back(Num(r, key));
  return v;
}

// Every case runs on both backends.
class ServerTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    SKJK_REQUIRE_BACKEND(GetParam());
    auto s = testing::ServerProcess::Start({.backend = GetParam()});
    ASSERT_TRUE(s.ok()) << s.status().message();
    server_ = std::move(s).value();
    conn_.set_machine_name(server_->machine());
  }

  void Fill(const std::vector<std::string>& sql) {
    Status s = server_->Fill(sql);
    ASSERT_TRUE(s.ok()) << s.message();
  }

  Packet Get(std::string_view provider, const std::string& from,
             const std::string& to, int packet = Connection::kAllRecords) {
    Packet p;
    Status s = conn_.GetRecords(provider, packet, true, {from, to}, &p);
    EXPECT_TRUE(s.ok()) << provider << ": " << s.message();
    return p;
  }

  Packet Next(std::string_view provider, int packet = 10) {
    Packet p;
    Status s = conn_.GetRecords(provider, packet, false, {}, &p);
    EXPECT_TRUE(s.ok()) << provider << ": " << s.message();
    return p;
  }

  std::string Q(const std::string& sql) {
    return testing::SelectRows(server_->db_path(), sql, "~");
  }

  std::unique_ptr<testing::ServerProcess> server_;
  Connection conn_;
};

const char kDocumentFields[] =
    "DHAO00 N,YWRQ00 D,YWRY00 T8,CKRQ00 D,CKRY00 T8,CWRQ00 D,CWRY00 T8,"
    "DWDM00 T12,CKDM00 T2,THCKDM T2,FPLB00 T3,XSFSDM T4,ZZSL00 N,PZNY00 T6,"
    "PZH000 N,FKDM00 T2,DWMC00 T50,DZ0000 T50,DWXZ00 T1,DWSNW0 T1,XTXZ00 T1,"
    "KHYH00 T40,YHZH00 T30,SWDJH0 T25,FPBBH0 T11,FPHAO0 T10,SLHJ00 N,"
    "JEHJ00 N,SEHJ00 N,ZJE000 N,JSHJ00 T60,BEIZHU T50";
const char kBasicLine[] =
    "DHAO00 N,SPDM00 T8,DJIA00 N,SL0000 N,JE0000 N,SPMC00 T30,SPGG00 T20,"
    "JYDW00 T10";
const char kVisitSales[] =
    "DHAO00 N,FPLB00 T2,YWRQ00 D,YWRY00 T8,XSQRRY T8,DWDM00 T12,DWMC00 T50,"
    "DZ0000 T50,SWDJH0 T25,KHYH00 T40,YHZH00 T40";
const char kVisitSalesLine[] =
    "DHAO00 N,SPDM00 T8,DJIA00 N,SL0000 N,JE0000 N,SE0000 N,FPBBH0 T11,"
    "FPHAO0 T10,SPMC00 T30,SPGG00 T20,JYDW00 T10";
const char kCustomer[] =
    "DHAO00 N,FPBBH0 T12,FPHAO0 T10,KPRQ00 D,FPLB00 T2,YWRQ00 D,YWRY00 T8,"
    "KHDM00 T12,DWMC00 T50,DWDZ00 T50,SWDJH0 T25,KHYH00 T40,YHZH00 T40,"
    "CKDM00 T2,SKBJ00 T2";
const char kCustomerLine[] =
    "DHAO00 N,SPDM00 T8,DJIA00 N,SL0000 N,JE0000 N,SE0000 N,SPMC00 T30,"
    "SPGG00 T20,JYDW00 T10";

TEST_P(ServerTest, ProvidersDeliverTheirLayouts) {
  std::string head_office =
      std::string("GSDW00 T12,") + kDocumentFields + ",SJDHAO N,";
  struct Case {
    const char* provider;
    std::string layout;
  } cases[] = {
      {"dsp_bbsk1", head_office + "qry_bbsk2[" + kBasicLine + "]"},
      {"dsp_bbsk3", head_office + "qry_bbsk4[" + kBasicLine + "]"},
      {"dsp_bbbf1",
       std::string(kDocumentFields) + ",qry_bbbf2[" + kBasicLine + "]"},
      {"dsp_bbbf3",
       std::string(kDocumentFields) + ",qry_bbbf4[" + kBasicLine + "]"},
      {"dsp_fxsk1",
       std::string(kVisitSales) + ",qry_fxsk2[" + kVisitSalesLine + "]"},
      {"dsp_fxsk3",
       std::string(kVisitSales) + ",qry_fxsk4[" + kVisitSalesLine + "]"},
      {"dsp_jqsk1",
       std::string(kCustomer) + ",qry_jqsk2[" + kCustomerLine + "]"},
      {"dsp_jqsk3",
       std::string(kCustomer) + ",qry_jqsk4[" + kCustomerLine + "]"},
  };
  for (const Case& c : cases) {
    Packet p = Get(c.provider, "2024-01-01", "2024-01-31");
    EXPECT_EQ(Describe(p.layout), c.layout) << c.provider;
    EXPECT_TRUE(p.rows.empty());
  }
  // Without the option the layout stays home.
  Packet p;
  ASSERT_TRUE(
      conn_.GetRecords("dsp_bbsk1", -1, false, {"2024-01-01", "2024-01-02"}, &p)
          .ok());
  EXPECT_TRUE(p.layout.empty());
}

// Head-office documents around a date range, with and without invoice
// numbers (NULL and '' both mean none), some with lines.
const std::vector<std::string> kHeadOffice = {
    "INSERT INTO GSTJYGL0 VALUES ('G1','卷烟甲','84mm硬盒','条')",
    "INSERT INTO GSTJYGL0 VALUES ('G2','卷烟乙','97mm细支','条')",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,DWMC00,FPHAO0,ZZSL00) VALUES "
    "(103,'2024-03-01','甲店',NULL,13)",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,DWMC00,FPHAO0,ZZSL00) VALUES "
    "(101,'2024-03-05 10:30:00','乙店','',13)",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,FPHAO0) VALUES "
    "(102,'2024-03-06',NULL)",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,FPHAO0) VALUES "
    "(104,'2024-02-29',NULL)",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00,FPBBH0,FPHAO0) VALUES "
    "(105,'2024-03-03','110012','0001234')",
    "INSERT INTO XSTXSFP2 VALUES (101,'G2',100,2,200,26)",
    "INSERT INTO XSTXSFP2 VALUES (101,'G1',300,1,300,39)",
    "INSERT INTO XSTXSFP2 VALUES (105,'G1',300,3,900,117)",
    "INSERT INTO XSTXSFP2 VALUES (102,'G1',300,3,900,117)",
    "INSERT INTO XSTXSFP2 VALUES (101,'G9',10,1,10,1)",
};

TEST_P(ServerTest, RangeIncludesBothEndsAndOrdersByDocumentNumber) {
  Fill(kHeadOffice);
  Packet open = Get("dsp_bbsk1", "2024-03-01", "2024-03-05");
  EXPECT_EQ(Keys(open, 1), (std::vector<double>{101, 103}));
  ASSERT_EQ(open.rows.size(), 2u);
  const Row& d101 = open.rows[0];
  EXPECT_EQ(Txt(d101, 17), "乙店");
  EXPECT_EQ(Num(d101, 2), 45356 + 10.5 / 24);  // 2024-03-05 10:30
  EXPECT_EQ(Num(d101, 13), 13);
  EXPECT_EQ(Txt(d101, 26), "");  // FPHAO0 '' as stored
  // Lines in their stored order, goods names joined, unknown goods empty.
  const Rows& lines = Lines(d101);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Txt(lines[0], 1), "G2");
  EXPECT_EQ(Txt(lines[0], 5), "卷烟乙");
  EXPECT_EQ(Txt(lines[0], 6), "97mm细支");
  EXPECT_EQ(Txt(lines[0], 7), "条");
  EXPECT_EQ(Num(lines[1], 4), 300);
  EXPECT_EQ(Txt(lines[2], 5), "~");
  EXPECT_TRUE(Lines(open.rows[1]).empty());
  // Texts arrive as GBK.
  EXPECT_EQ(std::get<std::string>(d101.values[17]), "乙店"_gbk);

  Packet done = Get("dsp_bbsk3", "2024-03-01", "2024-03-05");
  EXPECT_EQ(Keys(done, 1), (std::vector<double>{105}));
  ASSERT_EQ(Lines(done.rows[0]).size(), 1u);

  EXPECT_TRUE(Get("dsp_bbsk1", "2024-03-07", "2024-03-31").rows.empty());
  EXPECT_TRUE(Get("dsp_bbsk1", "2024-03-05", "2024-03-01").rows.empty());
  EXPECT_EQ(Keys(Get("dsp_bbsk1", "2024-02-29", "2024-02-29"), 1),
            (std::vector<double>{104}));
}

// Visit-sales documents 1..n on one day, all invoiced, one line each.
std::vector<std::string> VisitSalesDocuments(int first, int n,
                                             const std::string& date) {
  std::vector<std::string> v;
  for (int i = first; i < first + n; ++i) {
    std::string d = std::to_string(i);
    v.push_back("INSERT INTO XSTFXPS1 (DHAO00,FPLB00,YWRQ00,KHDM00) VALUES (" +
                d + ",'Z','" + date + "','K1')");
    v.push_back(
        "INSERT INTO XSTFXPS2 (DHAO00,SPDM00,SL0000,FPBBH0,FPHAO0) "
        "VALUES (" +
        d + ",'G1',1,'110012','" + d + "')");
    v.push_back("INSERT INTO XSTJQSK1 (DHAO00,FPHAO0,YWRQ00) VALUES (" + d +
                ",'" + d + "','" + date + "')");
    v.push_back("INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SL0000) VALUES (" + d +
                ",'G1'," + d + ")");
  }
  return v;
}

TEST_P(ServerTest, PacketProvidersContinueWhereTheyLeftOff) {
  Fill(VisitSalesDocuments(1, 25, "2024-05-10"));
  Fill(VisitSalesDocuments(101, 20, "2024-06-10"));
  for (const char* provider : {"dsp_fxsk3", "dsp_jqsk3"}) {
    SCOPED_TRACE(provider);
    // 25 documents: 10, 10, 5, then nothing.
    Packet p = Get(provider, "2024-05-01", "2024-05-31", 10);
    ASSERT_EQ(p.rows.size(), 10u);
    EXPECT_EQ(Num(p.rows[0], 0), 1);
    p = Next(provider);
    ASSERT_EQ(p.rows.size(), 10u);
    EXPECT_EQ(Num(p.rows[0], 0), 11);
    ASSERT_EQ(Lines(p.rows[9]).size(), 1u);
    EXPECT_EQ(Num(p.rows[9], 0), 20);
    EXPECT_EQ(Num(Lines(p.rows[9])[0], 0), 20);
    p = Next(provider);
    EXPECT_EQ(Keys(p), (std::vector<double>{21, 22, 23, 24, 25}));
    EXPECT_TRUE(Next(provider).rows.empty());
    // Exactly 20: the third request is the one that finds none.
    EXPECT_EQ(Get(provider, "2024-06-01", "2024-06-30", 10).rows.size(), 10u);
    EXPECT_EQ(Next(provider).rows.size(), 10u);
    EXPECT_TRUE(Next(provider).rows.empty());
  }
  // The other providers deliver everything at once.
  EXPECT_EQ(Get("dsp_fxsk3", "2024-05-01", "2024-06-30").rows.size(), 45u);
}

// Documents 1..100 of 2024-05-10 in both visit-sales and customer tables,
// the odd ones invoiced; each has a line with a quantity and, the visit-sales
// ones, a line of quantity 0 without an invoice number.
std::vector<std::string> HalfInvoicedDocuments() {
  std::vector<std::string> v;
  for (int i = 1; i <= 100; ++i) {
    std::string d = std::to_string(i);
    std::string invoice = i % 2 == 1 ? "'" + d + "'" : "''";
    v.push_back("INSERT INTO XSTFXPS1 (DHAO00,FPLB00,YWRQ00,KHDM00) VALUES (" +
                d + ",'Z','2024-05-10','K1')");
    v.push_back(
        "INSERT INTO XSTFXPS2 (DHAO00,SPDM00,SL0000,FPBBH0,FPHAO0) VALUES (" +
        d + ",'G1',1,'110012'," + invoice + ")");
    v.push_back("INSERT INTO XSTFXPS2 (DHAO00,SPDM00,SL0000,FPHAO0) VALUES (" +
                d + ",'G2',0,'')");
    v.push_back("INSERT INTO XSTJQSK1 (DHAO00,FPHAO0,YWRQ00) VALUES (" + d +
                "," + (i % 2 == 1 ? invoice : "NULL") + ",'2024-05-10')");
    v.push_back("INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SL0000) VALUES (" + d +
                ",'G1',1)");
  }
  return v;
}

TEST_P(ServerTest, NextPacketContinuesAfterTheLastDocumentWhateverWasWritten) {
  // After the first packet of 10, another connection invoices (or takes the
  // invoice numbers off) 30 documents: those leaving the view after the
  // first packet would be skipped, those entering it before the end of the
  // first packet would be delivered again, if packets went by position.
  struct Case {
    const char* name;
    const char* provider;
    bool invoice;     // write invoice numbers, else take them off
    int first, last;  // the documents written, every other one
  };
  const Case kCases[] = {
      {"not-invoiced view, 30 after the packet invoiced", "dsp_fxsk1", true, 22,
       80},
      {"invoiced view, 30 after the packet un-invoiced", "dsp_fxsk3", false, 21,
       79},
      {"invoiced view, 30 invoiced across the packet", "dsp_fxsk3", true, 2,
       60},
      {"not-invoiced view, 30 un-invoiced across the packet", "dsp_fxsk1",
       false, 1, 59},
      {"customer not-invoiced view, 30 after the packet invoiced", "dsp_jqsk1",
       true, 22, 80},
      {"customer invoiced view, 30 un-invoiced across the packet", "dsp_jqsk3",
       false, 1, 59},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Fill({"DELETE FROM XSTFXPS1", "DELETE FROM XSTFXPS2",
          "DELETE FROM XSTJQSK1", "DELETE FROM XSTJQSK2"});
    Fill(HalfInvoicedDocuments());
    const bool invoiced_view = std::string(c.provider).back() == '3';
    const bool visit_sales = std::string(c.provider).starts_with("dsp_fxsk");
    auto in_view = [&](int d, bool after_write) {
      bool invoiced = d % 2 == 1;
      if (after_write && d >= c.first && d <= c.last &&
          (d - c.first) % 2 == 0) {
        invoiced = c.invoice;
      }
      return invoiced == invoiced_view;
    };

    Packet first = Get(c.provider, "2024-05-01", "2024-05-31", 10);
    ASSERT_EQ(first.rows.size(), 10u);
    std::vector<double> delivered = Keys(first);

    std::string docs;
    for (int d = c.first; d <= c.last; d += 2) {
      docs += (docs.empty() ? "" : ",") + std::to_string(d);
    }
    const std::string value = c.invoice ? "'99' || DHAO00" : "''";
    Fill({visit_sales ? "UPDATE XSTFXPS2 SET FPHAO0 = " + value +
                            " WHERE SL0000 <> 0 AND DHAO00 IN (" + docs + ")"
                      : "UPDATE XSTJQSK1 SET FPHAO0 = " + value +
                            " WHERE DHAO00 IN (" + docs + ")"});

    // The rest, packet by packet, until one comes short.
    for (int guard = 0; guard < 20; ++guard) {
      Packet p = Next(c.provider);
      for (double k : Keys(p)) delivered.push_back(k);
      ASSERT_LE(p.rows.size(), 10u);
      if (p.rows.size() < 10) break;
    }

    // The first packet, then every document of the view as it is now that
    // comes after it, each once, in order.
    std::vector<double> want = Keys(first);
    for (int d = static_cast<int>(want.back()) + 1; d <= 100; ++d) {
      if (in_view(d, true)) want.push_back(d);
    }
    EXPECT_EQ(delivered, want);
    // So every document that was in the view and stayed there came once.
    for (int d = 1; d <= 100; ++d) {
      if (!in_view(d, false) || !in_view(d, true)) continue;
      EXPECT_EQ(std::count(delivered.begin(), delivered.end(), d), 1) << d;
    }
  }
}

TEST_P(ServerTest, NextPacketNeedsAnEarlierRequestOfTheSameProvider) {
  Packet p;
  Status s = conn_.GetRecords("dsp_fxsk3", 10, false, {}, &p);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("no request of provider dsp_fxsk3"),
            std::string::npos);
  Get("dsp_jqsk3", "2024-01-01", "2024-01-02", 10);
  s = conn_.GetRecords("dsp_fxsk3", 10, false, {}, &p);
  EXPECT_FALSE(s.ok());
}

TEST_P(ServerTest, RequestErrorsNameTheirCause) {
  struct Case {
    const char* provider;
    std::vector<std::string> params;
    const char* error;
  } cases[] = {
      {"dsp_nope", {"2024-01-01", "2024-01-02"}, "unknown provider dsp_nope"},
      {"dsp_temp", {"2024-01-01", "2024-01-02"}, "dsp_temp runs commands only"},
      {"DSP_BBSK1", {"2024-01-01", "2024-01-02"}, "unknown provider"},
      {"dsp_bbsk1", {"2024-01-01"}, "takes 2 parameters (QSRQ, ZZRQ), got 1"},
      {"dsp_bbsk1", {"2024-01-01", "2024-01-02", "x"}, "got 3"},
      {"dsp_bbsk1",
       {"2024-02-30", "2024-03-01"},
       "QSRQ of dsp_bbsk1: '2024-02-30'"},
      {"dsp_bbsk1", {"2024-01-01", "2024/03/01"}, "ZZRQ"},
      {"dsp_bbsk1", {"2024-01-01", "2024-01-02' OR '1'='1"}, "ZZRQ"},
  };
  for (const Case& c : cases) {
    Packet p;
    Status s = conn_.GetRecords(c.provider, -1, true, c.params, &p);
    ASSERT_FALSE(s.ok()) << c.provider;
    EXPECT_NE(s.message().find(c.error), std::string::npos) << s.message();
    EXPECT_TRUE(conn_.connected());
  }
}

// The customer window's synchronisation and every write-back statement,
// sent as the plug-in sends them.
const char kSync1[] =
    "INSERT INTO XSTJQSK1(DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00,DWDZ00,"
    "SWDJH0,KHYH00,YHZH00,CKDM00,SKBJ00) SELECT DISTINCT A.DHAO00,A.FPLB00,"
    "A.YWRQ00,A.YWRY00,A.KHDM00,NVL(B.KPMC00,B.KHMC00),NVL(B.KPDZ00,B.DWDZ00),"
    "B.SWDJH0,B.KHYH00,B.YHZH00,A.CKDM00,A.SKBJ00 FROM XSVFXPS0 A,GSTKHGL0 B "
    "WHERE B.KHMC00 LIKE 'vediruza%' AND A.KHDM00=B.KHDM00 AND A.FPLB00='Z' "
    "AND A.SL0000<>0 AND A.FPHAO0 IS NULL AND A.DHAO00 NOT IN (SELECT DHAO00 "
    "FROM XSTJQSK1)";
const char kSync2[] =
    "insert into XSTJQSK2(DHAO00,SPDM00,SPMC00,SPGG00,JYDW00,DJIA00,FXSL00,"
    "SL0000,THSL00,JE0000,SE0000,RBDH00) select A.DHAO00,A.SPDM00,B.SPMC00,"
    "B.SPGG00,B.JYDW00,A.DJIA00,A.FXSL00,A.SL0000,A.THSL00,A.JE0000,A.SE0000,"
    "A.RBDH00 from XSTFXPS2 A,GSTJYGL0 B WHERE A.SPDM00=B.SPDM00 AND A.DHAO00 "
    "IN (SELECT DHAO00 FROM XSTJQSK1) AND A.DHAO00 NOT IN (SELECT DHAO00 FROM "
    "XSTJQSK2) AND A.SL0000<>0";
const char kClosing[] =
    "update XSTFXPS2 A SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
    "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL) WHERE A.DHAO00 IN (SELECT "
    "DHAO00 FROM XSTJQSK1) AND SL0000<>0";

const std::vector<std::string> kDeliveries = {
    "INSERT INTO GSTJYGL0 VALUES ('G1','卷烟甲','84mm硬盒','条')",
    "INSERT INTO GSTJYGL0 VALUES ('G2','卷烟乙','97mm细支','条')",
    // KPMC00 '' counts as empty: the name is taken instead.
    "INSERT INTO GSTKHGL0 VALUES ('K1','vediruza商贸','','开票地址','地址',"
    "'330100','银行','6222')",
    "INSERT INTO GSTKHGL0 VALUES "
    "('K2','Vediruza大店',NULL,NULL,'x',NULL,NULL,NULL)",
    "INSERT INTO GSTKHGL0 VALUES "
    "('K3','大vediruza店',NULL,NULL,'x',NULL,NULL,NULL)",
    "INSERT INTO XSTFXPS1 VALUES "
    "(301,'Z','2024-04-01','张','张','K1','01','0')",
    "INSERT INTO XSTFXPS1 VALUES "
    "(302,'Z','2024-04-01','张','张','K2','01','0')",
    "INSERT INTO XSTFXPS1 VALUES "
    "(303,'Z','2024-04-01','张','张','K3','01','0')",
    "INSERT INTO XSTFXPS1 VALUES "
    "(304,'P','2024-04-01','张','张','K1','01','0')",
    "INSERT INTO XSTFXPS1 VALUES "
    "(305,'Z','2024-04-02','张','张','K1','01','0')",
    "INSERT INTO XSTFXPS1 VALUES "
    "(306,'Z','2024-04-02','张','张','K1','01','0')",
    "INSERT INTO XSTFXPS1 VALUES "
    "(307,'Z','2024-04-02','张','张','K1','01','0')",
    "INSERT INTO XSTFXPS2 VALUES (301,'G1',300,2,2,0,600,78,'R1',NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (301,'G2',100,0,0,0,0,0,'R1',NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (301,'G9',10,1,1,0,10,1,'R1',NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (301,'G1',300,1,1,0,300,39,'R1',NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (302,'G1',300,1,1,0,300,39,NULL,NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (303,'G1',300,1,1,0,300,39,NULL,NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (304,'G1',300,1,1,0,300,39,NULL,NULL,NULL)",
    "INSERT INTO XSTFXPS2 VALUES (305,'G2',100,4,4,0,400,52,NULL,'','')",
    "INSERT INTO XSTFXPS2 VALUES (306,'G1',300,1,1,0,300,39,NULL,'110','0009')",
    "INSERT INTO XSTFXPS2 VALUES (307,'G1',300,0,0,0,0,0,NULL,NULL,NULL)",
    "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00) VALUES (101,'2024-04-01')",
    "INSERT INTO XSTBFFP1 (DHAO00,YWRQ00) VALUES (102,'2024-04-01')",
};

TEST_P(ServerTest, SynchronisationAndWriteBackStatementsRunAsSent) {
  Fill(kDeliveries);
  ASSERT_TRUE(conn_.Open().ok());
  ASSERT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  for (const char* sql : {kSync1, kSync2}) {
    Status s = conn_.Execute(sql);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  ASSERT_TRUE(conn_.Call("CustObjdbCommit").ok());
  // Only K1's eligible documents; the name for invoicing falls back to the
  // name when empty; lines with quantity and known goods only.
  EXPECT_EQ(Q("SELECT DHAO00,FPLB00,YWRQ00,KHDM00,DWMC00,DWDZ00,SWDJH0,"
              "FPHAO0 FROM XSTJQSK1 ORDER BY DHAO00"),
            "301|Z|2024-04-01|K1|vediruza商贸|开票地址|330100|~;"
            "305|Z|2024-04-02|K1|vediruza商贸|开票地址|330100|~");
  EXPECT_EQ(Q("SELECT DHAO00,SPDM00,SPMC00,SL0000,RBDH00 FROM XSTJQSK2 "
              "ORDER BY DHAO00,SL0000"),
            "301|G1|卷烟甲|1.0|R1;301|G1|卷烟甲|2.0|R1;305|G2|卷烟乙|4.0|~");
  // Running again copies nothing more.
  ASSERT_TRUE(conn_.Execute(kSync1).ok());
  ASSERT_TRUE(conn_.Execute(kSync2).ok());
  EXPECT_EQ(Q("SELECT COUNT(*) FROM XSTJQSK1"), "2");
  EXPECT_EQ(Q("SELECT COUNT(*) FROM XSTJQSK2"), "3");

  // The write-back of one import run of each business line, then the closing
  // one.
  const std::string statements[] = {
      "update XSTXSFP1 set FPBBH0='110012',FPHAO0='0001234' where DHAO00=101",
      "update XSTFXPS2 set FPBBH0='110012',FPHAO0='0001234' where SL0000<>0 "
      "AND DHAO00=301",
      "update XSTJQSK1 set FPBBH0='110012',FPHAO0='0001234',KPRQ00=TO_DATE("
      "'20240115','YYYYMMDD') where DHAO00=301",
      "update XSTJQSK2 set SE0000=12.5 where DHAO00=301 and SPMC00='卷烟甲'",
      "update XSTBFFP1 set FPBBH0='110012',FPHAO0='0001235' where DHAO00=102",
      kClosing,
  };
  ASSERT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  for (const std::string& sql : statements) {
    Status s = conn_.Execute(text::Utf8ToGbk(sql));
    ASSERT_TRUE(s.ok()) << sql << ": " << s.message();
  }
  ASSERT_TRUE(conn_.Call("CustObjdbCommit").ok());
  EXPECT_EQ(Q("SELECT FPBBH0,FPHAO0 FROM XSTXSFP1"), "110012|0001234");
  EXPECT_EQ(Q("SELECT FPBBH0,FPHAO0 FROM XSTBFFP1"), "110012|0001235");
  EXPECT_EQ(Q("SELECT DHAO00,FPBBH0,FPHAO0,KPRQ00 FROM XSTJQSK1 ORDER BY 1"),
            "301|110012|0001234|2024-01-15;305|~|~|~");
  EXPECT_EQ(Q("SELECT SE0000 FROM XSTJQSK2 ORDER BY DHAO00,SL0000"),
            "12.5;12.5;52.0");
  // Lines with a quantity got the numbers; the closing update copied the
  // invoice number and cleared it where the customer document has none.
  EXPECT_EQ(
      Q("SELECT DHAO00,SPDM00,SL0000,FPBBH0,FPHAO0 FROM XSTFXPS2 "
        "WHERE DHAO00 IN (301,305) ORDER BY DHAO00,SPDM00,SL0000"),
      "301|G1|1.0|110012|0001234;301|G1|2.0|110012|0001234;301|G2|0.0|~|~;"
      "301|G9|1.0|110012|0001234;305|G2|4.0||~");

  // The providers see the new state: 301 invoiced, 305 not.
  EXPECT_EQ(Keys(Get("dsp_jqsk3", "2024-04-01", "2024-04-30")),
            (std::vector<double>{301}));
  Packet open = Get("dsp_jqsk1", "2024-04-01", "2024-04-30");
  ASSERT_EQ(Keys(open), (std::vector<double>{305}));
  EXPECT_EQ(Txt(open.rows[0], 8), "vediruza商贸");
  Packet fx = Get("dsp_fxsk3", "2024-04-01", "2024-04-30");
  EXPECT_EQ(Keys(fx), (std::vector<double>{301, 306}));
  EXPECT_EQ(Lines(fx.rows[0]).size(), 4u);
  EXPECT_EQ(Txt(fx.rows[0], 6), "vediruza商贸");
}

TEST_P(ServerTest, CaseSensitiveLikeAndOracleFunctions) {
  Fill(kDeliveries);
  Fill({"INSERT INTO XSTJQSK1 (DHAO00) VALUES (101)"});
  // What the server computes, written where the test can read it.
  ASSERT_TRUE(
      conn_
          .Execute("update XSTJQSK1 set FPBBH0=(SELECT NVL(KPMC00,KHMC00) FROM "
                   "GSTKHGL0 "
                   "WHERE KHDM00='K1'), FPHAO0=(SELECT COUNT(*) FROM GSTKHGL0 "
                   "WHERE KHMC00 "
                   "LIKE 'vediruza%'), KPRQ00=TO_DATE('20240229','YYYYMMDD') "
                   "where DHAO00=101")
          .ok());
  EXPECT_EQ(Q("SELECT FPBBH0,FPHAO0,KPRQ00 FROM XSTJQSK1"),
            "vediruza商贸|1|2024-02-29");
  EXPECT_TRUE(conn_
                  .Execute("update XSTJQSK1 set FPHAO0=TO_DATE('','YYYYMMDD'), "
                           "FPBBH0=NVL(NULL,'x')")
                  .ok());
  EXPECT_EQ(Q("SELECT FPHAO0,FPBBH0 FROM XSTJQSK1"), "~|x");
  // SQLite's NVL is the server's own and takes an empty text for missing,
  // as Oracle does. MariaDB's is the engine's, which takes only NULL; there
  // the customer texts NVL reads are stored as NULL when empty (K1 above).
  if (GetParam() == testing::Backend::kSqlite) {
    EXPECT_TRUE(conn_.Execute("update XSTJQSK1 set FPBBH0=NVL('','y')").ok());
    EXPECT_EQ(Q("SELECT FPBBH0 FROM XSTJQSK1"), "y");
  }
  // An impossible date is an error, and the statement changes nothing.
  Status s = conn_.Execute(
      "update XSTJQSK1 set KPRQ00=TO_DATE('20230229','YYYYMMDD') where "
      "DHAO00=101");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("TO_DATE: '20230229' is not a valid date"),
            std::string::npos)
      << s.message();
  EXPECT_EQ(Q("SELECT KPRQ00 FROM XSTJQSK1"), "2024-02-29");
}

TEST_P(ServerTest, RollbackUndoesAndCommitWithoutBeginFails) {
  Fill(kHeadOffice);
  ASSERT_TRUE(conn_.Open().ok());
  Status s = conn_.Call("CustObjdbCommit");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("no transaction is open"), std::string::npos);
  EXPECT_TRUE(conn_.Call("CustObjdbRollback").ok());  // nothing to undo
  EXPECT_FALSE(conn_.Call("CustObjdbFrobnicate").ok());

  ASSERT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  EXPECT_FALSE(conn_.Call("CustObjdbTranStart").ok());  // one at a time
  ASSERT_TRUE(
      conn_.Execute("update XSTXSFP1 set FPHAO0='1' where DHAO00=101").ok());
  // A failing statement leaves the transaction open, as the import expects.
  EXPECT_FALSE(
      conn_.Execute("update XSTXSFP1 set DHAO00=103 where DHAO00=101").ok());
  ASSERT_TRUE(
      conn_.Execute("update XSTXSFP1 set FPHAO0='2' where DHAO00=102").ok());
  ASSERT_TRUE(conn_.Call("CustObjdbRollback").ok());
  EXPECT_EQ(Q("SELECT DHAO00,FPHAO0 FROM XSTXSFP1 WHERE DHAO00 IN (101,102) "
              "ORDER BY 1"),
            "101|;102|~");
  // Outside a transaction each statement stands on its own.
  ASSERT_TRUE(
      conn_.Execute("update XSTXSFP1 set FPHAO0='3' where DHAO00=102").ok());
  EXPECT_EQ(Q("SELECT FPHAO0 FROM XSTXSFP1 WHERE DHAO00=102"), "3");
  // One statement per text.
  s = conn_.Execute("update XSTXSFP1 set FPHAO0='4'; delete from XSTXSFP1");
  EXPECT_NE(s.message().find("more than one statement"), std::string::npos);
  EXPECT_EQ(Q("SELECT COUNT(*) FROM XSTXSFP1"), "5");
}

TEST_P(ServerTest, SessionsAreIsolatedAndAVanishedClientIsRolledBack) {
  Fill(kHeadOffice);
  Connection other;
  other.set_machine_name(server_->machine());
  ASSERT_TRUE(conn_.Open().ok());
  ASSERT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  ASSERT_TRUE(
      conn_.Execute("update XSTXSFP1 set FPHAO0='9' where DHAO00=101").ok());
  // The other session still sees 101 as not invoiced.
  Packet p;
  ASSERT_TRUE(
      other.GetRecords("dsp_bbsk1", -1, true, {"2024-03-05", "2024-03-05"}, &p)
          .ok());
  EXPECT_EQ(Keys(p, 1), (std::vector<double>{101}));
  // The client goes away without a word; the server rolls back, and the
  // other session's transaction can start (it waits for the lock if needed).
  conn_.Close();
  ASSERT_TRUE(other.Open().ok());
  Status s = other.Call("CustObjdbTranStart");
  ASSERT_TRUE(s.ok()) << s.message();
  ASSERT_TRUE(other.Call("CustObjdbCommit").ok());
  EXPECT_EQ(Q("SELECT FPHAO0 FROM XSTXSFP1 WHERE DHAO00=101"), "");
  EXPECT_TRUE(server_->WaitForLog("open transaction rolled back"))
      << server_->log();

  // Two sessions at once, each loading while the other writes.
  std::thread t([&] {
    Connection c;
    c.set_machine_name(server_->machine());
    for (int i = 0; i < 20; ++i) {
      Packet q;
      Status st =
          c.GetRecords("dsp_bbsk1", -1, true, {"2024-01-01", "2024-12-31"}, &q);
      EXPECT_TRUE(st.ok()) << st.message();
    }
  });
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(other
                    .Execute("update XSTXSFP1 set FPBBH0='" +
                             std::to_string(i) + "' where DHAO00=104")
                    .ok());
  }
  t.join();
  EXPECT_EQ(Q("SELECT FPBBH0 FROM XSTXSFP1 WHERE DHAO00=104"), "19");
}

// Frames written by hand.
class RawClient {
 public:
  explicit RawClient(int port) {
    auto s = ConnectTcp("127.0.0.1", port);
    EXPECT_TRUE(s.ok()) << s.status().message();
    if (s.ok()) socket_ = std::move(s).value();
  }
  bool Send(std::string_view bytes) {
    return socket_->SendAll(bytes.data(), bytes.size()).ok();
  }
  bool Send(MessageType type, std::string_view payload) {
    return Send(protocol::Frame(type, payload));
  }
  bool Hello() {
    if (!Send(MessageType::kHello, protocol::EncodeHello({}))) return false;
    MessageType t;
    std::string p;
    return Receive(&t, &p) && t == MessageType::kHelloOk;
  }
  bool Receive(MessageType* type, std::string* payload) {
    char h[protocol::kHeaderSize];
    if (!socket_->RecvAll(h, sizeof h).ok()) return false;
    protocol::Header header;
    if (!protocol::ParseHeader(h, protocol::kMaxPayload, &header).ok())
      return false;
    payload->resize(header.size);
    if (header.size > 0 && !socket_->RecvAll(payload->data(), header.size).ok())
      return false;
    *type = header.type;
    return true;
  }
  // The error message of the next frame, or "<not an error>".
  std::string Error() {
    MessageType t;
    std::string p, message;
    if (!Receive(&t, &p)) return "<closed>";
    if (t != MessageType::kError || !protocol::DecodeError(p, &message).ok())
      return "<not an error>";
    return message;
  }
  bool Closed() {
    char c;
    return !socket_->RecvAll(&c, 1).ok();
  }

 private:
  std::unique_ptr<Socket> socket_;
};

TEST_P(ServerTest, BadFramesGetClearErrorsAndTheServerGoesOn) {
  int port = server_->port();
  {
    RawClient c(port);  // not our protocol at all
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_NE(c.Error().find("more than the 512 allowed before Hello"),
              std::string::npos);
    EXPECT_TRUE(c.Closed());
  }
  {
    RawClient c(port);  // a request before the greeting
    ASSERT_TRUE(
        c.Send(MessageType::kCall, protocol::EncodeCall({"CustObjdbCommit"})));
    EXPECT_NE(c.Error().find("must begin with Hello"), std::string::npos);
    EXPECT_TRUE(c.Closed());
  }
  {
    RawClient c(port);  // another protocol version
    ASSERT_TRUE(
        c.Send(MessageType::kHello, protocol::EncodeHello({.version = 9, .computer = {}, .user = {}})));
    EXPECT_NE(c.Error().find("protocol version 9 is not supported"),
              std::string::npos);
    EXPECT_TRUE(c.Closed());
  }
  {
    RawClient c(port);  // malformed payloads keep the session
    ASSERT_TRUE(c.Hello());
    struct Case {
      MessageType type;
      std::string payload;
      const char* error;
    } cases[] = {
        {MessageType::kGetRecords, "", "malformed GetRecords"},
        {MessageType::kGetRecords,
         std::string("\x09"
                     "dsp_bbsk1\xff\xff\xff\xff\x01\x7f",
                     16),
         "malformed GetRecords"},
        {MessageType::kExecute,
         std::string("\x08"
                     "dsp_temp\x7f",
                     10),
         "malformed Execute"},
        {MessageType::kExecute,
         protocol::EncodeExecute({"dsp_bbsk1", "select 1"}),
         "does not run commands"},
        {MessageType::kExecute, protocol::EncodeExecute({"dsp_temp", ""}),
         "empty statement"},
        {MessageType::kCall, protocol::EncodeCall({"CustObjdbCommit"}) + "x",
         "malformed Call"},
        {static_cast<MessageType>(0x4f), "abc", "unknown request type 0x4f"},
        {MessageType::kHelloOk, "", "unknown request type HelloOk"},
        {MessageType::kHello, protocol::EncodeHello({}), "greeted already"},
    };
    for (const Case& k : cases) {
      ASSERT_TRUE(c.Send(k.type, k.payload));
      EXPECT_NE(c.Error().find(k.error), std::string::npos) << k.error;
    }
    // Still answering.
    ASSERT_TRUE(c.Send(MessageType::kCall,
                       protocol::EncodeCall({"CustObjdbRollback"})));
    MessageType t;
    std::string p;
    ASSERT_TRUE(c.Receive(&t, &p));
    EXPECT_EQ(t, MessageType::kOk);
  }
  {
    RawClient c(port);  // a client that leaves in the middle of a frame
    ASSERT_TRUE(c.Hello());
    ASSERT_TRUE(c.Send(MessageType::kCall,
                       protocol::EncodeCall({"CustObjdbTranStart"})));
    MessageType t;
    std::string p;
    ASSERT_TRUE(c.Receive(&t, &p));
    std::string frame = protocol::Frame(
        MessageType::kExecute,
        protocol::EncodeExecute({"dsp_temp", "delete from XSTXSFP1"}));
    ASSERT_TRUE(c.Send(frame.substr(0, 12)));
  }
  // The server is well and nothing was lost.
  Fill(kHeadOffice);
  EXPECT_EQ(Get("dsp_bbsk1", "2024-03-01", "2024-03-31").rows.size(), 3u);
  EXPECT_TRUE(server_->WaitForLog("client left in mid-frame"))
      << server_->log();
}

TEST_P(ServerTest, StopsCleanlyWithSessionsOpen) {
  ASSERT_TRUE(conn_.Open().ok());
  ASSERT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  Status s = server_->Stop();
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_NE(server_->log().find("stopped"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

class SampleTest : public ::testing::TestWithParam<testing::Backend> {};

TEST_P(SampleTest, SameSeedSameDataAndRealisticContent) {
  SKJK_REQUIRE_BACKEND(GetParam());
  const testing::ServerOptions options = {
      .backend = GetParam(), .sample_documents = 200, .seed = 42};
  auto a = testing::ServerProcess::Start(options);
  auto b = testing::ServerProcess::Start(options);
  ASSERT_TRUE(a.ok()) << a.status().message();
  ASSERT_TRUE(b.ok()) << b.status().message();
  const char* checks[] = {
      "SELECT COUNT(*), SUM(JEHJ00) FROM XSTXSFP1",
      "SELECT COUNT(*), SUM(SL0000) FROM XSTXSFP2",
      "SELECT COUNT(*), MIN(YWRQ00), MAX(YWRQ00) FROM XSTBFFP1",
      "SELECT COUNT(*), SUM(SL0000) FROM XSTFXPS2",
      "SELECT GROUP_CONCAT(KHMC00) FROM GSTKHGL0",
  };
  for (const char* sql : checks) {
    EXPECT_EQ((*a)->Select(sql), (*b)->Select(sql)) << sql;
  }
  const std::string db = (*a)->db_path();
  EXPECT_EQ((*a)->Select("SELECT COUNT(*) FROM XSTXSFP1"), "200");
  EXPECT_EQ((*a)->Select("SELECT COUNT(*) FROM XSTFXPS1"), "200");
  EXPECT_EQ((*a)->Select("SELECT KHMC00 FROM GSTKHGL0 WHERE KHDM00='K0000001'"),
            "vediruza商贸有限公司");
  EXPECT_EQ(
      (*a)->Select("SELECT MIN(n), MAX(n) FROM (SELECT COUNT(L.DHAO00) n "
                   "FROM XSTXSFP1 A LEFT JOIN XSTXSFP2 L ON L.DHAO00=A.DHAO00 "
                   "GROUP BY A.DHAO00) N"),
      "0|10");
  EXPECT_NE((*a)->Select("SELECT COUNT(*) FROM GSTKHGL0 WHERE SWDJH0 IS NULL"),
            "0");
  EXPECT_NE((*a)->Select("SELECT COUNT(*) FROM GSTKHGL0 WHERE KHYH00 IS NULL"),
            "0");
  EXPECT_NE((*a)->Select("SELECT COUNT(*) FROM XSTXSFP1 WHERE FPHAO0 <> ''"),
            "0");
  EXPECT_GT(std::stoi((*a)->Select(
                "SELECT COUNT(DISTINCT substr(YWRQ00,1,7)) FROM XSTXSFP1")),
            3);
  // The customer window's synchronisation finds work in a sample database.
  Connection c;
  c.set_machine_name((*a)->machine());
  ASSERT_TRUE(c.Execute(kSync1).ok());
  ASSERT_TRUE(c.Execute(kSync2).ok());
  EXPECT_NE((*a)->Select("SELECT COUNT(*) FROM XSTJQSK2"), "0");
  // An existing database file is never overwritten.
  Status s = testing::RunServerCommand({"init", "--db", db});
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find(GetParam() == testing::Backend::kSqlite
                                 ? "exists already"
                                 : "holds tables already"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, SampleTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

// Rows as text, a row a line, fields by '|', nested rows in brackets.
std::string Render(const Rows& rows) {
  std::string s;
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.values.size(); ++i) {
      if (i > 0) s += "|";
      const Value& v = row.values[i];
      if (const auto* t = std::get_if<std::string>(&v)) {
        s += *t;
      } else if (const auto* n = std::get_if<double>(&v)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", *n);
        s += buf;
      } else if (const auto* nested = std::get_if<Rows>(&v)) {
        s += "[" + Render(*nested) + "]";
      } else {
        s += "~";
      }
    }
    s += "\n";
  }
  return s;
}

// The customer copy of the sample's visit-sales documents with several
// rows for some: distinct ones, identical ones, NULL in an order column,
// and one document (3000020) with ten rows, more than a batch of three;
// a quarter of the documents invoiced.
const std::vector<std::string> kCustomerCopy = {
    "INSERT INTO XSTJQSK1 (DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00,CKDM00) "
    "SELECT DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,'X',CKDM00 FROM XSTFXPS1",
    "INSERT INTO XSTJQSK1 (DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00) "
    "SELECT DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,'Y' FROM XSTFXPS1 "
    "WHERE DHAO00 % 3 = 0",
    "INSERT INTO XSTJQSK1 (DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00,CKDM00) "
    "SELECT DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,'X',CKDM00 FROM XSTFXPS1 "
    "WHERE DHAO00 % 5 = 0",
    "INSERT INTO XSTJQSK1 (DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00) "
    "SELECT DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,NULL FROM XSTFXPS1 "
    "WHERE DHAO00 % 7 = 0",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,DWMC00) SELECT DHAO00,YWRQ00,'a' "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,DWMC00) SELECT DHAO00,YWRQ00,'b' "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,DWMC00) SELECT DHAO00,YWRQ00,'b' "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,DWMC00) SELECT DHAO00,YWRQ00,'c' "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00) SELECT DHAO00,YWRQ00 "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00) SELECT DHAO00,YWRQ00 "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,DWMC00) SELECT DHAO00,YWRQ00,'d' "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00,DWMC00) SELECT DHAO00,YWRQ00,'e' "
    "FROM XSTFXPS1 WHERE DHAO00 = 3000020",
    "INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SL0000,SE0000) "
    "SELECT DHAO00,SPDM00,SL0000,SE0000 FROM XSTFXPS2",
    "UPDATE XSTJQSK1 SET FPHAO0 = 'F' || DHAO00 WHERE DHAO00 % 4 = 0",
};

const char* const kAllProviders[] = {"dsp_bbsk1", "dsp_bbsk3", "dsp_bbbf1",
                                     "dsp_bbbf3", "dsp_fxsk1", "dsp_fxsk3",
                                     "dsp_jqsk1", "dsp_jqsk3"};

// A provider's answers on `server`: all at once, or in packets of
// `packet` until one comes short, each packet rendered.
std::vector<std::string> Answers(const testing::ServerProcess& server,
                                 const char* provider, const std::string& from,
                                 const std::string& to, int packet) {
  Connection c;
  c.set_machine_name(server.machine());
  std::vector<std::string> answers;
  Packet p;
  Status s = c.GetRecords(provider, packet, false, {from, to}, &p);
  EXPECT_TRUE(s.ok()) << provider << ": " << s.message();
  answers.push_back(Render(p.rows));
  for (int guard = 0;
       s.ok() && packet > 0 && p.rows.size() == static_cast<size_t>(packet) &&
       guard < 1000;
       ++guard) {
    s = c.GetRecords(provider, packet, false, {}, &p);
    EXPECT_TRUE(s.ok()) << provider << ": " << s.message();
    answers.push_back(Render(p.rows));
  }
  return answers;
}

// The masters read a few rows at a time (--read-batch) deliver what one
// pass over them all delivers (--read-batch 0): the same documents, rows and
// lines in the same order, whole and packet by packet, for every provider;
// batches end with whole documents, and a document with more rows than a batch
// holds goes on in the next one without skipping or repeating identical rows.
class ReadBatchTest : public ::testing::TestWithParam<testing::Backend> {};

TEST_P(ReadBatchTest, BatchesDeliverWhatOneReadDelivers) {
  SKJK_REQUIRE_BACKEND(GetParam());
  std::vector<std::unique_ptr<testing::ServerProcess>> servers;
  for (const char* batch : {"0", "1", "3", "7"}) {
    auto s =
        testing::ServerProcess::Start({.backend = GetParam(),
                                       .sample_documents = 60,
                                       .seed = 5,
                                       .serve_flags = {"--read-batch", batch}});
    ASSERT_TRUE(s.ok()) << s.status().message();
    Status fill = (*s)->Fill(kCustomerCopy);
    ASSERT_TRUE(fill.ok()) << fill.message();
    servers.push_back(std::move(s).value());
  }
  const testing::ServerProcess& one_read = *servers[0];
  // The customer documents are as described.
  EXPECT_EQ(one_read.Select("SELECT COUNT(*) FROM XSTJQSK1 WHERE DHAO00 = "
                            "3000020 AND FPHAO0 = 'F3000020'"),
            "10");
  EXPECT_NE(one_read.Select("SELECT COUNT(*) FROM (SELECT DHAO00 FROM "
                            "XSTJQSK1 WHERE FPHAO0 IS NULL GROUP BY DHAO00 "
                            "HAVING COUNT(*) > 1) N"),
            "0");

  struct Range {
    const char* from;
    const char* to;
  } const ranges[] = {{"2000-01-01", "2099-12-31"},
                      {"2024-03-01", "2024-08-31"}};
  for (const char* provider : kAllProviders) {
    for (const Range& r : ranges) {
      SCOPED_TRACE(std::string(provider) + " " + r.from + ".." + r.to);
      const std::vector<std::string> all =
          Answers(one_read, provider, r.from, r.to, Connection::kAllRecords);
      ASSERT_EQ(all.size(), 1u);
      // Enough documents for many batches.
      EXPECT_GE(std::count(all[0].begin(), all[0].end(), '\n'), 8);
      for (size_t i = 1; i < servers.size(); ++i) {
        EXPECT_EQ(Answers(*servers[i], provider, r.from, r.to,
                          Connection::kAllRecords),
                  all)
            << "batch server " << i;
      }
      if (r.from != ranges[0].from) continue;
      for (int packet : {2, 7, 10}) {
        SCOPED_TRACE("packets of " + std::to_string(packet));
        const std::vector<std::string> packets =
            Answers(one_read, provider, r.from, r.to, packet);
        EXPECT_GE(packets.size(), 2u);
        for (size_t i = 1; i < servers.size(); ++i) {
          EXPECT_EQ(Answers(*servers[i], provider, r.from, r.to, packet),
                    packets)
              << "batch server " << i;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, ReadBatchTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

// Customer documents whose rows differ in NULL against a value in the
// order columns. For each nullable order column c (YWRQ00 apart, which the
// range needs; FPHAO0 only where '' and NULL both mean not invoiced): a row
// with every column NULL and one with c alone set, a row with every column
// set and one with c alone NULL. So the rows of one document follow one
// another in the order after equal prefixes of NULLs and of values.
std::vector<std::string> RowsWithNullsInTheOrder(int dhao, bool invoiced) {
  struct Column {
    const char* name;
    const char* value;
  };
  std::vector<Column> columns = {
      {"FPLB00", "'01'"}, {"YWRY00", "'Y1'"}, {"KHDM00", "'K1'"},
      {"DWMC00", "'D1'"}, {"DWDZ00", "'A1'"}, {"SWDJH0", "'S1'"},
      {"KHYH00", "'H1'"}, {"YHZH00", "'Z1'"}, {"CKDM00", "'C1'"},
      {"SKBJ00", "'1'"},  {"FPBBH0", "'B1'"}, {"KPRQ00", "'1998-09-20'"},
  };
  if (!invoiced) columns.push_back({"FPHAO0", "''"});
  const std::string d = std::to_string(dhao);
  std::string names = "DHAO00,YWRQ00";
  for (const Column& c : columns) names += std::string(",") + c.name;
  if (invoiced) names += ",FPHAO0";
  // The row whose column `only` is set (every other NULL), or, with
  // `all_but`, the one where it alone is NULL; -1: none.
  auto row = [&](int only, bool all_but) {
    std::string values = d + ",'1998-09-10'";
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
      values += ",";
      values += (i == only) != all_but ? columns[i].value : "NULL";
    }
    if (invoiced) values += ",'F" + d + "'";
    return "INSERT INTO XSTJQSK1 (" + names + ") VALUES (" + values + ")";
  };
  std::vector<std::string> sql;
  for (bool all_but : {false, true}) {
    sql.push_back(row(-1, all_but));
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
      sql.push_back(row(i, all_but));
    }
  }
  sql.push_back("INSERT INTO XSTJQSK2 (DHAO00,SPDM00,SL0000) VALUES (" + d +
                ",'G1',2)");
  return sql;
}

// Packets continue after the last row delivered also where its order
// columns are NULL: joined, packets of any size are the whole answer, the
// same rows in the same order, none lost or repeated. On each backend, read
// in one pass or in batches.
class PacketKeyTest : public ::testing::TestWithParam<testing::Backend> {};

TEST_P(PacketKeyTest, PacketsJoinedAreTheWholeAnswerWithNullsInTheOrder) {
  SKJK_REQUIRE_BACKEND(GetParam());
  std::vector<std::string> fill;
  for (int dhao : {710, 720, 730}) {
    for (const std::string& sql : RowsWithNullsInTheOrder(dhao, false)) {
      fill.push_back(sql);
    }
    for (const std::string& sql : RowsWithNullsInTheOrder(dhao + 100, true)) {
      fill.push_back(sql);
    }
  }
  // A document of a single row between them.
  fill.push_back(
      "INSERT INTO XSTJQSK1 (DHAO00,YWRQ00) VALUES (715,'1998-09-11')");
  for (const char* batch : {"0", "2"}) {
    SCOPED_TRACE(std::string("read batch ") + batch);
    auto server = testing::ServerProcess::Start(
        {.backend = GetParam(), .serve_flags = {"--read-batch", batch}});
    ASSERT_TRUE(server.ok()) << server.status().message();
    Status filled = (*server)->Fill(fill);
    ASSERT_TRUE(filled.ok()) << filled.message();
    for (const char* provider : {"dsp_jqsk1", "dsp_jqsk3"}) {
      SCOPED_TRACE(provider);
      const std::vector<std::string> whole =
          Answers(**server, provider, "1998-09-01", "1998-09-30",
                  Connection::kAllRecords);
      ASSERT_EQ(whole.size(), 1u);
      // Each row rendered ends with its lines' closing bracket.
      size_t rows = 0;
      for (size_t at = 0; (at = whole[0].find("]\n", at)) != std::string::npos;
           ++at) {
        ++rows;
      }
      EXPECT_EQ(rows,
                provider == std::string("dsp_jqsk1") ? 3 * 28 + 1u : 3 * 26u);
      for (int packet : {1, 2, 3}) {
        SCOPED_TRACE("packets of " + std::to_string(packet));
        std::string joined;
        for (const std::string& p :
             Answers(**server, provider, "1998-09-01", "1998-09-30", packet)) {
          joined += p;
        }
        EXPECT_EQ(joined, whole[0]);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, PacketKeyTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

// The database sessions of the server, straight: the providers step two
// queries of one session in turn and may run others meanwhile.
class DbSessionTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    SKJK_REQUIRE_BACKEND(GetParam());
    auto s = testing::ServerProcess::Start(
        {.backend = GetParam(), .sample_documents = 2000, .seed = 7});
    ASSERT_TRUE(s.ok()) << s.status().message();
    server_ = std::move(s).value();
    auto db = appserver::OpenDatabase(server_->client_db());
    ASSERT_TRUE(db.ok()) << db.status().message();
    db_ = std::move(db).value();
    auto session = db_->OpenSession();
    ASSERT_TRUE(session.ok()) << session.status().message();
    session_ = std::move(session).value();
  }

  appserver::Statement* Query(const std::string& sql, int64_t from) {
    auto st = session_->Prepare(sql);
    EXPECT_TRUE(st.ok()) << st.status().message();
    if (!st.ok()) return nullptr;
    EXPECT_TRUE((*st)->BindInt(1, from).ok());
    return *st;
  }

  // The next row of `st` as "A|B|C" ("~" for NULL), empty after the last.
  static std::string Next(appserver::Statement* st) {
    auto row = st->Step();
    EXPECT_TRUE(row.ok()) << row.status().message();
    if (!row.ok() || !*row) return "";
    std::string s;
    for (int i = 0; i < 3; ++i) {
      if (i > 0) s += "|";
      s += st->IsNull(i) ? "~" : std::string(st->Text(i));
    }
    return s;
  }

  static std::vector<std::string> Rest(appserver::Statement* st) {
    std::vector<std::string> rows;
    for (std::string r = Next(st); !r.empty(); r = Next(st)) rows.push_back(r);
    return rows;
  }

  std::unique_ptr<testing::ServerProcess> server_;
  std::unique_ptr<appserver::Database> db_;
  std::unique_ptr<appserver::DbSession> session_;
};

const char kSalesLines[] =
    "SELECT DHAO00,SPDM00,JE0000 FROM XSTXSFP2 WHERE DHAO00 >= ? "
    "ORDER BY DHAO00,SPDM00,JE0000";
const char kVoidLines[] =
    "SELECT DHAO00,SPDM00,SL0000 FROM XSTBFFP2 WHERE DHAO00 >= ? "
    "ORDER BY DHAO00,SPDM00,SL0000";
const char kCount[] = "SELECT COUNT(*) FROM XSTXSFP1 WHERE DHAO00 >= ?";

TEST_P(DbSessionTest, QueriesOfOneSessionStepInTurn) {
  // Each query alone first.
  const std::vector<std::string> sales = Rest(Query(kSalesLines, 0));
  const std::vector<std::string> voids = Rest(Query(kVoidLines, 0));
  ASSERT_GT(sales.size(), 5000u);
  ASSERT_GT(voids.size(), 5000u);

  // A few rows of one, then another query run whole in between: the
  // current row's values stay as they were and the first query goes on
  // where it stood.
  appserver::Statement* a = Query(kSalesLines, 0);
  std::vector<std::string> got;
  for (int i = 0; i < 5; ++i) got.push_back(Next(a));
  const std::string_view held = a->Text(1);
  const std::string copy(held);
  appserver::Statement* count = Query(kCount, 0);
  ASSERT_TRUE(count->Step().ok());
  EXPECT_EQ(count->Int(0), 2000);
  count->Reset();
  EXPECT_EQ(held, copy);
  EXPECT_EQ(a->Text(1), copy);

  // Two queries in turn, row by row, and the count once more while the
  // second is half read.
  appserver::Statement* b = Query(kVoidLines, 0);
  std::vector<std::string> got_b;
  size_t turn = 0;
  for (bool a_left = true, b_left = true; a_left || b_left; ++turn) {
    if (a_left) {
      std::string r = Next(a);
      a_left = !r.empty();
      if (a_left) got.push_back(r);
    }
    if (b_left) {
      std::string r = Next(b);
      b_left = !r.empty();
      if (b_left) got_b.push_back(r);
    }
    if (turn == 1000) {
      ASSERT_TRUE(count->BindInt(1, 1001000).ok());
      auto row = count->Step();
      ASSERT_TRUE(row.ok() && *row) << row.status().message();
      EXPECT_EQ(count->Int(0), 1001);
    }
  }
  EXPECT_EQ(got, sales);
  EXPECT_EQ(got_b, voids);

  // A query reset half read leaves the session free for the next.
  a = Query(kSalesLines, 0);
  EXPECT_EQ(Next(a), sales[0]);
  a->Reset();
  b = Query(kVoidLines, 0);
  EXPECT_EQ(Rest(b), voids);
  EXPECT_EQ(Rest(a), sales);
}

TEST_P(DbSessionTest, ReadsBetweenBeginReadAndEndReadSeeOneState) {
  const std::string insert =
      "INSERT INTO XSTXSFP1 (DHAO00,YWRQ00) VALUES (5000000,'2024-01-01')";
  // The number the query `sql` (its '?' bound to 0) counts.
  auto count_of = [&](const std::string& sql) -> int64_t {
    appserver::Statement* st = Query(sql, 0);
    if (st == nullptr) return -1;
    auto row = st->Step();
    EXPECT_TRUE(row.ok() && *row);
    const int64_t n = row.ok() && *row ? st->Int(0) : -1;
    st->Reset();
    return n;
  };
  ASSERT_TRUE(session_->BeginRead().ok());
  EXPECT_FALSE(session_->in_transaction());
  EXPECT_EQ(count_of(kCount), 2000);
  // Another session's write, committed meanwhile, is not seen until the
  // read ends.
  Status s = server_->Fill({insert});
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(count_of(kCount), 2000);
  session_->EndRead();
  EXPECT_EQ(count_of(kCount), 2001);
  session_->EndRead();  // nothing to end

  // Inside a transaction the reads see its own writes, and the end of the
  // read leaves the transaction open.
  const std::string marked =
      "SELECT COUNT(*) FROM XSTXSFP1 WHERE FPHAO0 = 'x' AND DHAO00 >= ?";
  ASSERT_TRUE(session_->Begin().ok());
  auto changed = session_->Execute(
      "UPDATE XSTXSFP1 SET FPHAO0 = 'x' WHERE DHAO00 >= 1001000");
  ASSERT_TRUE(changed.ok()) << changed.status().message();
  ASSERT_GT(*changed, 0);
  ASSERT_TRUE(session_->BeginRead().ok());
  EXPECT_EQ(count_of(marked), *changed);
  session_->EndRead();
  EXPECT_TRUE(session_->in_transaction());
  EXPECT_EQ(count_of(marked), *changed);
  ASSERT_TRUE(session_->Rollback().ok());
  EXPECT_EQ(count_of(marked), 0);
}

// Counts the rows of a record stream; calls `on_chunk` at the first chunk.
class CountingSink final : public appserver::RecordSink {
 public:
  Status Header(const std::vector<FieldDef>&) override { return Status::OK(); }
  Status Chunk(uint64_t count, std::string_view) override {
    rows += count;
    if (chunks++ == 0 && on_first_chunk) on_first_chunk();
    return Status::OK();
  }
  Status End(uint64_t t, bool) override {
    total = t;
    return Status::OK();
  }
  std::function<void()> on_first_chunk;
  uint64_t rows = 0, chunks = 0, total = 0;
};

// An answer read in many batches reads one state of the database: what
// another session writes after its first batch does not show in its later
// ones, neither documents leaving the view nor documents entering it.
TEST_P(DbSessionTest, AnAnswerInBatchesReadsOneState) {
  const appserver::ProviderDef* def = appserver::FindProvider("dsp_bbsk1");
  ASSERT_NE(def, nullptr);
  int read_batch = 50;
  auto answer = [&](CountingSink* sink) {
    appserver::ProviderCursor cursor;
    Status s =
        appserver::StartCursor(*def, {"2000-01-01", "2099-12-31"}, &cursor);
    ASSERT_TRUE(s.ok()) << s.message();
    s = appserver::StreamPacket(session_.get(), &cursor, -1, sink, read_batch);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(sink->rows, sink->total);
  };
  // In one pass, where the masters may have been read before the write
  // but the lines not, and in batches. The writes come after the first
  // chunk's documents.
  const std::vector<std::string> writes[] = {
      {"DELETE FROM XSTXSFP2 WHERE DHAO00 > 1001000",
       "UPDATE XSTXSFP1 SET FPHAO0 = 'x' WHERE DHAO00 > 1001500"},
      {"DELETE FROM XSTXSFP1 WHERE DHAO00 > 1000700",
       "UPDATE XSTXSFP1 SET FPHAO0 = NULL WHERE DHAO00 > 1000400",
       "DELETE FROM XSTXSFP2 WHERE DHAO00 > 1000400"},
  };
  for (int pass = 0; pass < 2; ++pass) {
    read_batch = pass == 0 ? 0 : 50;
    SCOPED_TRACE("read batch " + std::to_string(read_batch));
    CountingSink before;
    answer(&before);
    ASSERT_GT(before.chunks, 2u);  // the write below comes between batches

    CountingSink during;
    during.on_first_chunk = [&] {
      Status s = server_->Fill(writes[pass]);
      ASSERT_TRUE(s.ok()) << s.message();
    };
    answer(&during);
    EXPECT_EQ(during.total, before.total);
    EXPECT_EQ(during.chunks, before.chunks);
    EXPECT_FALSE(session_->in_transaction());

    CountingSink after;
    answer(&after);
    EXPECT_NE(after.total, before.total);
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DbSessionTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

}  // namespace
}  // namespace skjk
