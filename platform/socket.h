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
  virtual Status SendAll(const void* data, size_t size) = 0;
  // Receives exactly `size` bytes; a connection closed before that is an
  // error ("connection closed by the server").
  virtual Status RecvAll(void* data, size_t size) = 0;
};

// Connects to `host` (a name or an address; GBK) on `port`. Error texts name
// the host and the port and carry the system's message (GBK).
Result<std::unique_ptr<Socket>> ConnectTcp(std::string_view host, int port);

}  // namespace skjk

#endif  // SKJK_PLATFORM_SOCKET_H_
