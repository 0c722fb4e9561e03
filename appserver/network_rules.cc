#include "appserver/network_rules.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>

#include <cstdlib>

namespace skjk::appserver {
namespace {

// The address of `addr` as IPv4 (4 bytes) or IPv6 (16 bytes); an IPv4
// address mapped into IPv6 comes back as IPv4.
int AddressBytes(const sockaddr_storage& addr, uint8_t out[16]) {
  if (addr.ss_family == AF_INET) {
    memcpy(out, &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr, 4);
    return AF_INET;
  }
  if (addr.ss_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      memcpy(out, a.s6_addr + 12, 4);
      return AF_INET;
    }
    memcpy(out, a.s6_addr, 16);
    return AF_INET6;
  }
  return 0;
}

bool PrefixMatches(const uint8_t* a, const uint8_t* b, int bits) {
  int whole = bits / 8;
  if (memcmp(a, b, whole) != 0) return false;
  int rest = bits % 8;
  if (rest == 0) return true;
  uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

Result<Network> ParseNetwork(const std::string& item) {
  auto bad = [&](const std::string& why) {
    return Status::BadInput("'" + item +
                            "' is not a network ADDR[/BITS]: " + why);
  };
  std::string address = item;
  std::string bits;
  if (size_t slash = item.find('/'); slash != std::string::npos) {
    address = item.substr(0, slash);
    bits = item.substr(slash + 1);
  }
  Network n;
  if (inet_pton(AF_INET, address.c_str(), n.bytes.data()) == 1) {
    n.family = AF_INET;
  } else if (inet_pton(AF_INET6, address.c_str(), n.bytes.data()) == 1) {
    n.family = AF_INET6;
  } else {
    return bad("not an IPv4 or IPv6 address");
  }
  const int max = n.family == AF_INET ? 32 : 128;
  n.prefix = max;
  if (!bits.empty() || item.find('/') != std::string::npos) {
    char* end = nullptr;
    long v = std::strtol(bits.c_str(), &end, 10);
    if (bits.empty() || *end != '\0' || bits[0] == '-' || v > max) {
      return bad("the prefix must be 0 to " + std::to_string(max) + " bits");
    }
    n.prefix = static_cast<int>(v);
  }
  // An IPv6 network inside ::ffff:0:0/96 is the IPv4 network it maps.
  if (n.family == AF_INET6 && n.prefix >= 96 &&
      IN6_IS_ADDR_V4MAPPED(reinterpret_cast<const in6_addr*>(n.bytes.data()))) {
    memmove(n.bytes.data(), n.bytes.data() + 12, 4);
    n.family = AF_INET;
    n.prefix -= 96;
  }
  return n;
}

}  // namespace

Result<std::vector<Network>> ParseNetworks(const std::string& text) {
  std::vector<Network> out;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(
        start, comma == std::string::npos ? std::string::npos : comma - start);
    if (item.empty()) {
      return Status::BadInput("'" + text + "' holds an empty network");
    }
    auto n = ParseNetwork(item);
    if (!n.ok()) return n.status();
    out.push_back(*n);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

bool InNetworks(const std::vector<Network>& networks,
                const sockaddr_storage& addr) {
  uint8_t bytes[16];
  int family = AddressBytes(addr, bytes);
  for (const Network& n : networks) {
    if (n.family == family && PrefixMatches(bytes, n.bytes.data(), n.prefix))
      return true;
  }
  return false;
}

bool IsLoopback(const sockaddr_storage& addr) {
  uint8_t bytes[16];
  int family = AddressBytes(addr, bytes);
  if (family == AF_INET) return bytes[0] == 127;
  static const uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0, 0, 1};
  return family == AF_INET6 && memcmp(bytes, kLoopback6, 16) == 0;
}

}  // namespace skjk::appserver
