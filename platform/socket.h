// A blocking TCP client connection: all the plug-in needs to talk to
// skjk-server. POSIX sockets natively, Winsock in the plug-in (started on
// first use). Connecting and receiving can be bounded in time; sending is
// bounded by the receive time given to ConnectTcp as well.
#ifndef SKJK_PLATFORM_SOCKET_H_
#define SKJK_PLATFORM_SOCKET_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace skjk {

class Socket {
 public:
  using Clock = std::chrono::steady_clock;
  // A time limit of a receive: the moment by which it must be complete, and
  // the limit as the user configured it (for the message).
  struct Deadline {
    Clock::time_point at;
    std::chrono::milliseconds limit;
  };
  static Deadline After(std::chrono::milliseconds limit) {
    return Deadline{Clock::now() + limit, limit};
  }

  virtual ~Socket() = default;  // closes the connection

  // Sends all `size` bytes.
  Status SendAll(const void* data, size_t size);
  // True when bytes, or the peer's close, wait to be read. Between a
  // request's answer and the next request that means the server has spoken
  // unasked: it ended the session.
  Result<bool> HasInput() { return WaitReadable(std::chrono::milliseconds(0)); }
  // Receives exactly `size` bytes; a connection closed before that is an
  // error ("与应用服务器的连接已断开"). With a deadline, bytes that have not
  // all come by then are an error too ("应用服务器在 N 秒内没有应答").
  // With `waiting`, the wait for bytes is cut into slices of at most
  // kWaitSlice and `waiting` runs after each slice in which none came (a
  // window's thread processes its messages there).
  static constexpr std::chrono::milliseconds kWaitSlice{15};
  Status RecvAll(void* data, size_t size, const Deadline* deadline = nullptr,
                 const std::function<void()>* waiting = nullptr);

 protected:
  // One system call each: the number of bytes sent (at least 1), or received
  // (0 when the peer closed the connection), or the system's error.
  virtual Result<size_t> SendSome(const char* data, size_t size) = 0;
  virtual Result<size_t> RecvSome(char* data, size_t size) = 0;
  // Waits up to `timeout` for bytes to read (or the peer closing): false
  // when nothing came in time.
  virtual Result<bool> WaitReadable(std::chrono::milliseconds timeout) = 0;
};

// "N 秒" for a time limit: whole seconds, or tenths below them.
std::string SecondsText(std::chrono::milliseconds limit);

// Connects to `host` (a name or an address; GBK) on `port`. Every failure of
// a socket is Status::LinkLost with the system's own message alone (GBK), or
// "与应用服务器的连接已断开" when the server closed the connection.
// `connect_timeout` bounds the connection's making (name resolution aside):
// a server that does not accept within it is "在 N 秒内未能连接到应用服务器
// host:port". `send_timeout` bounds each send that cannot go on (a server
// that does not read). Zero or less: no limit.
Result<std::unique_ptr<Socket>> ConnectTcp(
    std::string_view host, int port,
    std::chrono::milliseconds connect_timeout = std::chrono::milliseconds(0),
    std::chrono::milliseconds send_timeout = std::chrono::milliseconds(0));

// The failure of a send that could not go on within `limit`.
Status SendTimedOut(std::chrono::milliseconds limit);

// The failure of a connection not made within `limit`.
Status ConnectTimedOut(std::string_view host, int port,
                       std::chrono::milliseconds limit);

}  // namespace skjk

#endif  // SKJK_PLATFORM_SOCKET_H_
