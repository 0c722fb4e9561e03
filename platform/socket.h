// A blocking TCP client connection: all the plug-in needs to talk to
// skjk-server. POSIX sockets natively, Winsock in the plug-in (started on
// first use).
#ifndef SKJK_PLATFORM_SOCKET_H_
#define SKJK_PLATFORM_SOCKET_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace skjk {

class Socket {
 public:
  virtual ~Socket() = default;  // closes the connection

  // Sends all `size` bytes.
  Status SendAll(const void* data, size_t size);
  // Receives exactly `size` bytes; a connection closed before that is an
  // error ("connection closed by the server").
  Status RecvAll(void* data, size_t size);

 protected:
  // One system call each: the number of bytes sent (at least 1), or received
  // (0 when the peer closed the connection), or the system's error.
  virtual Result<size_t> SendSome(const char* data, size_t size) = 0;
  virtual Result<size_t> RecvSome(char* data, size_t size) = 0;
};

// Connects to `host` (a name or an address; GBK) on `port`. Every failure of
// a socket is Status::LinkLost with the system's own message alone (GBK), or
// "与应用服务器的连接已断开" when the server closed the connection.
Result<std::unique_ptr<Socket>> ConnectTcp(std::string_view host, int port);

}  // namespace skjk

#endif  // SKJK_PLATFORM_SOCKET_H_
