// The connection against a real skjk-server on loopback.
#include "client/connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testing/scripted_server.h"
#include "testing/server_process.h"
#include "text/gbk.h"
#include "wire/protocol.h"

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
      "update XSTXSFP1 set FPBBH0='备注' where DHAO00=1000001"_gbk);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_TRUE(conn_.connected());
}

TEST_F(ConnectionTest, CallNeedsAnOpenSessionAndDoesNotOpenOne) {
  Status s = conn_.Call("CustObjdbTranStart");
  EXPECT_TRUE(s.IsLinkLost()) << s.message();
  EXPECT_NE(s.message().find("CustObjdbTranStart"), std::string::npos);
  EXPECT_FALSE(conn_.connected());
  ASSERT_TRUE(conn_.Open().ok());
  EXPECT_TRUE(conn_.Call("CustObjdbTranStart").ok());
  EXPECT_TRUE(conn_.Call("CustObjdbRollback").ok());
}

TEST_F(ConnectionTest, ServerErrorsKeepTheSessionOpen) {
  ASSERT_TRUE(conn_.Open().ok());
  Connection::SessionId session = conn_.session();
  Status s = conn_.Execute("update NOSUCHTABLE set A=1");
  ASSERT_TRUE(s.IsRefused()) << s.message();
  EXPECT_NE(s.message().find("no such table: NOSUCHTABLE"), std::string::npos)
      << s.message();
  EXPECT_EQ(conn_.session(), session);
  Packet p;
  s = conn_.GetRecords("dsp_nothing", Connection::kAllRecords, true,
                       {"2024-01-01", "2024-01-02"}, &p);
  ASSERT_TRUE(s.IsRefused()) << s.message();
  EXPECT_NE(s.message().find("unknown provider dsp_nothing"),
            std::string::npos);
  s = conn_.Call("CustObjdbCommit");  // no transaction open
  EXPECT_TRUE(s.IsRefused()) << s.message();
  EXPECT_EQ(conn_.session(), session);
}

TEST_F(ConnectionTest, ErrorMessagesComeBackAsGbk) {
  Status s = conn_.Execute("update XSTXSFP1 set 备注=1"_gbk);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("备注"_gbk), std::string::npos) << s.message();
}

TEST_F(ConnectionTest, LostServerIsReportedAndTheNextRequestReconnects) {
  ASSERT_TRUE(conn_.Open().ok());
  ASSERT_TRUE(server_->Stop().ok()) << server_->log();
  Status s = conn_.Execute("update XSTXSFP1 set FPBBH0='x' where DHAO00=0");
  EXPECT_TRUE(s.IsLinkLost()) << s.message();
  EXPECT_FALSE(conn_.connected());
  EXPECT_EQ(conn_.session(), 0u);
  // Nothing listens any more: the user sees the system's message alone.
  s = conn_.Open();
  EXPECT_TRUE(s.IsLinkLost()) << s.message();
  EXPECT_EQ(s.message(), text::Utf8ToGbk(strerror(ECONNREFUSED)));
  EXPECT_FALSE(conn_.connected());
}

TEST_F(ConnectionTest, RequestsBoundToASessionNeverReconnect) {
  EXPECT_EQ(conn_.session(), 0u);
  EXPECT_TRUE(
      conn_.ExecuteIn(0, "update XSTXSFP1 set FPBBH0='x'").IsLinkLost());
  EXPECT_FALSE(conn_.connected());

  ASSERT_TRUE(conn_.Open().ok());
  Connection::SessionId first = conn_.session();
  EXPECT_NE(first, 0u);
  int64_t changed = -1;
  ASSERT_TRUE(conn_
                  .ExecuteIn(first,
                             "update XSTXSFP1 set FPBBH0='x' where DHAO00 in "
                             "(select DHAO00 from XSTXSFP1 limit 3)",
                             &changed)
                  .ok());
  EXPECT_EQ(changed, 3);

  // Closed: the bound requests fail and do not open a session.
  conn_.Close();
  for (Status s : {conn_.ExecuteIn(first, "update XSTXSFP1 set FPBBH0='y'"),
                   conn_.CallIn(first, "CustObjdbTranStart")}) {
    EXPECT_TRUE(s.IsLinkLost()) << s.message();
    EXPECT_EQ(s.message(), "与应用服务器的会话已结束"_gbk);
  }
  EXPECT_FALSE(conn_.connected());

  // Replaced by a request that reconnected: a new session, which the
  // requests bound to the old one leave alone.
  Packet p;
  ASSERT_TRUE(conn_
                  .GetRecords("dsp_bbsk1", Connection::kAllRecords, false,
                              {"2024-01-01", "2024-12-31"}, &p)
                  .ok());
  Connection::SessionId second = conn_.session();
  EXPECT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_TRUE(conn_.CallIn(first, "CustObjdbTranStart").IsLinkLost());
  EXPECT_EQ(conn_.session(), second);
  ASSERT_TRUE(conn_.CallIn(second, "CustObjdbTranStart").ok());
  ASSERT_TRUE(conn_.CallIn(second, "CustObjdbRollback").ok());
}

// The server ends sessions that stay idle too long, saying why. A request
// that opens sessions then opens a new one instead of reading those parting
// words as its answer; a request bound to the ended session fails as such.
TEST(ConnectionIdleTest, ASessionTheServerEndedIsReplacedOrReported) {
  auto server = testing::ServerProcess::Start(
      {.serve_flags = {"--idle-timeout", "1", "--transaction-idle-timeout",
                       "1"}});
  ASSERT_TRUE(server.ok()) << server.status().message();
  Connection c;
  c.set_machine_name((*server)->machine());
  ASSERT_TRUE(c.Open().ok());
  const Connection::SessionId first = c.session();
  ASSERT_TRUE((*server)->WaitForLog("no request for 1 s"));
  Packet p;
  Status s = c.GetRecords("dsp_bbsk1", Connection::kAllRecords, true,
                          {"2024-01-01", "2024-01-31"}, &p);
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_GT(c.session(), first);

  const Connection::SessionId second = c.session();
  ASSERT_TRUE(c.CallIn(second, "CustObjdbTranStart").ok());
  ASSERT_TRUE((*server)->WaitForLog("inside a transaction"));
  s = c.ExecuteIn(second, "update XSTXSFP1 set FPHAO0='1' where DHAO00=1");
  EXPECT_TRUE(s.IsLinkLost()) << s.message();
  EXPECT_EQ(s.message(), "与应用服务器的会话已结束"_gbk);
  EXPECT_FALSE(c.connected());
  // The next request that may open a session gets one.
  EXPECT_TRUE(c.Execute("update XSTXSFP1 set FPHAO0='1' where DHAO00=1").ok());
}

TEST(ConnectionMachineTest, BadMachineNamesAreRefused) {
  for (const char* machine :
       {"host:", "host:0", "host:99999", "host:12x", "[::1"}) {
    Connection c;
    c.set_machine_name(machine);
    Status s = c.Open();
    EXPECT_TRUE(s.IsBadInput()) << machine << ": " << s.message();
    EXPECT_NE(s.message().find(machine), std::string::npos) << s.message();
  }
}

// Every answer that makes no sense loses the link: the session is closed,
// so that nothing goes on in a stream that cannot be trusted. Only the
// server's own error answer is a refusal.
TEST(ConnectionAnswerTest, AnswersThatMakeNoSenseLoseTheLink) {
  using protocol::Frame;
  using protocol::MessageType;
  const std::string hello_ok =
      Frame(MessageType::kHelloOk,
            protocol::EncodeHelloOk(protocol::kVersion, "skjk-server"));
  char oversized[protocol::kHeaderSize];
  protocol::PutHeader(MessageType::kOk, protocol::kMaxPayload + 1, oversized);
  struct Case {
    const char* name;
    std::vector<std::string> answers;  // to Hello, then to Execute
    Status::Code code;
    std::string message;  // empty: any
    bool connected;       // afterwards
  };
  for (const Case& c : std::initializer_list<Case>{
           {"closes instead of answering Hello",
            {},
            Status::Code::kLinkLost,
            "与应用服务器的连接已断开"_gbk,
            false},
           {"speaks another protocol version",
            {Frame(MessageType::kHelloOk,
                   protocol::EncodeHelloOk(protocol::kVersion + 1, "x"))},
            Status::Code::kLinkLost,
            "",
            false},
           {"answers Hello with Ok",
            {Frame(MessageType::kOk, protocol::EncodeOk(0))},
            Status::Code::kLinkLost,
            "",
            false},
           {"garbles HelloOk",
            {Frame(MessageType::kHelloOk, "\x01")},
            Status::Code::kLinkLost,
            "",
            false},
           {"refuses the greeting",
            {Frame(MessageType::kError, protocol::EncodeError("不受理"))},
            Status::Code::kRefused,
            "不受理"_gbk,
            false},
           {"announces a frame too large",
            {hello_ok, std::string(oversized, sizeof oversized)},
            Status::Code::kLinkLost,
            "",
            false},
           {"garbles Ok",
            {hello_ok, Frame(MessageType::kOk, "\x01")},
            Status::Code::kLinkLost,
            "",
            false},
           {"garbles its error answer",
            {hello_ok,
             Frame(MessageType::kError,
                   protocol::EncodeError("no such table").substr(0, 3))},
            Status::Code::kLinkLost,
            "",
            false},
           {"answers Execute with records",
            {hello_ok, Frame(MessageType::kRecordsHeader, "")},
            Status::Code::kLinkLost,
            "",
            false},
           {"closes in the middle of Ok",
            {hello_ok, Frame(MessageType::kOk, protocol::EncodeOk(1))
                           .substr(0, protocol::kHeaderSize + 2)},
            Status::Code::kLinkLost,
            "与应用服务器的连接已断开"_gbk,
            false},
           {"refuses the statement",
            {hello_ok, Frame(MessageType::kError,
                             protocol::EncodeError("no such table"))},
            Status::Code::kRefused,
            "no such table",
            true},
       }) {
    SCOPED_TRACE(c.name);
    testing::ScriptedServer server(testing::Answering(c.answers));
    Connection conn;
    conn.set_machine_name(server.machine());
    Status s = conn.Open();
    if (s.ok()) s = conn.Execute("update T set A=1");
    EXPECT_EQ(s.code(), c.code) << s.message();
    if (!c.message.empty()) {
      EXPECT_EQ(s.message(), c.message);
    }
    EXPECT_EQ(conn.connected(), c.connected);
    EXPECT_EQ(conn.session() != 0, c.connected);
  }
}

// The exchange journal's requests: GBK texts go out as UTF-8 (the desk's
// names in the greeting too), document numbers sorted and once each, and
// the answers' texts come back as GBK. The server's error answer refuses a
// request and the session goes on.
TEST(ConnectionJournalTest, RequestsAndAnswersAtTheTextBoundary) {
  using protocol::Frame;
  using protocol::MessageType;
  protocol::InvoiceState state;
  state.sales.missing = {7};
  state.sales.invoiced = {101};
  state.sales.numbers = {{"本1", "号2"}};
  state.void_documents.invoiced = {5};
  state.void_documents.numbers = {{"B", "N"}};
  testing::ReceivedRequests received;
  testing::ScriptedServer server(testing::Serving(
      &received, [&](const testing::Request& r) -> std::string {
        switch (r.type) {
          case MessageType::kHello:
            return testing::HelloOkFrame();
          case MessageType::kRecordExport:
            return Frame(MessageType::kOk, protocol::EncodeOk(42));
          case MessageType::kCheckExport:
            return Frame(MessageType::kExportHistory,
                         protocol::EncodeExportHistory(
                             {.documents = 2,
                              .last_time = "2024-01-17 09:30:00",
                              .last_file = "C:\\税控\\销售.txt"}));
          case MessageType::kCheckInvoices:
            if (received.Payloads(MessageType::kCheckInvoices).size() > 1) {
              return Frame(MessageType::kError,
                           protocol::EncodeError("未知的业务线"));
            }
            return Frame(MessageType::kInvoiceState,
                         protocol::EncodeInvoiceState(state));
          default:
            return "";
        }
      }));
  Connection conn;
  conn.set_machine_name(server.machine());
  // 50 three-byte characters: the greeting takes as many whole ones as fit.
  std::string long_name;
  for (int i = 0; i < 50; ++i) long_name += "机"_gbk;
  conn.set_desk(long_name, "张三"_gbk);

  protocol::RecordExport record{.line = "Bbsk",
                                .kind = protocol::DocumentKind::kVoid,
                                .first_date = "2024-01-15",
                                .last_date = "2024-01-16",
                                .file_name = "C:\\税控\\作废.txt"_gbk,
                                .file_size = 12,
                                .file_hash = std::string(64, 'a'),
                                .completed = false,
                                .failure = "磁盘已满"_gbk,
                                .documents = {105, 102, 105}};
  Result<int64_t> entry = conn.RecordExport(record);
  ASSERT_TRUE(entry.ok()) << entry.status().message();
  EXPECT_EQ(*entry, 42);

  Result<protocol::ExportHistory> history =
      conn.CheckExport({.line = "Fxsk",
                        .kind = protocol::DocumentKind::kSales,
                        .documents = {3, 1, 2, 1}});
  ASSERT_TRUE(history.ok()) << history.status().message();
  EXPECT_EQ(history->documents, 2u);
  EXPECT_EQ(history->last_time, "2024-01-17 09:30:00");
  EXPECT_EQ(history->last_file, "C:\\税控\\销售.txt"_gbk);

  const protocol::CheckInvoices check{.line = "Jqsk",
                                      .file_name = "发票.txt"_gbk,
                                      .sales = {101, 7, 101},
                                      .void_documents = {5}};
  Result<protocol::InvoiceState> answer = conn.CheckInvoices(check);
  ASSERT_TRUE(answer.ok()) << answer.status().message();
  EXPECT_EQ(answer->sales.missing, protocol::DocumentNumbers{7});
  EXPECT_EQ(answer->sales.numbers,
            (std::vector<std::pair<std::string, std::string>>{
                {"本1"_gbk, "号2"_gbk}}));
  EXPECT_EQ(answer->void_documents, state.void_documents);
  const Connection::SessionId session = conn.session();
  answer = conn.CheckInvoices(check);
  EXPECT_TRUE(answer.status().IsRefused());
  EXPECT_EQ(answer.status().message(), "未知的业务线"_gbk);
  EXPECT_EQ(conn.session(), session);
  conn.Close();

  EXPECT_EQ(received.Types(),
            (std::vector<std::string>{"Hello", "RecordExport", "CheckExport",
                                      "CheckInvoices", "CheckInvoices"}));
  protocol::Hello hello;
  ASSERT_TRUE(protocol::DecodeHello(
                  received.Payloads(MessageType::kHello).at(0), &hello)
                  .ok());
  std::string expected_computer;
  for (int i = 0; i < 42; ++i) expected_computer += "机";
  EXPECT_EQ(hello.computer, expected_computer);
  EXPECT_EQ(hello.user, "张三");
  protocol::RecordExport sent_record;
  ASSERT_TRUE(
      protocol::DecodeRecordExport(
          received.Payloads(MessageType::kRecordExport).at(0), &sent_record)
          .ok());
  record.file_name = "C:\\税控\\作废.txt";
  record.failure = "磁盘已满";
  record.documents = {102, 105};
  EXPECT_EQ(sent_record, record);
  protocol::CheckExport sent_check;
  ASSERT_TRUE(
      protocol::DecodeCheckExport(
          received.Payloads(MessageType::kCheckExport).at(0), &sent_check)
          .ok());
  EXPECT_EQ(sent_check.documents, (protocol::DocumentNumbers{1, 2, 3}));
  protocol::CheckInvoices sent_invoices;
  ASSERT_TRUE(
      protocol::DecodeCheckInvoices(
          received.Payloads(MessageType::kCheckInvoices).at(0), &sent_invoices)
          .ok());
  EXPECT_EQ(sent_invoices, (protocol::CheckInvoices{.line = "Jqsk",
                                                    .file_name = "发票.txt",
                                                    .sales = {7, 101},
                                                    .void_documents = {5}}));
}

TEST(ResultTest, AFailedResultNeverReadsAsOk) {
  Result<int> value(7);
  EXPECT_TRUE(value.ok());
  EXPECT_TRUE(value.status().ok());

  Result<int> refused(Status::Refused("no"));
  EXPECT_FALSE(refused.ok());
  EXPECT_TRUE(refused.status().IsRefused());
  EXPECT_EQ(refused.status().message(), "no");

  // A result made from an OK status has nothing in it: a failure.
  Result<int> empty(Status::OK());
  EXPECT_FALSE(empty.ok());
  EXPECT_FALSE(empty.status().ok());
  EXPECT_FALSE(empty.status().message().empty());
}

}  // namespace
}  // namespace skjk
