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

struct Slot {
  int fd = -1;
  std::thread thread;
  std::atomic<bool> done{false};
};

std::string PeerName(const sockaddr_storage& addr) {
  char host[NI_MAXHOST], serv[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host,
                  sizeof host, serv, sizeof serv,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "?";
  return std::string(host) + ":" + serv;
}

Result<int> Listen(const ServeOptions& o) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(o.listen.c_str(), std::to_string(o.port).c_str(), &hints,
                       &list);
  if (rc != 0) {
    return Status::Error("cannot resolve listen address " + o.listen + ": " +
                         gai_strerror(rc));
  }
  sockaddr_storage bound{};
  memcpy(&bound, list->ai_addr,
         std::min<size_t>(list->ai_addrlen, sizeof bound));
  if (!IsLoopback(bound) && o.allow.empty()) {
    freeaddrinfo(list);
    return Status::Error(
        "refusing to listen on " + o.listen +
        ": an address beyond loopback lets other machines connect, so it "
        "needs --allow CIDR[,CIDR...] naming the networks clients may come "
        "from (e.g. --allow 192.168.1.0/24)");
  }
  int fd = socket(list->ai_family, list->ai_socktype | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    freeaddrinfo(list);
    return Errno("socket");
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, list->ai_addr, list->ai_addrlen) != 0 || listen(fd, 64) != 0) {
    Status s =
        Errno("cannot listen on " + o.listen + ":" + std::to_string(o.port));
    freeaddrinfo(list);
    close(fd);
    return s;
  }
  freeaddrinfo(list);
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
void Refuse(int fd, const std::string& message) {
  std::string frame = protocol::Frame(protocol::MessageType::kError,
                                      protocol::EncodeError(message));
  ssize_t n = send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  (void)n;  // the client learns from the closed connection alone then
  // A greeting that has arrived already is taken off, so that closing
  // sends no reset that could discard the answer at the client.
  shutdown(fd, SHUT_WR);
  char greeting[protocol::kHeaderSize + kMaxHelloPayload];
  n = recv(fd, greeting, sizeof greeting, MSG_DONTWAIT);
  close(fd);
}

}  // namespace

Status Serve(Database* db, const ServeOptions& options) {
  signal(SIGPIPE, SIG_IGN);
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return Errno("pipe");
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  RaiseDescriptorLimit();

  auto listener = Listen(options);
  if (!listener.ok()) return listener.status();
  int lfd = *listener;
  int port = BoundPort(lfd);
  Log("serving " + db->engine() + " on " + options.listen + ":" +
      std::to_string(port));
  if (!options.port_file.empty()) {
    Status s = WritePortFile(options.port_file, port);
    if (!s.ok()) {
      close(lfd);
      return s;
    }
  }

  std::atomic<bool> stopping{false};
  SessionLimits limits = options.limits;
  limits.stopping = &stopping;
  std::list<std::unique_ptr<Slot>> slots;
  int next_id = 1;
  Clock::time_point paused_until{};
  Clock::time_point last_accept_log{};
  int unlogged_accept_failures = 0;
  auto reap = [&] {
    for (auto it = slots.begin(); it != slots.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        close((*it)->fd);
        it = slots.erase(it);
      } else {
        ++it;
      }
    }
  };

  for (;;) {
    // While accepting is paused only the signal pipe is watched.
    const auto now = Clock::now();
    const bool paused = now < paused_until;
    pollfd fds[2] = {{g_signal_pipe[0], POLLIN, 0}, {lfd, POLLIN, 0}};
    int timeout_ms =
        paused ? static_cast<int>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(
                         paused_until - now)
                         .count()) +
                     1
               : 1000;
    int n = poll(fds, paused ? 1 : 2, timeout_ms);
    if (n < 0 && errno != EINTR) {
      Log(std::string("poll failed: ") + strerror(errno));
      break;
    }
    reap();
    if (n <= 0) continue;
    if (fds[0].revents != 0) break;
    if (paused || (fds[1].revents & POLLIN) == 0) continue;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int fd =
        accept4(lfd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
          errno == ENOMEM) {
        // The connection waits in the backlog; spinning on it would only
        // burn the processor and flood the log.
        paused_until = Clock::now() + kAcceptPause;
        if (Clock::now() - last_accept_log >= kAcceptLogInterval) {
          Log(std::string("accept failed: ") + strerror(errno) +
              "; pausing new connections (" + std::to_string(slots.size()) +
              " sessions open, " + std::to_string(unlogged_accept_failures) +
              " more failures since the last report)");
          last_accept_log = Clock::now();
          unlogged_accept_failures = 0;
        } else {
          ++unlogged_accept_failures;
        }
      } else if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
        Log(std::string("accept failed: ") + strerror(errno));
      }
      continue;
    }
    std::string peer = PeerName(addr);
    if (!options.allow.empty() && !InNetworks(options.allow, addr)) {
      // Closed before anything is read: a stranger learns nothing.
      close(fd);
      Log("refused connection from " + peer + ": not in --allow");
      continue;
    }
    size_t active = 0;
    for (auto& s : slots) active += s->done ? 0 : 1;
    if (active >= static_cast<size_t>(options.max_sessions)) {
      Refuse(fd, "the server is busy: " + std::to_string(active) +
                     " sessions are open, the most it serves "
                     "(--max-sessions); try again later");
      Log("refused connection from " + peer + ": " + std::to_string(active) +
          " sessions open (--max-sessions " +
          std::to_string(options.max_sessions) + ")");
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto slot = std::make_unique<Slot>();
    Slot* s = slot.get();
    s->fd = fd;
    int id = next_id++;
    try {
      s->thread = std::thread([s, id, peer, db, &limits] {
        RunSession(s->fd, id, peer, db, limits);
        s->done = true;
      });
    } catch (const std::system_error& e) {
      Refuse(fd,
             std::string("the server cannot serve a session now: ") + e.what());
      Log("refused connection from " + peer +
          ": cannot start a session thread: " + e.what());
      continue;
    }
    slots.push_back(std::move(slot));
  }

  Log("stopping: ending " + std::to_string(slots.size()) + " sessions");
  // Running statements see the flag and stop; waiting sessions wake up
  // when their sockets are shut down.
  stopping = true;
  close(lfd);
  for (auto& s : slots) shutdown(s->fd, SHUT_RDWR);
  for (auto& s : slots) {
    s->thread.join();
    close(s->fd);
  }
  Log("stopped");
  return Status::OK();
}

}  // namespace skjk::appserver
