// skjk-soak: good and hostile clients against one skjk-server on loopback
// for a bounded time, with kill -9 of clients and of the server in the
// middle of commits, then a check of the database (make soak).
//
//   skjk-soak [--seconds S] [--good N] [--hostile N] [--client-kills N]
//             [--server-kills N] [--dir DIR] [--server PATH]
//
// Good clients (processes of their own) write back invoice numbers: each
// owns three head-office documents and sets FPBBH0 and FPHAO0 of all three
// to a new token in one transaction (the statement the invoice write-back
// sends), journalling "try <seq>" before it begins and "ack <seq>" once the
// commit is confirmed. Hostile clients connect again and again and send
// garbage frames, headers announcing huge frames, begin a transaction and
// die in it, or ask for all records and read them slowly. The server is
// killed and restarted on the same database and port.
//
// At the end the database must hold, for every good client, one token on
// all three documents, at least as new as its last acknowledged commit and
// no newer than its last try; no write of a client that died inside its
// transaction may be there. The exit status is 0 only then.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client/transaction.h"
#include "wire/protocol.h"

namespace skjk::soak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The processes this run started (the server and the clients).
std::vector<pid_t> children;

// A failure of the run itself: ends it and everything it started.
[[noreturn]] void Die(const std::string& message) {
  for (pid_t p : children) kill(p, SIGKILL);
  std::fprintf(stderr, "skjk-soak: %s\n", message.c_str());
  std::exit(2);
}

std::string Token(char kind, int id, long seq) {
  return std::string(1, kind) + std::to_string(id) + "n" + std::to_string(seq);
}

// --- good client -----------------------------------------------------------

// The last "try" and "ack" numbers of a journal.
struct Journal {
  long tried = 0;
  long acked = 0;
  long tries = 0;
  long acks = 0;
};

Journal ReadJournal(const std::string& path) {
  Journal j;
  std::ifstream in(path);
  std::string word;
  long seq;
  while (in >> word >> seq) {
    if (word == "try") {
      j.tried = std::max(j.tried, seq);
      ++j.tries;
    } else if (word == "ack") {
      j.acked = std::max(j.acked, seq);
      ++j.acks;
    }
  }
  return j;
}

void Append(int fd, const std::string& line) {
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    Die("cannot write the journal");
}

// Writes back until killed or `seconds` are over.
int GoodClient(const std::string& machine, int id,
               const std::vector<std::string>& docs, const std::string& journal,
               int seconds) {
  long seq = ReadJournal(journal).tried;
  int fd = open(journal.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) Die("cannot open " + journal);
  Connection conn;
  conn.set_machine_name(machine);
  Connection::Limits limits;
  limits.connect_timeout = 2s;
  limits.receive_timeout = 10s;
  conn.set_limits(limits);
  auto end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    ++seq;
    Append(fd, "try " + std::to_string(seq) + "\n");
    std::string token = Token('g', id, seq);
    Transaction t(&conn);
    Status s = t.Begin();
    for (size_t i = 0; s.ok() && i < docs.size(); ++i) {
      s = t.Execute("update XSTXSFP1 set FPBBH0='" + token + "',FPHAO0='" +
                    token + "' where DHAO00=" + docs[i]);
    }
    if (s.ok()) s = t.Commit();
    if (s.ok()) {
      Append(fd, "ack " + std::to_string(seq) + "\n");
      std::this_thread::sleep_for(2ms);  // leaves the others some air
    } else {
      std::this_thread::sleep_for(50ms);  // the server may be restarting
    }
  }
  return 0;
}

// --- hostile clients -------------------------------------------------------

int Dial(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval t{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
  return fd;
}

void SendBytes(int fd, const std::string& b) {
  (void)!send(fd, b.data(), b.size(), MSG_NOSIGNAL);
}

const std::string& HelloFrame() {
  static const std::string f = protocol::Frame(
      protocol::MessageType::kHello, protocol::EncodeHello(protocol::Hello{}));
  return f;
}

// Reads whatever comes for up to `limit`, `chunk` bytes at a time with
// `pause` between reads.
void Drain(int fd, std::chrono::milliseconds limit, size_t chunk,
           std::chrono::milliseconds pause) {
  auto end = Clock::now() + limit;
  std::string buffer(chunk, '\0');
  while (Clock::now() < end) {
    if (recv(fd, buffer.data(), buffer.size(), 0) <= 0) return;
    std::this_thread::sleep_for(pause);
  }
}

// One hostile act of `kind`; vanish ends the process inside a transaction.
void HostileAct(int kind, int port, int id, const std::string& doc,
                std::mt19937& rng) {
  int fd = Dial(port);
  if (fd < 0) return;
  switch (kind) {
    case 0: {  // garbage, before and after the greeting
      std::string junk(rng() % 4096 + 1, '\0');
      for (char& c : junk) c = static_cast<char>(rng());
      if (rng() % 2) {
        SendBytes(fd, HelloFrame());
        Drain(fd, 200ms, 4096, 0ms);
      }
      SendBytes(fd, junk);
      Drain(fd, 500ms, 4096, 0ms);
      break;
    }
    case 1: {  // headers announcing huge frames
      char header[protocol::kHeaderSize];
      if (rng() % 2) SendBytes(fd, HelloFrame());
      protocol::PutHeader(protocol::MessageType::kExecute,
                          0xFFFFFFF0u - rng() % 1000, header);
      SendBytes(fd, std::string(header, sizeof header));
      SendBytes(fd, std::string(rng() % 65536, 'x'));
      Drain(fd, 1s, 4096, 0ms);
      break;
    }
    case 2: {  // a transaction, then death in the middle of it
      close(fd);
      Connection conn;
      conn.set_machine_name("127.0.0.1:" + std::to_string(port));
      Connection::Limits limits;
      limits.connect_timeout = 2s;
      limits.receive_timeout = 5s;
      conn.set_limits(limits);
      Transaction t(&conn);
      std::string token = Token('v', id, static_cast<long>(rng() % 1000000));
      if (t.Begin().ok() &&
          t.Execute("update XSTXSFP1 set FPBBH0='" + token + "',FPHAO0='" +
                    token + "' where DHAO00=" + doc)
              .ok()) {
        raise(SIGKILL);  // before the commit leaves
      }
      return;
    }
    default: {  // asks for every record and reads slowly
      int small = 4096;
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
      SendBytes(fd, HelloFrame());
      protocol::GetRecords m;
      m.provider = "dsp_bbsk1";
      m.with_layout = true;
      m.params = {"1900-01-01", "2099-12-31"};
      SendBytes(fd, protocol::Frame(protocol::MessageType::kGetRecords,
                                    protocol::EncodeGetRecords(m)));
      Drain(fd, std::chrono::milliseconds(500 + rng() % 2500), 64, 100ms);
      break;
    }
  }
  close(fd);
}

int HostileClient(int port, int id, int kind, const std::string& doc,
                  int seconds) {
  std::mt19937 rng(static_cast<unsigned>(id * 7919 + getpid()));
  auto end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    HostileAct(kind, port, id, doc, rng);
    std::this_thread::sleep_for(20ms);
  }
  return 0;
}

// --- the run ---------------------------------------------------------------

pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  pid_t pid = fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    if (!log.empty()) {
      int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
      if (fd >= 0) dup2(fd, 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  children.push_back(pid);
  return pid;
}

std::string SelfPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) Die("cannot find my own program");
  return std::string(buf, static_cast<size_t>(n));
}

// Waits for `pid` up to `limit`; kills it with SIGKILL after that. True
// when it ended by itself with status 0.
bool Reap(pid_t pid, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  int status = 0;
  while (Clock::now() < end) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

struct Server {
  std::string binary, db, log, port_file;
  int port = 0;
  pid_t pid = -1;

  void Start() {
    unlink(port_file.c_str());
    pid = Spawn({binary, "serve", "--db", db, "--port", std::to_string(port),
                 "--port-file", port_file},
                log);
    for (int i = 0; i < 400; ++i) {
      std::ifstream in(port_file);
      int p = 0;
      if (in >> p && p > 0) {
        port = p;
        return;
      }
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        Die("skjk-server ended at its start; see " + log);
      }
      std::this_thread::sleep_for(25ms);
    }
    Die("skjk-server did not start listening within 10 s; see " + log);
  }
};

std::string Query(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    Die("cannot read the database: " + std::string(sqlite3_errmsg(db)));
  }
  std::string out;
  while (sqlite3_step(st) == SQLITE_ROW) {
    if (!out.empty()) out += ";";
    const unsigned char* t = sqlite3_column_text(st, 0);
    out += t ? reinterpret_cast<const char*>(t) : "-";
  }
  sqlite3_finalize(st);
  return out;
}

int Run(std::map<std::string, std::string>& opt) {
  auto number = [&](const char* name, int def) {
    return opt.count(name) ? std::atoi(opt[name].c_str()) : def;
  };
  const int seconds = number("--seconds", 60);
  const int good = number("--good", 8);
  const int hostile = number("--hostile", 4);
  const int max_client_kills = number("--client-kills", 20);
  const int max_server_kills = number("--server-kills", 6);
  const std::string dir = opt.count("--dir") ? opt["--dir"] : "build/soak";
  const std::string self = SelfPath();
  Server server;
  server.binary = opt.count("--server") ? opt["--server"] : SKJK_SERVER_BINARY;
  server.db = dir + "/soak.db";
  server.log = dir + "/server.log";
  server.port_file = dir + "/port";
  std::printf(
      "soak: %d s, %d good and %d hostile clients, up to %d client "
      "and %d server kills; files in %s\n",
      seconds, good, hostile, max_client_kills, max_server_kills, dir.c_str());
  std::fflush(stdout);

  // A fresh database with documents for every client.
  (void)!std::system(
      ("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  pid_t init = Spawn({server.binary, "init", "--db", server.db, "--sample",
                      std::to_string((good + hostile) * 3 + 2000), "--seed",
                      "1", "--lines", "2"},
                     server.log);
  if (!Reap(init, 60s)) Die("skjk-server init failed; see " + server.log);
  std::vector<std::string> docs;
  {
    sqlite3* db = nullptr;
    if (sqlite3_open(server.db.c_str(), &db) != SQLITE_OK)
      Die("cannot open db");
    std::string all =
        Query(db, "SELECT DHAO00 FROM XSTXSFP1 ORDER BY DHAO00 LIMIT " +
                      std::to_string((good + hostile) * 3));
    std::stringstream in(all);
    for (std::string d; std::getline(in, d, ';');) docs.push_back(d);
    // The soak's documents start without invoice numbers.
    if (sqlite3_exec(db,
                     ("UPDATE XSTXSFP1 SET FPBBH0=NULL, FPHAO0=NULL WHERE "
                      "DHAO00 <= " +
                      docs.back())
                         .c_str(),
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      Die("cannot prepare the documents: " + std::string(sqlite3_errmsg(db)));
    }
    sqlite3_close(db);
    if (docs.size() < static_cast<size_t>((good + hostile) * 3)) {
      Die("the sample database has too few documents");
    }
  }
  auto group = [&](int id) {
    return std::vector<std::string>(docs.begin() + id * 3,
                                    docs.begin() + id * 3 + 3);
  };
  server.Start();
  const std::string machine = "127.0.0.1:" + std::to_string(server.port);

  auto end = Clock::now() + std::chrono::seconds(seconds);
  auto left = [&] {
    return std::max<long>(
        1, std::chrono::duration_cast<std::chrono::seconds>(end - Clock::now())
                   .count() +
               1);
  };
  std::vector<pid_t> good_pids(good, -1), hostile_pids(hostile, -1);
  auto start_good = [&](int id) {
    auto d = group(id);
    good_pids[id] =
        Spawn({self, "good", machine, std::to_string(id),
               d[0] + "," + d[1] + "," + d[2],
               dir + "/journal-" + std::to_string(id), std::to_string(left())},
              dir + "/clients.log");
  };
  std::mt19937 rng(12345);
  std::map<int, int> acts;  // hostile kind -> processes started
  auto start_hostile = [&](int slot) {
    int kind = static_cast<int>(rng() % 4);
    ++acts[kind];
    hostile_pids[slot] =
        Spawn({self, "hostile", std::to_string(server.port),
               std::to_string(good + slot), std::to_string(kind),
               group(good + slot)[0], "2"},
              dir + "/clients.log");
  };
  for (int i = 0; i < good; ++i) start_good(i);
  for (int i = 0; i < hostile; ++i) start_hostile(i);

  int client_kills = 0, server_kills = 0;
  auto next_client_kill = Clock::now() + 1500ms;
  auto next_server_kill = Clock::now() + 5s;
  const auto client_every = std::chrono::milliseconds(
      max_client_kills > 0 ? seconds * 1000 / (max_client_kills + 1) : 0);
  const auto server_every = std::chrono::milliseconds(
      max_server_kills > 0 ? seconds * 1000 / (max_server_kills + 1) : 0);
  while (Clock::now() < end) {
    std::this_thread::sleep_for(20ms);
    // Hostile clients that finished make room for new ones.
    for (int i = 0; i < hostile; ++i) {
      int status;
      if (waitpid(hostile_pids[i], &status, WNOHANG) == hostile_pids[i]) {
        start_hostile(i);
      }
    }
    for (int i = 0; i < good; ++i) {
      int status;
      if (waitpid(good_pids[i], &status, WNOHANG) == good_pids[i] &&
          Clock::now() + 1s < end) {
        start_good(i);
      }
    }
    if (client_kills < max_client_kills && Clock::now() >= next_client_kill) {
      int id = static_cast<int>(rng() % good);
      kill(good_pids[id], SIGKILL);
      waitpid(good_pids[id], nullptr, 0);
      ++client_kills;
      start_good(id);
      next_client_kill = Clock::now() + client_every;
    }
    if (server_kills < max_server_kills && Clock::now() >= next_server_kill &&
        Clock::now() + 3s < end) {
      kill(server.pid, SIGKILL);
      waitpid(server.pid, nullptr, 0);
      ++server_kills;
      server.Start();
      next_server_kill = Clock::now() + server_every;
    }
  }
  for (pid_t p : good_pids) Reap(p, 3s);
  for (pid_t p : hostile_pids) Reap(p, 3s);

  // The server still serves a good client after all that, and stops in time.
  bool serves = false;
  {
    Connection conn;
    conn.set_machine_name(machine);
    Packet packet;
    Status s = conn.GetRecords("dsp_bbsk1", Connection::kAllRecords, false,
                               {"1900-01-01", "2099-12-31"}, &packet);
    serves = s.ok() && !packet.rows.empty();
    if (!s.ok()) {
      std::printf("soak: FAULT: the server no longer serves: %s\n",
                  s.message().c_str());
    }
  }
  kill(server.pid, SIGTERM);
  bool stopped = Reap(server.pid, 5s);
  if (!stopped) std::printf("soak: FAULT: the server did not stop cleanly\n");

  // What the database holds.
  sqlite3* db = nullptr;
  if (sqlite3_open(server.db.c_str(), &db) != SQLITE_OK) Die("cannot open db");
  int missing = 0, half = 0, strays = 0, idle = 0;
  long tries = 0, acks = 0;
  for (int id = 0; id < good + hostile; ++id) {
    auto d = group(id);
    std::string found =
        Query(db,
              "SELECT DISTINCT coalesce(FPBBH0,'-') || '/' || "
              "coalesce(FPHAO0,'-') FROM XSTXSFP1 WHERE DHAO00 IN (" +
                  d[0] + "," + d[1] + "," + d[2] + ")");
    if (id >= good) {
      if (found.find("v" + std::to_string(id) + "n") != std::string::npos) {
        ++strays;
        std::printf(
            "soak: FAULT: a client that died in its transaction left "
            "%s on documents %s,%s,%s\n",
            found.c_str(), d[0].c_str(), d[1].c_str(), d[2].c_str());
      }
      continue;
    }
    Journal j = ReadJournal(dir + "/journal-" + std::to_string(id));
    tries += j.tries;
    acks += j.acks;
    long seq = 0;
    bool one = found.find(';') == std::string::npos;
    std::string prefix = "g" + std::to_string(id) + "n";
    if (one && found.rfind(prefix, 0) == 0) {
      seq = std::atol(found.c_str() + prefix.size());
      if (found != Token('g', id, seq) + "/" + Token('g', id, seq)) one = false;
    } else if (one && found.find('g') != std::string::npos) {
      one = false;
    }
    std::printf(
        "soak: client %d: tried %ld, acknowledged %ld (last %ld), "
        "found commit %ld\n",
        id, j.tries, j.acks, j.acked, seq);
    if (!one) {
      ++half;
      std::printf(
          "soak: FAULT: client %d's documents %s,%s,%s hold %s: half "
          "applied\n",
          id, d[0].c_str(), d[1].c_str(), d[2].c_str(), found.c_str());
    } else if (seq < j.acked || seq > j.tried) {
      ++missing;
      std::printf(
          "soak: FAULT: client %d: found commit %ld, but %ld was "
          "acknowledged and %ld tried last\n",
          id, seq, j.acked, j.tried);
    }
    if (j.acks == 0) ++idle;
  }
  sqlite3_close(db);
  std::printf(
      "soak: hostile processes: garbage %d, huge headers %d, died in a "
      "transaction %d, slow readers %d\n",
      acts[0], acts[1], acts[2], acts[3]);
  std::printf("soak: killed %d clients and %d times the server\n", client_kills,
              server_kills);
  std::printf(
      "soak: transactions tried %ld, acknowledged %ld; acknowledged "
      "missing %d, half applied %d, uncommitted writes found %d, "
      "clients without any commit %d\n",
      tries, acks, missing, half, strays, idle);
  bool pass = missing == 0 && half == 0 && strays == 0 && idle == 0 && serves &&
              stopped;
  std::printf("soak: %s\n", pass ? "PASS" : "FAIL");
  return pass ? 0 : 1;
}

int Main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (!a.empty() && a[0] == "good" && a.size() == 6) {
    std::vector<std::string> docs;
    std::stringstream in(a[3]);
    for (std::string d; std::getline(in, d, ',');) docs.push_back(d);
    return GoodClient(a[1], std::atoi(a[2].c_str()), docs, a[4],
                      std::atoi(a[5].c_str()));
  }
  if (!a.empty() && a[0] == "hostile" && a.size() == 6) {
    return HostileClient(std::atoi(a[1].c_str()), std::atoi(a[2].c_str()),
                         std::atoi(a[3].c_str()), a[4],
                         std::atoi(a[5].c_str()));
  }
  std::map<std::string, std::string> opt;
  for (size_t i = 0; i < a.size(); i += 2) {
    if (a[i].rfind("--", 0) != 0 || i + 1 >= a.size()) {
      Die("usage: skjk-soak [--seconds S] [--good N] [--hostile N] "
          "[--client-kills N] [--server-kills N] [--dir DIR] [--server PATH]");
    }
    opt[a[i]] = a[i + 1];
  }
  return Run(opt);
}

}  // namespace
}  // namespace skjk::soak

int main(int argc, char** argv) { return skjk::soak::Main(argc, argv); }
