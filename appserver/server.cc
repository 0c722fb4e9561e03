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
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "appserver/session.h"

namespace skjk::appserver {
namespace {

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

}  // namespace

Status Serve(Database* db, const ServeOptions& options) {
  signal(SIGPIPE, SIG_IGN);
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return Errno("pipe");
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

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

  std::list<std::unique_ptr<Slot>> slots;
  int next_id = 1;
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
    pollfd fds[2] = {{lfd, POLLIN, 0}, {g_signal_pipe[0], POLLIN, 0}};
    int n = poll(fds, 2, 1000);
    if (n < 0 && errno != EINTR) {
      Log(std::string("poll failed: ") + strerror(errno));
      break;
    }
    reap();
    if (n <= 0) continue;
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) continue;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int fd =
        accept4(lfd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
        Log(std::string("accept failed: ") + strerror(errno));
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto slot = std::make_unique<Slot>();
    Slot* s = slot.get();
    s->fd = fd;
    int id = next_id++;
    std::string peer = PeerName(addr);
    s->thread = std::thread([s, id, peer, db] {
      RunSession(s->fd, id, peer, db);
      s->done = true;
    });
    slots.push_back(std::move(slot));
  }

  Log("stopping: ending " + std::to_string(slots.size()) + " sessions");
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
