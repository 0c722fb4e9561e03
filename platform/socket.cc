#include "platform/socket.h"

#include "text/gbk.h"

namespace skjk {

using text::literals::operator""_gbk;

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
    if (*n == 0) return Status::LinkLost("与应用服务器的连接已断开"_gbk);
    p += *n;
    size -= *n;
  }
  return Status::OK();
}

}  // namespace skjk
