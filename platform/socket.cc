#include "platform/socket.h"

#include <algorithm>

#include "text/gbk.h"

namespace skjk {

using text::literals::operator""_gbk;

std::string SecondsText(std::chrono::milliseconds limit) {
  long long ms = limit.count();
  if (ms % 1000 == 0 || ms >= 10000)
    return std::to_string(ms / 1000) + " 秒"_gbk;
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) +
         " 秒"_gbk;
}

Status ConnectTimedOut(std::string_view host, int port,
                       std::chrono::milliseconds limit) {
  return Status::LinkLost("在 "_gbk + SecondsText(limit) +
                          "内未能连接到应用服务器 "_gbk + std::string(host) +
                          ":" + std::to_string(port));
}

Status SendTimedOut(std::chrono::milliseconds limit) {
  return Status::LinkLost("应用服务器在 "_gbk + SecondsText(limit) +
                          "内没有接收请求"_gbk);
}

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

Status Socket::RecvAll(void* data, size_t size, const Deadline* deadline,
                       const std::function<void()>* waiting) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    if (deadline != nullptr || waiting != nullptr) {
      for (;;) {
        auto left = std::chrono::milliseconds::max();
        if (deadline != nullptr) {
          left = std::chrono::ceil<std::chrono::milliseconds>(deadline->at -
                                                              Clock::now());
          if (left.count() <= 0) {
            return Status::LinkLost("应用服务器在 "_gbk +
                                    SecondsText(deadline->limit) +
                                    "内没有应答"_gbk);
          }
        }
        const auto slice =
            waiting != nullptr ? std::min(left, kWaitSlice) : left;
        Result<bool> ready = WaitReadable(slice);
        if (!ready.ok()) return ready.status();
        if (*ready) break;
        if (waiting != nullptr) (*waiting)();
      }
    }
    Result<size_t> n = RecvSome(p, size);
    if (!n.ok()) return n.status();
    if (*n == 0) return Status::LinkLost("与应用服务器的连接已断开"_gbk);
    p += *n;
    size -= *n;
  }
  return Status::OK();
}

}  // namespace skjk
