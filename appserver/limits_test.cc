// skjk-server under abuse: who may connect, and the limits that keep one
// client from holding the server, its memory or its write lock.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "appserver/database.h"
#include "appserver/network_rules.h"
#include "appserver/session.h"
#include "client/connection.h"
#include "platform/scoped_fd.h"
#include "testing/backends.h"
#include "testing/server_process.h"
#include "wire/protocol.h"

namespace skjk {
namespace {

using appserver::InNetworks;
using appserver::ParseNetworks;
using protocol::MessageType;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

sockaddr_storage Address(const std::string& text) {
  sockaddr_storage a{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
  } else {
    ADD_FAILURE() << "bad test address " << text;
  }
  return a;
}

TEST(NetworkRulesTest, MatchesIpv4AndIpv6NetworksAndMappedClients) {
  struct Case {
    const char* allow;
    const char* client;
    bool in;
  } cases[] = {
      {"10.0.0.0/8", "10.200.3.4", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"192.168.1.0/25", "192.168.1.127", true},
      {"192.168.1.0/25", "192.168.1.128", false},
      {"192.168.1.7", "192.168.1.7", true},  // one host
      {"192.168.1.7", "192.168.1.8", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {"0.0.0.0/0", "::1", false},  // an IPv4 rule leaves IPv6 out
      {"10.0.0.0/8,fd00::/8", "fd12::1", true},
      {"10.0.0.0/8,fd00::/8", "fe80::1", false},
      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/33", "2001:db8:8000::1", false},
      // An IPv4 client on a dual-stack socket is matched as IPv4.
      {"10.0.0.0/8", "::ffff:10.1.2.3", true},
      {"10.0.0.0/8", "::ffff:11.1.2.3", false},
      {"::ffff:10.0.0.0/104", "10.9.9.9", true},
      {"127.0.0.1", "::1", false},
  };
  for (const Case& c : cases) {
    auto networks = ParseNetworks(c.allow);
    ASSERT_TRUE(networks.ok())
        << c.allow << ": " << networks.status().message();
    EXPECT_EQ(InNetworks(*networks, Address(c.client)), c.in)
        << c.client << " in " << c.allow;
  }
  for (const char* bad :
       {"", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/8,",
        "10.0.0/8", "host.example", "::/129", "10.0.0.0/8x"}) {
    auto networks = ParseNetworks(bad);
    EXPECT_FALSE(networks.ok()) << "'" << bad << "' parsed";
  }
}

// A client writing frames by hand over a plain socket; a receive waits at
// most `kReceiveTimeout`, so that a server that never answers fails the test
// instead of hanging it.
class Peer {
 public:
  static constexpr auto kReceiveTimeout = seconds(10);

  // `receive_buffer` > 0: a small receive buffer, for a client that stops
  // reading.
  explicit Peer(int port, int receive_buffer = 0) {
    fd_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receive_buffer > 0) {
      setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer,
                 sizeof receive_buffer);
    }
    timeval tv{};
    tv.tv_sec = kReceiveTimeout.count();
    setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ =
        connect(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    EXPECT_TRUE(connected_) << "connect to port " << port << " failed";
  }
  ~Peer() { Close(); }
  void Close() { fd_.reset(); }

  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  bool Send(MessageType type, std::string_view payload) {
    return Send(protocol::Frame(type, payload));
  }
  bool Hello() {
    MessageType t;
    std::string p;
    return Send(MessageType::kHello, protocol::EncodeHello({})) &&
           Receive(&t, &p) == "" && t == MessageType::kHelloOk;
  }
  bool Execute(const std::string& sql) {
    return Send(MessageType::kExecute,
                protocol::EncodeExecute({"dsp_temp", sql}));
  }
  bool Call(const std::string& method) {
    return Send(MessageType::kCall, protocol::EncodeCall({method}));
  }

  // "" with the frame, else "<closed>" or "<timeout>".
  std::string Receive(MessageType* type, std::string* payload) {
    char h[protocol::kHeaderSize];
    std::string s = RecvAll(h, sizeof h);
    if (!s.empty()) return s;
    protocol::Header header;
    if (!protocol::ParseHeader(h, protocol::kMaxPayload, &header).ok())
      return "<bad frame>";
    payload->resize(header.size);
    s = RecvAll(payload->data(), header.size);
    if (!s.empty()) return s;
    *type = header.type;
    return "";
  }
  // The message of the next frame when it is an error; else what came.
  std::string Answer() {
    MessageType t;
    std::string p, message;
    std::string s = Receive(&t, &p);
    if (!s.empty()) return s;
    if (t == MessageType::kOk) return "<ok>";
    if (t != MessageType::kError || !protocol::DecodeError(p, &message).ok())
      return "<" + protocol::TypeName(static_cast<uint8_t>(t)) + ">";
    return message;
  }
  // True when something from the server (a frame or the close) is there to
  // be read within `timeout`.
  bool Waiting(milliseconds timeout) {
    pollfd p = {fd_.get(), POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
  }
  // True when the server has closed the connection (nothing more comes).
  bool Closed() {
    char c;
    return RecvAll(&c, 1) == "<closed>";
  }

 private:
  std::string RecvAll(char* p, size_t size) {
    while (size > 0) {
      ssize_t n = recv(fd_.get(), p, size, 0);
      if (n == 0 || (n < 0 && errno == ECONNRESET)) return "<closed>";
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return "<timeout>";
      p += n;
      size -= static_cast<size_t>(n);
    }
    return "";
  }

  ScopedFd fd_;
  bool connected_ = false;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t CountLines(const std::string& text, const std::string& part) {
  std::istringstream in(text);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) n += Contains(line, part);
  return n;
}

// A line of /proc/<pid>/status or /proc/<pid>/limits that starts with
// `key`.
std::string ProcLine(pid_t pid, const std::string& file,
                     const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key, 0) == 0) return line;
  }
  return "";
}

std::unique_ptr<testing::ServerProcess> StartServer(
    const testing::ServerOptions& options) {
  auto s = testing::ServerProcess::Start(options);
  EXPECT_TRUE(s.ok()) << s.status().message();
  return s.ok() ? std::move(s).value() : nullptr;
}

// A write the plug-in's statements could be, that runs for minutes on the
// sample data (every triple of delivery lines) unless it is interrupted.
const char kLongStatement[] =
    "update XSTXSFP1 set FPHAO0=FPHAO0 where DHAO00 in (select A.DHAO00 from "
    "XSTXSFP2 A, XSTXSFP2 B, XSTXSFP2 C where A.SL0000+B.SL0000+C.SL0000 < "
    "-1e15)";
const testing::ServerOptions kLongData = {.sample_documents = 200,
                                          .sample_lines = 10};

// Polls `done` until it holds (true) or `timeout` has passed (false).
bool Eventually(const std::function<bool()>& done, milliseconds timeout) {
  for (const auto until = Clock::now() + timeout; !done();
       std::this_thread::sleep_for(milliseconds(10))) {
    if (Clock::now() > until) return false;
  }
  return true;
}

// True while a statement of kLongStatement's runs on the server's database:
// on SQLite it holds the write lock, so that another writer cannot begin; on
// MariaDB it is among the database's running queries.
bool LongStatementRuns(const testing::ServerProcess& server) {
  if (server.backend() == testing::Backend::kMariadb) {
    const std::string& url = server.db_path();
    return testing::SelectRows(
               url,
               "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE "
               "COMMAND = 'Query' AND ID <> CONNECTION_ID() AND DB = '" +
                   url.substr(url.rfind('/') + 1) +
                   "' AND INFO LIKE '%XSTXSFP2 A, XSTXSFP2 B%'") == "1";
  }
  sqlite3* db = nullptr;
  bool locked = false;
  if (sqlite3_open_v2(server.db_path().c_str(), &db, SQLITE_OPEN_READWRITE,
                      nullptr) == SQLITE_OK) {
    const int rc =
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    locked = rc == SQLITE_BUSY;
    if (rc == SQLITE_OK)
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  return locked;
}

// The limits that the database backend takes part in, on each backend.
class BackendLimitsTest : public ::testing::TestWithParam<testing::Backend> {};

TEST(ListenTest, BeyondLoopbackOnlyWithAllow) {
  auto refused =
      testing::ServerProcess::Start({.serve_flags = {"--listen", "0.0.0.0"}});
  ASSERT_FALSE(refused.ok()) << "served on 0.0.0.0 without --allow";
  EXPECT_TRUE(Contains(refused.status().message(), "needs --allow"))
      << refused.status().message();

  for (const char* bad : {"10.0.0.0/33", ""}) {
    auto s = testing::ServerProcess::Start(
        {.serve_flags = {"--listen", "0.0.0.0", "--allow", bad}});
    ASSERT_FALSE(s.ok()) << "--allow '" << bad << "' taken";
    EXPECT_TRUE(Contains(s.status().message(), "--allow"))
        << s.status().message();
  }

  // With --allow covering loopback, the server listens on all addresses and
  // serves a loopback client.
  auto server = StartServer(
      {.serve_flags = {"--listen", "0.0.0.0", "--allow", "127.0.0.0/8"}});
  ASSERT_NE(server, nullptr);
  Peer p(server->port());
  EXPECT_TRUE(p.Hello());
}

// With --allow the rule is the whole rule: a loopback client outside it is
// closed too, which lets a test play a stranger.
TEST(ListenTest, ConnectionFromOutsideAllowIsClosedUnreadAndLogged) {
  auto server =
      StartServer({.serve_flags = {"--allow", "10.0.0.0/8,fd00::/8"}});
  ASSERT_NE(server, nullptr);
  {
    Peer stranger(server->port());
    stranger.Send(MessageType::kHello, protocol::EncodeHello({}));
    EXPECT_TRUE(stranger.Closed());
  }
  EXPECT_TRUE(server->WaitForLog("refused connection from 127.0.0.1"))
      << server->log();
  EXPECT_EQ(CountLines(server->log(), "refused connection"), 1u)
      << server->log();
  EXPECT_FALSE(Contains(server->log(), "session 1")) << server->log();
}

TEST(LimitsTest, SessionsBeyondMaxSessionsAreRefused) {
  auto server = StartServer({.serve_flags = {"--max-sessions", "2"}});
  ASSERT_NE(server, nullptr);
  auto a = std::make_unique<Peer>(server->port());
  Peer b(server->port());
  ASSERT_TRUE(a->Hello());
  ASSERT_TRUE(b.Hello());
  {
    Peer c(server->port());
    EXPECT_TRUE(Contains(c.Answer(), "--max-sessions")) << server->log();
    EXPECT_TRUE(c.Closed());
  }
  EXPECT_TRUE(server->WaitForLog("2 sessions open (--max-sessions 2)"))
      << server->log();
  // A place freed is taken again.
  a.reset();
  bool served = false;
  for (auto until = Clock::now() + seconds(10); !served && Clock::now() < until;
       std::this_thread::sleep_for(milliseconds(50))) {
    Peer d(server->port());
    served = d.Hello();
  }
  EXPECT_TRUE(served) << server->log();
}

// Whatever a client sends, every line of the log is one the server wrote:
// control bytes in its texts are shown escaped.
TEST(LimitsTest, ClientBytesCannotForgeLogLines) {
  auto server = StartServer({});
  ASSERT_NE(server, nullptr);
  Peer p(server->port());
  ASSERT_TRUE(p.Hello());
  const std::string forged = "skjk-server: session 99 closed after 0 requests";
  ASSERT_TRUE(p.Send(MessageType::kGetRecords,
                     protocol::EncodeGetRecords(
                         {"dsp_x\r\n" + forged + "\\", -1, false, {}})));
  EXPECT_EQ(p.Answer(),
            "GetRecords: unknown provider dsp_x\r\n" + forged + "\\");
  EXPECT_TRUE(
      server->WaitForLog("unknown provider dsp_x\\x0d\\x0a" + forged + "\\\\"))
      << server->log();
  std::istringstream log(server->log());
  for (std::string line; std::getline(log, line);) {
    EXPECT_FALSE(line.starts_with(forged)) << line;
  }
  for (const auto& [raw, shown] :
       std::vector<std::pair<std::string, std::string>>{
           {"a\tb", "a\\x09b"},
           {std::string("nul\0end", 7), "nul\\x00end"},
           {"del\x7f", "del\\x7f"},
           {"卷烟 \\ ok", "卷烟 \\\\ ok"}}) {
    EXPECT_EQ(appserver::LogText(raw), shown) << shown;
  }
}

TEST(LimitsTest, BeforeHelloOnlyAHelloSizedFrameIsRead) {
  auto server = StartServer({});
  ASSERT_NE(server, nullptr);
  for (auto type : {MessageType::kHello, MessageType::kExecute}) {
    Peer p(server->port());
    char header[protocol::kHeaderSize];
    protocol::PutHeader(type, 1u << 20, header);  // 1 MiB announced
    ASSERT_TRUE(p.Send(std::string_view(header, sizeof header)));
    EXPECT_TRUE(Contains(p.Answer(), "more than the 512 allowed before Hello"))
        << server->log();
    EXPECT_TRUE(p.Closed());
  }
  // After Hello a request may be as large as the protocol allows.
  Peer p(server->port());
  ASSERT_TRUE(p.Hello());
  ASSERT_TRUE(p.Execute("update XSTXSFP1 set FPHAO0='" +
                        std::string(500000, 'x') + "' where 1=0"));
  EXPECT_EQ(p.Answer(), "<ok>");
}

// Sessions that go quiet are ended with a word why; a transaction is rolled
// back first.
TEST(LimitsTest, IdleSessionsEnd) {
  auto server =
      StartServer({.sample_documents = 5,
                   .serve_flags = {"--idle-timeout", "2",
                                   "--transaction-idle-timeout", "1"}});
  ASSERT_NE(server, nullptr);
  struct Case {
    const char* name;
    std::function<bool(Peer&)> start;
    const char* error;
  } cases[] = {
      {"silent before Hello", [](Peer&) { return true; },
       "no Hello within 2 s"},
      // A byte now and then does not keep a place: the greeting's time runs
      // from the connection.
      {"dripping a Hello",
       [](Peer& p) {
         const std::string hello =
             protocol::Frame(MessageType::kHello, protocol::EncodeHello({}));
         for (char c : hello) {
           if (!p.Send(std::string_view(&c, 1))) return false;
           if (p.Waiting(milliseconds(500))) return true;
         }
         return true;
       },
       "no Hello within 2 s"},
      {"silent after Hello", [](Peer& p) { return p.Hello(); },
       "no request for 2 s (--idle-timeout)"},
      {"stalled in a frame",
       [](Peer& p) {
         return p.Hello() && p.Send(protocol::Frame(MessageType::kCall,
                                                    protocol::EncodeCall(
                                                        {"CustObjdbCommit"}))
                                        .substr(0, 7));
       },
       "a request stalled for 2 s (--idle-timeout)"},
      {"silent in a transaction",
       [](Peer& p) {
         return p.Hello() && p.Call("CustObjdbTranStart") &&
                p.Answer() == "<ok>" &&
                p.Execute("update XSTXSFP1 set FPHAO0='gone'") &&
                p.Answer() == "<ok>";
       },
       "idle for 1 s inside a transaction (--transaction-idle-timeout); the "
       "transaction was rolled back"},
  };
  for (const Case& c : cases) {
    Peer p(server->port());
    ASSERT_TRUE(c.start(p)) << c.name;
    EXPECT_EQ(p.Answer(), std::string("session ended: ") + c.error) << c.name;
    EXPECT_TRUE(p.Closed()) << c.name;
  }
  EXPECT_EQ(server->Select("SELECT COUNT(*) FROM XSTXSFP1 WHERE FPHAO0='gone'"),
            "0");
  EXPECT_TRUE(server->WaitForLog("idle for 1 s inside a transaction"))
      << server->log();
}

// A session that sits in its transaction holds the write lock only for the
// transaction idle time: another writer waiting for it goes on.
TEST_P(BackendLimitsTest, TransactionIdleTimeoutLetsAnotherWriterGoOn) {
  SKJK_REQUIRE_BACKEND(GetParam());
  auto server =
      StartServer({.backend = GetParam(),
                   .sample_documents = 5,
                   .serve_flags = {"--transaction-idle-timeout", "1"}});
  ASSERT_NE(server, nullptr);
  Connection idle, writer;
  idle.set_machine_name(server->machine());
  writer.set_machine_name(server->machine());
  ASSERT_TRUE(idle.Open().ok());
  ASSERT_TRUE(writer.Open().ok());
  ASSERT_TRUE(idle.Call("CustObjdbTranStart").ok());
  ASSERT_TRUE(idle.Execute("update XSTXSFP1 set FPHAO0='idle'").ok());
  // Waits for the lock (up to 5 s) and gets it once the idle one is gone.
  Status s = writer.Call("CustObjdbTranStart");
  ASSERT_TRUE(s.ok()) << s.message() << "\n" << server->log();
  ASSERT_TRUE(writer.Execute("update XSTXSFP1 set FPHAO0='writer'").ok());
  ASSERT_TRUE(writer.Call("CustObjdbCommit").ok());
  EXPECT_EQ(server->Select("SELECT DISTINCT FPHAO0 FROM XSTXSFP1"), "writer");
  // The idle client learns why at its next request.
  s = idle.Call("CustObjdbCommit");
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(server->Select("SELECT DISTINCT FPHAO0 FROM XSTXSFP1"), "writer");
}

TEST_P(BackendLimitsTest, StatementTimeoutInterruptsAndTheSessionGoesOn) {
  SKJK_REQUIRE_BACKEND(GetParam());
  testing::ServerOptions o = kLongData;
  o.backend = GetParam();
  o.serve_flags = {"--statement-timeout", "1"};
  auto server = StartServer(o);
  ASSERT_NE(server, nullptr);
  Peer p(server->port());
  ASSERT_TRUE(p.Hello());
  ASSERT_TRUE(p.Execute(kLongStatement));
  EXPECT_TRUE(Contains(p.Answer(),
                       "statement interrupted: it ran longer than 1 s "
                       "(--statement-timeout)"));
  // Inside a transaction the interrupted write takes the transaction along.
  ASSERT_TRUE(p.Call("CustObjdbTranStart"));
  EXPECT_EQ(p.Answer(), "<ok>");
  ASSERT_TRUE(p.Execute(kLongStatement));
  EXPECT_TRUE(Contains(p.Answer(), "; the transaction was rolled back"));
  ASSERT_TRUE(p.Call("CustObjdbCommit"));
  EXPECT_TRUE(Contains(p.Answer(), "no transaction is open in this session"));
  EXPECT_EQ(CountLines(server->log(), "statement interrupted"), 2u)
      << server->log();
}

// A statement stops when its client leaves, and SIGTERM stops the server
// promptly whatever runs.
TEST_P(BackendLimitsTest, LongStatementEndsWithItsClientAndWithTheServer) {
  SKJK_REQUIRE_BACKEND(GetParam());
  testing::ServerOptions o = kLongData;
  o.backend = GetParam();
  auto server = StartServer(o);
  ASSERT_NE(server, nullptr);
  {
    Peer gone(server->port());
    ASSERT_TRUE(gone.Hello());
    ASSERT_TRUE(gone.Execute(kLongStatement));
    ASSERT_TRUE(
        Eventually([&] { return LongStatementRuns(*server); }, seconds(10)))
        << server->log();
  }
  EXPECT_TRUE(server->WaitForLog("client left while its request ran", 10000))
      << server->log();
  // The write lock is free again.
  Connection c;
  c.set_machine_name(server->machine());
  ASSERT_TRUE(c.Open().ok());
  Status s = c.Call("CustObjdbTranStart");
  ASSERT_TRUE(s.ok()) << s.message();
  ASSERT_TRUE(c.Call("CustObjdbRollback").ok());

  Peer running(server->port());
  ASSERT_TRUE(running.Hello());
  ASSERT_TRUE(running.Execute(kLongStatement));
  ASSERT_TRUE(
      Eventually([&] { return LongStatementRuns(*server); }, seconds(10)))
      << server->log();
  // Generous against the 2 s the server needs at most on an idle machine.
  s = server->Stop(seconds(5));
  EXPECT_TRUE(s.ok()) << s.message();
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendLimitsTest,
                         ::testing::ValuesIn(testing::kBackends),
                         testing::BackendParamName);

TEST(LimitsTest, AStatementCannotMakeAHugeValue) {
  auto server = StartServer({.sample_documents = 5});
  ASSERT_NE(server, nullptr);
  Peer p(server->port());
  ASSERT_TRUE(p.Hello());
  // A function that makes a large value, and plain concatenation doubling a
  // text: refused by the rule on the functions a client may call or by the
  // length limit; either way not run to the end.
  for (const char* sql :
       {"update XSTXSFP1 set FPHAO0=FPHAO0 where "
        "length(randomblob(900000000)) > 0",
        "update XSTXSFP1 set FPHAO0=FPHAO0 where (with recursive r(s) as "
        "(select 'x' union all select s||s from r where length(s) < "
        "900000000) select max(length(s)) from r) > 0"}) {
    ASSERT_TRUE(p.Execute(sql));
    const std::string answer = p.Answer();
    EXPECT_TRUE(Contains(answer, "SQL error") ||
                Contains(answer, "statement refused"))
        << answer;
  }
  // The server never held the 900 MB.
  std::string peak = ProcLine(server->pid(), "status", "VmHWM:");
  ASSERT_FALSE(peak.empty());
  EXPECT_LT(std::stol(peak.substr(6)), 200 * 1024) << peak;
  // The session goes on.
  ASSERT_TRUE(p.Call("CustObjdbRollback"));
  EXPECT_EQ(p.Answer(), "<ok>");
}

// The length limit holds for every statement of a session, the server's
// own queries too.
TEST(LimitsTest, ValueLengthIsBoundedInEverySession) {
  auto server = StartServer({});  // for its directory and database file
  ASSERT_NE(server, nullptr);
  ASSERT_TRUE(server->Stop().ok());
  auto db = appserver::OpenSqliteDatabase(server->db_path());
  ASSERT_TRUE(db.ok()) << db.status().message();
  auto session = (*db)->OpenSession();
  ASSERT_TRUE(session.ok()) << session.status().message();
  auto st = (*session)->Prepare("SELECT length(randomblob(900000000))");
  ASSERT_TRUE(st.ok()) << st.status().message();
  auto row = (*st)->Step();
  ASSERT_FALSE(row.ok());
  EXPECT_TRUE(Contains(row.status().message(), "too big"))
      << row.status().message();
  st = (*session)->Prepare("SELECT length(zeroblob(16000000))");
  ASSERT_TRUE(st.ok()) << st.status().message();
  row = (*st)->Step();
  EXPECT_TRUE(row.ok() && *row) << "a value under the limit is refused";
}

// A client that asks for records and reads none loses its session (and so
// its read of the database) after the idle time. The answer (about 15 MB)
// is far more than the socket buffers hold.
TEST(LimitsTest, AClientThatStopsReadingLosesItsSession) {
  auto server = StartServer({.sample_documents = 20000,
                             .sample_lines = 10,
                             .serve_flags = {"--idle-timeout", "1"}});
  ASSERT_NE(server, nullptr);
  // The reader's view then includes frames of the log.
  const char kWrite[] =
      "update XSTXSFP1 set FPHAO0='w' where DHAO00 in (select DHAO00 from "
      "XSTXSFP1 limit 1)";
  Connection writer;
  writer.set_machine_name(server->machine());
  ASSERT_TRUE(writer.Open().ok());
  ASSERT_TRUE(writer.Execute(kWrite).ok());
  Peer p(server->port(), /*receive_buffer=*/4096);
  ASSERT_TRUE(p.Hello());
  ASSERT_TRUE(p.Send(
      MessageType::kGetRecords,
      protocol::EncodeGetRecords({.provider = "dsp_bbsk1",
                                  .packet_size = -1,
                                  .with_layout = true,
                                  .params = {"1900-01-01", "2999-12-31"}})));
  EXPECT_TRUE(server->WaitForLog(
      "the client read nothing of the answer for 1 s (--idle-timeout)", 15000))
      << server->log();
  // Its read is gone although it never read the answer: a write goes into
  // the log, and a checkpoint can take the whole log back (a reader still
  // inside it would keep it).
  // (The first writer's session has idled out meanwhile.)
  Connection second_writer;
  second_writer.set_machine_name(server->machine());
  ASSERT_TRUE(second_writer.Open().ok());
  ASSERT_TRUE(second_writer.Execute(kWrite).ok());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(server->db_path().c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &st,
                               nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 0) << "checkpoint blocked";
  EXPECT_EQ(sqlite3_column_int(st, 1), 0) << "log frames left";
  sqlite3_finalize(st);
  sqlite3_close(db);
  // What was sent arrives, then the connection ends.
  MessageType t;
  std::string payload, end;
  while ((end = p.Receive(&t, &payload)).empty()) {
  }
  EXPECT_EQ(end, "<closed>");
}

// The failures each report of "accept failed" after the first folds in
// ("N more failures since the last report"); -1 for a report without.
std::vector<int> FoldedAcceptFailures(const std::string& log) {
  std::vector<int> folded;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (!Contains(line, "accept failed")) continue;
    const size_t end = line.find(" more failures since the last report");
    const size_t start = line.rfind(", ", end);
    folded.push_back(end == std::string::npos || start == std::string::npos
                         ? -1
                         : std::atoi(line.c_str() + start + 2));
  }
  if (!folded.empty()) folded.erase(folded.begin());
  return folded;
}

// Out of descriptors the server neither spins nor floods its log, and
// serves again once descriptors are free. It raises its soft limit to the
// hard one at start. While the connections wait, the server tries again
// after a pause (100 ms) and reports at most once a second, folding the
// failures between into the next report: each report after the first
// folds in some (a report per failure would fold in none) but not many (an
// accept loop without its pause would fold in thousands; 20 is twice what
// the pauses allow in a second, whatever the load, since a loaded machine
// only makes the tries rarer).
TEST(LimitsTest, OutOfDescriptorsTheAcceptLoopBacksOff) {
  auto server = StartServer(
      {.serve_flags = {"--max-sessions", "1000"}, .descriptor_limit = 48});
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(
      Contains(ProcLine(server->pid(), "limits", "Max open files"), " 48 "))
      << ProcLine(server->pid(), "limits", "Max open files");
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 60; ++i)
    peers.push_back(std::make_unique<Peer>(server->port()));
  ASSERT_TRUE(Eventually(
      [&] { return CountLines(server->log(), "accept failed") >= 3; },
      seconds(20)))
      << server->log().substr(0, 4000);
  ASSERT_TRUE(Contains(server->log(), "Too many open files"))
      << server->log().substr(0, 4000);
  std::string log = server->log();
  log.resize(log.rfind('\n') + 1);  // whole lines only
  for (int folded : FoldedAcceptFailures(log)) {
    EXPECT_GE(folded, 1) << log.substr(0, 4000);
    EXPECT_LE(folded, 20) << log.substr(0, 4000);
  }
  peers.clear();
  bool served = false;
  for (auto until = Clock::now() + seconds(15); !served && Clock::now() < until;
       std::this_thread::sleep_for(milliseconds(100))) {
    Peer p(server->port());
    served = p.Hello();
  }
  EXPECT_TRUE(served) << server->log().substr(0, 4000);
}

}  // namespace
}  // namespace skjk
