// Which clients may reach skjk-server: networks given as CIDR texts
// ("10.0.0.0/8", "192.168.1.20", "fd00::/8"), matched against the address a
// connection comes from. An IPv4 client seen on an IPv6 socket
// (::ffff:a.b.c.d) is matched as the IPv4 address it is.
#ifndef SKJK_APPSERVER_NETWORK_RULES_H_
#define SKJK_APPSERVER_NETWORK_RULES_H_

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

namespace skjk::appserver {

struct Network {
  int family = 0;  // AF_INET or AF_INET6
  std::array<uint8_t, 16> bytes{};
  int prefix = 0;  // bits that must match
};

// Parses "ADDR[/BITS][,ADDR[/BITS]...]"; an address without /BITS is that
// one host. Refuses an empty list, a bad address or prefix.
Result<std::vector<Network>> ParseNetworks(const std::string& text);

// True when `addr` lies in one of `networks`.
bool InNetworks(const std::vector<Network>& networks,
                const sockaddr_storage& addr);

// True for 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool IsLoopback(const sockaddr_storage& addr);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_NETWORK_RULES_H_
