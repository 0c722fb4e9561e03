#include "platform/socket.h"

namespace skjk {

Status Socket::SendAll(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    Result<size_t> n = SendSome(p, size);
    if (!n.ok()) return n.status();
    p += *n;
    size -= *n;
  }
  return Status::OK();
}

Status Socket::RecvAll(void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    Result<size_t> n = RecvSome(p, size);
    if (!n.ok()) return n.status();
    if (*n == 0) {
      return Status::Error("Connection closed by the application server");
    }
    p += *n;
    size -= *n;
  }
  return Status::OK();
}

}  // namespace skjk
