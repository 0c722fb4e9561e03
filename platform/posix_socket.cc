// TCP client on POSIX sockets.
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "platform/socket.h"
#include "text/gbk.h"

namespace skjk {
namespace {

// The user sees the system's message alone.
Status LinkError(int err) {
  return Status::LinkLost(text::Utf8ToGbk(strerror(err)));
}

class PosixSocket final : public Socket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}
  ~PosixSocket() override { close(fd_); }

  Result<size_t> SendSome(const char* data, size_t size) override {
    for (;;) {
      ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
      if (n >= 0) return static_cast<size_t>(n);
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

 private:
  int fd_;
};

}  // namespace

Result<std::unique_ptr<Socket>> ConnectTcp(std::string_view host, int port) {
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
  int err = 0;
  int fd = -1;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
    err = errno;
    close(fd);
    fd = -1;
  }
  freeaddrinfo(list);
  if (fd < 0) return LinkError(err);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::unique_ptr<Socket>(new PosixSocket(fd));
}

}  // namespace skjk
