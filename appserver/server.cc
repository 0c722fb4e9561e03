#include "appserver/server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "appserver/session.h"
#include "platform/scoped_fd.h"
#include "wire/protocol.h"

namespace skjk::appserver {
namespace {

using Clock = std::chrono::steady_clock;

// How long the accept loop leaves the listener alone when the process has
// run out of descriptors (or memory for a socket), and how often it says so.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr auto kAcceptLogInterval = std::chrono::seconds(1);

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 1;
  ssize_t n = write(g_signal_pipe[1], &c, 1);
  (void)n;  // nothing to do if the pipe is full: a stop is pending already
}

Status Errno(const std::string& what) {
  return Status::Error(what + ": " + strerror(errno));
}

std::string PeerName(const sockaddr_storage& addr) {
  char host[NI_MAXHOST], serv[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host,
                  sizeof host, serv, sizeof serv,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "?";
  return std::string(host) + ":" + serv;
}

// A listening socket on the address and port of `o`.
Result<ScopedFd> Listen(const ServeOptions& o) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(o.listen.c_str(), std::to_string(o.port).c_str(), &hints,
                       &found);
  if (rc != 0) {
    return Status::Error("cannot resolve listen address " + o.listen + ": " +
                         gai_strerror(rc));
  }
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found,
                                                                freeaddrinfo);
  sockaddr_storage bound{};
  memcpy(&bound, list->ai_addr,
         std::min<size_t>(list->ai_addrlen, sizeof bound));
  if (!IsLoopback(bound) && o.allow.empty()) {
    return Status::Error(
        "refusing to listen on " + o.listen +
        ": an address beyond loopback lets other machines connect, so it "
        "needs --allow CIDR[,CIDR...] naming the networks clients may come "
        "from (e.g. --allow 192.168.1.0/24)");
  }
  ScopedFd fd(socket(list->ai_family, list->ai_socktype | SOCK_CLOEXEC, 0));
  if (!fd) return Errno("socket");
  int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd.get(), list->ai_addr, list->ai_addrlen) != 0 ||
      listen(fd.get(), 64) != 0) {
    return Errno("cannot listen on " + o.listen + ":" + std::to_string(o.port));
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (addr.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

Status WritePortFile(const std::string& path, int port) {
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) return Errno("cannot write " + tmp);
  std::fprintf(f, "%d\n", port);
  if (std::fclose(f) != 0) return Errno("cannot write " + tmp);
  if (std::rename(tmp.c_str(), path.c_str()) != 0)
    return Errno("cannot rename " + tmp);
  return Status::OK();
}

// Raises the soft limit of open descriptors to the hard one: each session
// holds a socket and its database files.
void RaiseDescriptorLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
  rlim_t before = r.rlim_cur;
  r.rlim_cur = r.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &r) != 0) {
    Log(std::string("cannot raise the descriptor limit: ") + strerror(errno));
    return;
  }
  Log("descriptor limit raised from " + std::to_string(before) + " to " +
      std::to_string(r.rlim_max));
}

// Answers a connection that is not served with an Error, as far as the
// socket takes it at once, and closes it.
void Refuse(ScopedFd fd, const std::string& message) {
  std::string frame = protocol::Frame(protocol::MessageType::kError,
                                      protocol::EncodeError(message));
  ssize_t n =
      send(fd.get(), frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  (void)n;  // the client learns from the closed connection alone then
  // A greeting that has arrived already is taken off, so that closing
  // sends no reset that could discard the answer at the client.
  shutdown(fd.get(), SHUT_WR);
  char greeting[protocol::kHeaderSize + kMaxHelloPayload];
  n = recv(fd.get(), greeting, sizeof greeting, MSG_DONTWAIT);
}

// Accepts the clients of one listening socket and runs each admitted one's
// session on a thread of its own, until the signal pipe says stop. Owns the
// listening socket and every session's socket: each is closed when its
// session has been joined, the listener when the acceptor stops.
class Acceptor {
 public:
  Acceptor(Database* db, const ServeOptions& options, ScopedFd listener)
      : db_(db),
        options_(options),
        listener_(std::move(listener)),
        limits_(options.limits) {
    limits_.stopping = &stopping_;
  }
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;
  ~Acceptor() { Stop(); }

  // Accepts and hands connections over until a byte arrives on the signal
  // pipe `stop_fd` (or poll fails); reaps finished sessions meanwhile.
  void Run(int stop_fd) {
    for (;;) {
      // While accepting is paused only the signal pipe is watched.
      const auto now = Clock::now();
      const bool paused = now < paused_until_;
      pollfd fds[2] = {{stop_fd, POLLIN, 0}, {listener_.get(), POLLIN, 0}};
      const int timeout_ms =
          paused ? static_cast<int>(
                       std::chrono::duration_cast<std::chrono::milliseconds>(
                           paused_until_ - now)
                           .count()) +
                       1
                 : 1000;
      const int n = poll(fds, paused ? 1 : 2, timeout_ms);
      if (n < 0 && errno != EINTR) {
        Log(std::string("poll failed: ") + strerror(errno));
        return;
      }
      Reap();
      if (n <= 0) continue;
      if (fds[0].revents != 0) return;
      if (paused || (fds[1].revents & POLLIN) == 0) continue;
      AcceptOne();
    }
  }

  // Ends every session: running statements see the stop flag, waiting
  // sessions wake up as their sockets are shut down. Returns once all have
  // ended. Does nothing the second time.
  void Stop() {
    if (!listener_) return;
    Log("stopping: ending " + std::to_string(sessions_.size()) + " sessions");
    stopping_ = true;
    listener_.reset();
    for (auto& s : sessions_) shutdown(s->fd.get(), SHUT_RDWR);
    for (auto& s : sessions_) {
      s->thread.join();
      s->fd.reset();
    }
    sessions_.clear();
    Log("stopped");
  }

 private:
  // A session's socket and thread; `done` is set by the thread at its end.
  struct Session {
    ScopedFd fd;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  // Takes one waiting connection and admits it or refuses it.
  void AcceptOne() {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ScopedFd fd(accept4(listener_.get(), reinterpret_cast<sockaddr*>(&addr),
                        &len, SOCK_CLOEXEC));
    if (!fd) {
      AcceptFailed(errno);
      return;
    }
    std::string peer = PeerName(addr);
    if (!options_.allow.empty() && !InNetworks(options_.allow, addr)) {
      // Closed before anything is read: a stranger learns nothing.
      fd.reset();
      Log("refused connection from " + peer + ": not in --allow");
      return;
    }
    const size_t active = ActiveSessions();
    if (active >= static_cast<size_t>(options_.max_sessions)) {
      Refuse(std::move(fd), "the server is busy: " + std::to_string(active) +
                                " sessions are open, the most it serves "
                                "(--max-sessions); try again later");
      Log("refused connection from " + peer + ": " + std::to_string(active) +
          " sessions open (--max-sessions " +
          std::to_string(options_.max_sessions) + ")");
      return;
    }
    StartSession(std::move(fd), std::move(peer));
  }

  // An accept that failed with `err`. Out of descriptors (or of memory for
  // a socket) the connection waits in the backlog: accepting pauses, since
  // spinning on it would only burn the processor and flood the log, and
  // the failures are reported at most once per kAcceptLogInterval.
  void AcceptFailed(int err) {
    if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
      paused_until_ = Clock::now() + kAcceptPause;
      if (Clock::now() - last_accept_log_ >= kAcceptLogInterval) {
        Log(std::string("accept failed: ") + strerror(err) +
            "; pausing new connections (" + std::to_string(sessions_.size()) +
            " sessions open, " + std::to_string(unlogged_accept_failures_) +
            " more failures since the last report)");
        last_accept_log_ = Clock::now();
        unlogged_accept_failures_ = 0;
      } else {
        ++unlogged_accept_failures_;
      }
    } else if (err != EINTR && err != EAGAIN && err != ECONNABORTED) {
      Log(std::string("accept failed: ") + strerror(err));
    }
  }

  // Hands the admitted connection `fd` over to a session thread.
  void StartSession(ScopedFd fd, std::string peer) {
    int one = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto session = std::make_unique<Session>();
    Session* s = session.get();
    s->fd = std::move(fd);
    const int id = next_id_++;
    try {
      s->thread = std::thread([this, s, id, peer] {
        RunSession(s->fd.get(), id, peer, db_, limits_);
        s->done = true;
      });
    } catch (const std::system_error& e) {
      Refuse(std::move(s->fd),
             std::string("the server cannot serve a session now: ") + e.what());
      Log("refused connection from " + peer +
          ": cannot start a session thread: " + e.what());
      return;
    }
    sessions_.push_back(std::move(session));
  }

  // Joins the sessions that have ended and closes their sockets.
  void Reap() {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }

  size_t ActiveSessions() const {
    size_t active = 0;
    for (const auto& s : sessions_) active += s->done ? 0 : 1;
    return active;
  }

  Database* const db_;
  const ServeOptions& options_;
  ScopedFd listener_;
  std::atomic<bool> stopping_{false};
  SessionLimits limits_;
  std::list<std::unique_ptr<Session>> sessions_;
  int next_id_ = 1;
  Clock::time_point paused_until_{};
  Clock::time_point last_accept_log_{};
  int unlogged_accept_failures_ = 0;
};

}  // namespace

Status Serve(Database* db, const ServeOptions& options) {
  signal(SIGPIPE, SIG_IGN);
  // The pipe stays open for the rest of the process: a signal may still
  // come after Serve has returned.
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return Errno("pipe");
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  RaiseDescriptorLimit();

  auto listener = Listen(options);
  if (!listener.ok()) return listener.status();
  const int port = BoundPort(listener->get());
  Log("serving " + db->engine() + " on " + options.listen + ":" +
      std::to_string(port));
  if (!options.port_file.empty()) {
    SKJK_RETURN_IF_ERROR(WritePortFile(options.port_file, port));
  }

  Acceptor acceptor(db, options, std::move(*listener));
  acceptor.Run(g_signal_pipe[0]);
  acceptor.Stop();
  return Status::OK();
}

}  // namespace skjk::appserver
