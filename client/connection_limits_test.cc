// The connection's time and size limits against hostile or stalled servers:
// a stand-in server on a loopback port runs a script of its own on the one
// connection it accepts.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "platform/socket.h"
#include "testing/scripted_server.h"
#include "text/gbk.h"
#include "wire/protocol.h"

namespace skjk {
namespace {

using namespace std::chrono_literals;
using protocol::Frame;
using protocol::MessageType;
using text::literals::operator""_gbk;

using testing::ScriptedServer;

const std::string& HelloOk() {
  static const std::string frame =
      Frame(MessageType::kHelloOk,
            protocol::EncodeHelloOk(protocol::kVersion, "skjk-server"));
  return frame;
}

// Short limits, so that a test waits fractions of a second; the checks on
// time leave generous margins on a busy machine.
Connection::Limits ShortLimits() {
  Connection::Limits limits;
  limits.connect_timeout = 300ms;
  limits.receive_timeout = 300ms;
  return limits;
}

constexpr auto kGenerous = 10s;

class ConnectionTimeoutTest : public ::testing::Test {
 protected:
  // Runs `request` on a connection to `server` with short limits; returns
  // its status and checks that it came well before kGenerous.
  Status Timed(const ScriptedServer& server,
               const std::function<Status(Connection&)>& request) {
    conn_.set_machine_name(server.machine());
    conn_.set_limits(ShortLimits());
    auto start = std::chrono::steady_clock::now();
    Status s = request(conn_);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGenerous);
    return s;
  }

  Connection conn_;
};

// Fills the queue of a listener made with backlog 0 (and no script) with
// one connection nobody accepts: the system then leaves further
// connections waiting for the handshake. Returns the filler's descriptor,
// to be closed by the caller, or -1.
int FillQueue(const ScriptedServer& server) {
  int filler = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(server.port()));
  if (connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ADD_FAILURE() << "cannot fill the queue: " << strerror(errno);
    close(filler);
    return -1;
  }
  return filler;
}

TEST_F(ConnectionTimeoutTest, AServerThatDoesNotAcceptTimesOut) {
  ScriptedServer server(nullptr, /*backlog=*/0);
  const int filler = FillQueue(server);
  ASSERT_GE(filler, 0);
  Status s = Timed(server, [](Connection& c) { return c.Open(); });
  close(filler);
  EXPECT_TRUE(s.IsLinkLost()) << s.message();
  EXPECT_EQ(s.message(), "在 0.3 秒内未能连接到应用服务器 127.0.0.1:"_gbk +
                             std::to_string(server.port()));
  EXPECT_FALSE(conn_.connected());
}

TEST_F(ConnectionTimeoutTest, AServerThatNeverAnswersHelloTimesOut) {
  ScriptedServer server([](int fd) {
    if (ScriptedServer::ReadFrame(fd))
      ScriptedServer::AwaitClose(fd, kGenerous);
  });
  Status s = Timed(server, [](Connection& c) { return c.Open(); });
  EXPECT_TRUE(s.IsLinkLost()) << s.message();
  EXPECT_EQ(s.message(), "应用服务器在 0.3 秒内没有应答"_gbk);
  EXPECT_FALSE(conn_.connected());
}

// After the greeting, the answer to a statement comes too late: in one
// piece after the limit, or byte by byte so that each byte is in time but
// the frame as a whole is not. Either way the session is dropped, so that
// a late answer is never taken for the next request's.
TEST_F(ConnectionTimeoutTest, AnswersTooSlowTimeOutAndDropTheSession) {
  const std::string ok = Frame(MessageType::kOk, protocol::EncodeOk(1));
  struct Case {
    const char* name;
    std::function<void(int fd)> answer;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"after the limit",
            [&ok](int fd) {
              ScriptedServer::AwaitClose(fd, 1500ms);
              ScriptedServer::Send(fd, ok);
            }},
           {"a byte at a time",
            [&ok](int fd) {
              for (char b : ok) {
                if (!ScriptedServer::Send(fd, std::string(1, b))) return;
                std::this_thread::sleep_for(100ms);
              }
            }},
       }) {
    SCOPED_TRACE(c.name);
    ScriptedServer server([&c](int fd) {
      if (!ScriptedServer::ReadFrame(fd) ||
          !ScriptedServer::Send(fd, HelloOk()) ||
          !ScriptedServer::ReadFrame(fd)) {
        return;
      }
      c.answer(fd);
      ScriptedServer::AwaitClose(fd, kGenerous);
    });
    Status s = Timed(server, [](Connection& conn) {
      return conn.Execute("update T set A=1");
    });
    EXPECT_TRUE(s.IsLinkLost()) << s.message();
    EXPECT_EQ(s.message(), "应用服务器在 0.3 秒内没有应答"_gbk);
    EXPECT_FALSE(conn_.connected());
    conn_.Close();
  }
}

// The connect limit and the receive limit far apart, either one the short
// one: the wait ends at the limit of what the connection waits for, its
// message names that limit, and it comes well before the other one.
TEST(ConnectionLimitsApartTest, EachWaitEndsAtItsOwnLimit) {
  constexpr auto kShort = 200ms;
  constexpr auto kLong = 30s;
  enum class Server {
    kNotAccepting,      // its queue full: the connection is never made
    kSilent,            // accepts, never answers the greeting
    kSilentAfterHello,  // greets, never answers the statement
  };
  struct Case {
    const char* name;
    Server server;
    std::chrono::milliseconds connect;
    std::chrono::milliseconds receive;
    bool connect_message;  // else the receive limit's message
  };
  for (const Case& c : std::initializer_list<Case>{
           {"not accepting, connect short", Server::kNotAccepting, kShort,
            kLong, true},
           {"silent, receive short", Server::kSilent, kLong, kShort, false},
           {"silent after the greeting, receive short",
            Server::kSilentAfterHello, kLong, kShort, false},
       }) {
    SCOPED_TRACE(c.name);
    // The script holds the connection open past the long limit, so that
    // only the client's own limit ends the wait.
    ScriptedServer::Script script;
    if (c.server == Server::kSilent) {
      script = [&](int fd) {
        if (ScriptedServer::ReadFrame(fd))
          ScriptedServer::AwaitClose(fd, 2 * kLong);
      };
    } else if (c.server == Server::kSilentAfterHello) {
      script = [&](int fd) {
        if (ScriptedServer::ReadFrame(fd) &&
            ScriptedServer::Send(fd, HelloOk()) &&
            ScriptedServer::ReadFrame(fd)) {
          ScriptedServer::AwaitClose(fd, 2 * kLong);
        }
      };
    }
    ScriptedServer server(
        script, c.server == Server::kNotAccepting ? /*backlog=*/0 : 1);
    const int filler =
        c.server == Server::kNotAccepting ? FillQueue(server) : -1;
    if (c.server == Server::kNotAccepting) {
      ASSERT_GE(filler, 0);
    }

    Connection conn;
    conn.set_machine_name(server.machine());
    Connection::Limits limits;
    limits.connect_timeout = c.connect;
    limits.receive_timeout = c.receive;
    conn.set_limits(limits);
    const auto start = std::chrono::steady_clock::now();
    Status s = c.server == Server::kSilentAfterHello
                   ? conn.Execute("update T set A=1")
                   : conn.Open();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (filler >= 0) close(filler);

    EXPECT_TRUE(s.IsLinkLost()) << s.message();
    EXPECT_EQ(s.message(),
              c.connect_message
                  ? "在 0.2 秒内未能连接到应用服务器 127.0.0.1:"_gbk +
                        std::to_string(server.port())
                  : "应用服务器在 0.2 秒内没有应答"_gbk);
    EXPECT_GE(elapsed, kShort);
    EXPECT_LT(elapsed, kLong);
    EXPECT_FALSE(conn.connected());
  }
}

// Largest memory this process has held, in bytes.
size_t PeakMemory() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

// Record streams too large for the client: each is refused with the limit
// it broke, the session is dropped, and memory stays near the frames' own
// size (the decoded rows of a 16 MiB chunk of one-byte rows alone would take
// over a gigabyte).
TEST(ConnectionSizeTest, AnswersTooLargeAreRefusedWithoutTakingTheirMemory) {
  const std::vector<FieldDef> layout = {{"BEIZHU", FieldType::kText, 40, {}}};
  std::string header_payload;
  {
    protocol::Writer w(&header_payload);
    protocol::EncodeLayout(layout, &w);
  }
  const std::string records_header =
      Frame(MessageType::kRecordsHeader, header_payload);
  const size_t max_chunk = protocol::kMaxPayload;

  // A chunk of one-byte (null) rows filling the largest frame.
  std::string null_rows;
  {
    protocol::Writer w(&null_rows);
    uint64_t n = max_chunk - 4;
    w.Varint(n);
    null_rows.append(n, '\0');
  }
  // A chunk of 15 texts of 1 MiB each.
  std::string texts;
  {
    protocol::Writer w(&texts);
    w.Varint(15);
    for (int i = 0; i < 15; ++i)
      protocol::PutText(&w, std::string(1 << 20, 'x'));
  }
  // A small, valid chunk.
  std::string small;
  {
    protocol::Writer w(&small);
    w.Varint(1);
    protocol::PutText(&w, "ok");
  }

  struct Case {
    const char* name;
    const std::string* chunk;  // sent three times, then RecordsEnd
    uint32_t max_frame_bytes;
    size_t max_answer_bytes;
    std::string message;  // empty: the answer is taken
  };
  const Connection::Limits defaults;
  for (const Case& c : std::initializer_list<Case>{
           {"three 16 MiB chunks of one-byte rows", &null_rows,
            defaults.max_frame_bytes, size_t{256} << 20,
            "应用服务器的应答过大：一次应答超过本机接受的 256 MB，已拒收"_gbk},
           {"three chunks of 15 MiB texts, beyond 20 MiB in all", &texts,
            defaults.max_frame_bytes, 20u << 20,
            "应用服务器的应答过大：一次应答超过本机接受的 20 MB，已拒收"_gbk},
           {"a chunk larger than one frame may be", &texts, 1u << 20,
            defaults.max_answer_bytes,
            "应用服务器的应答过大：一个数据帧有 "_gbk +
                std::to_string(texts.size()) +
                " 字节，本机只接受 1048576 字节，已拒收"_gbk},
           {"small chunks within the limits", &small, 1u << 20, 1u << 20, ""},
       }) {
    SCOPED_TRACE(c.name);
    const std::string chunk = Frame(MessageType::kRecordsChunk, *c.chunk);
    ScriptedServer server([&](int fd) {
      if (!ScriptedServer::ReadFrame(fd) ||
          !ScriptedServer::Send(fd, HelloOk()) ||
          !ScriptedServer::ReadFrame(fd) ||
          !ScriptedServer::Send(fd, records_header)) {
        return;
      }
      for (int i = 0; i < 3; ++i) {
        if (!ScriptedServer::Send(fd, chunk)) return;
      }
      ScriptedServer::Send(fd, Frame(MessageType::kRecordsEnd,
                                     protocol::EncodeRecordsEnd(3, true)));
      ScriptedServer::AwaitClose(fd, kGenerous);
    });
    Connection conn;
    conn.set_machine_name(server.machine());
    Connection::Limits limits;
    limits.receive_timeout = kGenerous;
    limits.max_frame_bytes = c.max_frame_bytes;
    limits.max_answer_bytes = c.max_answer_bytes;
    conn.set_limits(limits);
    size_t before = PeakMemory();
    Packet packet;
    Status s = conn.GetRecords("dsp_bbsk1", Connection::kAllRecords, true,
                               {"2024-01-01"}, &packet);
    if (c.message.empty()) {
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(packet.rows.size(), 3u);
      EXPECT_TRUE(conn.connected());
      continue;
    }
    EXPECT_TRUE(s.IsLinkLost()) << s.message();
    EXPECT_EQ(s.message(), c.message);
    EXPECT_FALSE(conn.connected());
    EXPECT_TRUE(packet.rows.empty());
    EXPECT_LT(PeakMemory() - before, size_t{160} << 20);
  }
}

}  // namespace
}  // namespace skjk

namespace skjk {
namespace {

// What happened on the client's thread during a request, in order: 'h'
// for a run of the window's hook, 'c' for a chunk taken in. The scripted
// server waits on the hook's runs.
class Events {
 public:
  void Add(char event) {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(event);
    if (event == 'h') ++runs_;
    changed_.notify_all();
  }
  // Waits until the hook has run `n` times in all; false when it has not
  // within kGenerous.
  bool AwaitRuns(int n) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, kGenerous, [&] { return runs_ >= n; });
  }
  int runs() {
    std::lock_guard<std::mutex> lock(mu_);
    return runs_;
  }
  std::string events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  std::string events_;
  int runs_ = 0;
};

// Takes a record stream, each chunk with work that outlasts one wait slice
// of the connection (as storing a large chunk may); fails at chunk
// `fail_at`.
class SlowReceiver : public RecordReceiver {
 public:
  explicit SlowReceiver(Events* events) : events_(events) {}
  Status Layout(std::vector<FieldDef>) override { return Status::OK(); }
  Status Chunk(std::string_view) override {
    events_->Add('c');
    const auto done = std::chrono::steady_clock::now() + Socket::kWaitSlice +
                      std::chrono::milliseconds(1);
    while (std::chrono::steady_clock::now() < done) {
    }
    if (++chunks == fail_at) return Status::Error("no room for more");
    return Status::OK();
  }
  Status Records(Rows) override { return Status::OK(); }
  int chunks = 0;
  int fail_at = -1;

 private:
  Events* events_;
};

// While a record stream is awaited the window's hook runs in every wait
// slice: the server answers only once it has run kRunsBeforeAnswer times,
// which at slices of a few tens of milliseconds comes well within the
// connection's receive timeout (and never with slices of 150 ms or more).
// While the chunks are taken in, all of them already there, it runs between
// any two that take longer than a slice. Once the request has returned it
// no longer runs: a later statement whose answer never comes waits out the
// receive timeout, many slices, without it. A receiver that gives up ends
// the answer with its own failure and the session.
TEST(ConnectionWaitingTest, HookRunsWhileAnAnswerIsAwaitedAndTakenIn) {
  constexpr int kRunsBeforeAnswer = 20;
  Connection::Limits limits;
  limits.receive_timeout = 3s;
  const std::vector<FieldDef> layout = {{"BEIZHU", FieldType::kText, 40, {}}};
  std::string header;
  {
    protocol::Writer w(&header);
    protocol::EncodeLayout(layout, &w);
  }
  std::string chunk;
  {
    protocol::Writer w(&chunk);
    w.Varint(1);
    protocol::PutText(&w, "ok");
  }
  std::string stream = Frame(MessageType::kRecordsHeader, header);
  for (int i = 0; i < 4; ++i) {
    stream += Frame(MessageType::kRecordsChunk, chunk);
  }
  stream +=
      Frame(MessageType::kRecordsEnd, protocol::EncodeRecordsEnd(4, true));
  for (int fail_at : {-1, 2}) {
    SCOPED_TRACE(fail_at);
    Events events;
    bool awaited = false;
    std::optional<ScriptedServer> server;
    server.emplace([&](int fd) {
      if (!ScriptedServer::ReadFrame(fd) ||
          !ScriptedServer::Send(fd, HelloOk()) ||
          !ScriptedServer::ReadFrame(fd)) {
        return;
      }
      awaited = events.AwaitRuns(kRunsBeforeAnswer);
      if (!ScriptedServer::Send(fd, stream)) return;
      // The statement after the stream is never answered.
      if (ScriptedServer::ReadFrame(fd)) {
        ScriptedServer::AwaitClose(fd, kGenerous);
      }
    });
    Connection conn;
    conn.set_machine_name(server->machine());
    conn.set_limits(limits);
    conn.set_waiting([&] { events.Add('h'); });
    SlowReceiver receiver(&events);
    receiver.fail_at = fail_at;
    Status s = conn.GetRecords("dsp_bbsk1", Connection::kAllRecords, true,
                               {"2024-01-01"}, &receiver);
    const std::string seen = events.events();
    // The hook ran before anything of the answer came, and at least once
    // between any two chunks.
    const size_t first_chunk = seen.find('c');
    EXPECT_TRUE(first_chunk != std::string::npos &&
                first_chunk >= static_cast<size_t>(kRunsBeforeAnswer))
        << seen;
    EXPECT_EQ(seen.find("cc"), std::string::npos) << seen;
    if (fail_at < 0) {
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(receiver.chunks, 4);
      EXPECT_TRUE(conn.connected());
      const int after = events.runs();
      Status late = conn.Execute("update T set A=1");
      EXPECT_TRUE(late.IsLinkLost()) << late.message();
      EXPECT_EQ(events.runs(), after) << "the hook ran after its request";
    } else {
      EXPECT_EQ(s.message(), "no room for more");
      EXPECT_FALSE(s.IsLinkLost());
      EXPECT_EQ(receiver.chunks, 2);
      EXPECT_FALSE(conn.connected());
    }
    conn.Close();
    server.reset();  // the script has ended
    EXPECT_TRUE(awaited) << "the hook ran " << events.runs()
                         << " times while the answer was awaited";
  }
}

}  // namespace
}  // namespace skjk
