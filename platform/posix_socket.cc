// TCP client on POSIX sockets.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/socket.h"
#include "text/gbk.h"

namespace skjk {
namespace {

// poll() counts milliseconds in an int; the limits here are far below that.
int PollTime(std::chrono::milliseconds t) {
  return t.count() > 1 << 30 ? 1 << 30 : static_cast<int>(t.count());
}

// Connects `fd` to `address`, waiting at most until `deadline` (none when
// `limited` is false). Returns 0 or the error; ETIMEDOUT when time ran out.
int ConnectWithin(int fd, const sockaddr* address, socklen_t size, bool limited,
                  std::chrono::steady_clock::time_point deadline) {
  if (!limited) {
    return connect(fd, address, size) == 0 ? 0 : errno;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
  if (connect(fd, address, size) != 0) {
    if (errno != EINPROGRESS) return errno;
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return ETIMEDOUT;
      int n = poll(&p, 1, PollTime(left));
      if (n > 0) break;
      if (n < 0 && errno != EINTR) return errno;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    if (err != 0) return err;
  }
  if (fcntl(fd, F_SETFL, flags) < 0) return errno;
  return 0;
}

// The user sees the system's message alone.
Status LinkError(int err) {
  return Status::LinkLost(text::Utf8ToGbk(strerror(err)));
}

class PosixSocket final : public Socket {
 public:
  PosixSocket(int fd, std::chrono::milliseconds send_timeout)
      : fd_(fd), send_timeout_(send_timeout) {}
  ~PosixSocket() override { close(fd_); }

  Result<size_t> SendSome(const char* data, size_t size) override {
    for (;;) {
      ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return SendTimedOut(send_timeout_);
      }
      if (errno != EINTR) return LinkError(errno);
    }
  }

  Result<size_t> RecvSome(char* data, size_t size) override {
    for (;;) {
      ssize_t n = recv(fd_, data, size, 0);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) return LinkError(errno);
    }
  }

  Result<bool> WaitReadable(std::chrono::milliseconds timeout) override {
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
      int n = poll(&p, 1, PollTime(timeout));
      if (n >= 0) return n > 0;
      if (errno != EINTR) return LinkError(errno);
    }
  }

 private:
  int fd_;
  std::chrono::milliseconds send_timeout_;
};

}  // namespace

Result<std::unique_ptr<Socket>> ConnectTcp(
    std::string_view host, int port, std::chrono::milliseconds connect_timeout,
    std::chrono::milliseconds send_timeout) {
  std::string name = text::GbkToUtf8(host);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc =
      getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    return Status::LinkLost(
        text::Utf8ToGbk(rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc)));
  }
  bool limited = connect_timeout.count() > 0;
  auto deadline = std::chrono::steady_clock::now() + connect_timeout;
  int err = 0;
  int fd = -1;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    err = ConnectWithin(fd, a->ai_addr, a->ai_addrlen, limited, deadline);
    if (err == 0) break;
    close(fd);
    fd = -1;
  }
  freeaddrinfo(list);
  if (fd < 0) {
    if (err == ETIMEDOUT && limited) {
      return ConnectTimedOut(host, port, connect_timeout);
    }
    return LinkError(err);
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (send_timeout.count() > 0) {
    timeval t{static_cast<time_t>(send_timeout.count() / 1000),
              static_cast<suseconds_t>(send_timeout.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
  }
  return std::unique_ptr<Socket>(new PosixSocket(fd, send_timeout));
}

}  // namespace skjk
