// The connection against a real skjk-server on loopback.
#include "server/connection.h"

#include <gtest/gtest.h>

#include "server/testing/server_process.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using text::literals::operator""_gbk;

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = testing::ServerProcess::Start({.sample_documents = 30, .seed = 7});
    ASSERT_TRUE(s.ok()) << s.status().message();
    server_ = std::move(s).value();
    conn_.set_machine_name(server_->machine());
  }

  std::unique_ptr<testing::ServerProcess> server_;
  Connection conn_;
};

TEST_F(ConnectionTest, RequestsOpenTheSessionWhenClosed) {
  EXPECT_FALSE(conn_.connected());
  Packet p;
  Status s = conn_.GetRecords("dsp_bbsk1", Connection::kAllRecords, true,
                              {"2024-01-01", "2024-12-31"}, &p);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_TRUE(conn_.connected());
  EXPECT_FALSE(p.rows.empty());
  ASSERT_EQ(p.layout.size(), 35u);
  EXPECT_EQ(p.layout.back().name, "qry_bbsk2");

  conn_.Close();
  EXPECT_FALSE(conn_.connected());
  s = conn_.Execute(
      "update XSTXSFP1 set BEIZHU='备注' where DHAO00=1000001"_gbk);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_TRUE(conn_.connected());
}

TEST_F(ConnectionTest, CallNeedsAnOpenSessionAndDoesNotOpenOne) {
  Status s = conn_.Call("CustObjdbTranStart");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("CustObjdbTranStart"), std::string::npos);
  EXPECT_FALSE(conn_.connected());
  ASSERT_TRUE(conn_.Open().ok());
  EXPECT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  EXPECT_TRUE(conn_.Call("CustObjdbRollback").ok());
}

TEST_F(ConnectionTest, ServerErrorsKeepTheSessionOpen) {
  ASSERT_TRUE(conn_.Open().ok());
  Status s = conn_.Execute("update NOSUCHTABLE set A=1");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("no such table: NOSUCHTABLE"), std::string::npos)
      << s.message();
  EXPECT_TRUE(conn_.connected());
  Packet p;
  s = conn_.GetRecords("dsp_nothing", Connection::kAllRecords, true,
                       {"2024-01-01", "2024-01-02"}, &p);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("unknown provider dsp_nothing"),
            std::string::npos);
  EXPECT_TRUE(conn_.connected());
}

TEST_F(ConnectionTest, ErrorMessagesComeBackAsGbk) {
  Status s = conn_.Execute("update XSTXSFP1 set 备注=1"_gbk);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("备注"_gbk), std::string::npos) << s.message();
}

TEST_F(ConnectionTest, LostServerIsReportedAndTheNextRequestReconnects) {
  ASSERT_TRUE(conn_.Open().ok());
  int port = server_->port();
  ASSERT_TRUE(server_->Stop().ok()) << server_->log();
  Status s = conn_.Execute("update XSTXSFP1 set BEIZHU='x' where DHAO00=0");
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(conn_.connected());
  s = conn_.Open();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("127.0.0.1:" + std::to_string(port)),
            std::string::npos)
      << s.message();
}

TEST(ConnectionMachineTest, BadMachineNamesAreRefused) {
  for (const char* machine :
       {"host:", "host:0", "host:99999", "host:12x", "[::1"}) {
    Connection c;
    c.set_machine_name(machine);
    Status s = c.Open();
    EXPECT_FALSE(s.ok()) << machine;
    EXPECT_NE(s.message().find(machine), std::string::npos) << s.message();
  }
}

}  // namespace
}  // namespace skjk
