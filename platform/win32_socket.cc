// TCP client on Winsock. WSAStartup runs once, on the first connection.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <mutex>
#include <string>

#include "platform/socket.h"
#include "platform/win32_error.h"
#include "text/gbk.h"

namespace skjk {
namespace {

// The user sees the system's message alone.
Status LinkError(int err) { return Status::LinkLost(SystemMessage(err)); }

Status StartWinsock() {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0) return LinkError(result);
  return Status::OK();
}

// Winsock counts bytes in an int.
int Chunk(size_t size) {
  return size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
}

timeval TimeVal(std::chrono::milliseconds t) {
  long long ms = t.count() > (1ll << 30) ? (1ll << 30) : t.count();
  return timeval{static_cast<long>(ms / 1000),
                 static_cast<long>(ms % 1000 * 1000)};
}

// Connects `s` to `address`, waiting at most until `deadline` (none when
// `limited` is false). Returns 0 or the error; WSAETIMEDOUT when time ran
// out.
int ConnectWithin(SOCKET s, const sockaddr* address, int size, bool limited,
                  std::chrono::steady_clock::time_point deadline) {
  if (!limited) {
    return connect(s, address, size) == 0 ? 0 : WSAGetLastError();
  }
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return WSAGetLastError();
  if (connect(s, address, size) != 0) {
    int err = WSAGetLastError();
    if (err != WSAEWOULDBLOCK) return err;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return WSAETIMEDOUT;
    fd_set write, failed;
    FD_ZERO(&write);
    FD_ZERO(&failed);
    FD_SET(s, &write);
    FD_SET(s, &failed);
    timeval t = TimeVal(left);
    int n = select(0, nullptr, &write, &failed, &t);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    if (n == 0) return WSAETIMEDOUT;
    int so_error = 0;
    int len = sizeof so_error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error),
                   &len) != 0) {
      return WSAGetLastError();
    }
    if (so_error != 0) return so_error;
    if (!FD_ISSET(s, &write)) return WSAECONNREFUSED;
  }
  u_long off = 0;
  if (ioctlsocket(s, FIONBIO, &off) != 0) return WSAGetLastError();
  return 0;
}

class Win32Socket final : public Socket {
 public:
  Win32Socket(SOCKET s, std::chrono::milliseconds send_timeout)
      : s_(s), send_timeout_(send_timeout) {}
  ~Win32Socket() override { closesocket(s_); }

  Result<size_t> SendSome(const char* data, size_t size) override {
    int n = send(s_, data, Chunk(size), 0);
    if (n == SOCKET_ERROR) {
      int err = WSAGetLastError();
      if (err == WSAETIMEDOUT) return SendTimedOut(send_timeout_);
      return LinkError(err);
    }
    return static_cast<size_t>(n);
  }

  Result<size_t> RecvSome(char* data, size_t size) override {
    int n = recv(s_, data, Chunk(size), 0);
    if (n == SOCKET_ERROR) return LinkError(WSAGetLastError());
    return static_cast<size_t>(n);
  }

  Result<bool> WaitReadable(std::chrono::milliseconds timeout) override {
    fd_set read;
    FD_ZERO(&read);
    FD_SET(s_, &read);
    timeval t = TimeVal(timeout);
    int n = select(0, &read, nullptr, nullptr, &t);
    if (n == SOCKET_ERROR) return LinkError(WSAGetLastError());
    return n > 0;
  }

 private:
  SOCKET s_;
  std::chrono::milliseconds send_timeout_;
};

}  // namespace

Result<std::unique_ptr<Socket>> ConnectTcp(
    std::string_view host, int port, std::chrono::milliseconds connect_timeout,
    std::chrono::milliseconds send_timeout) {
  SKJK_RETURN_IF_ERROR(StartWinsock());
  std::u16string name = text::GbkToUtf16(host);
  std::u16string service = text::GbkToUtf16(std::to_string(port));
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* list = nullptr;
  int rc = GetAddrInfoW(reinterpret_cast<const wchar_t*>(name.c_str()),
                        reinterpret_cast<const wchar_t*>(service.c_str()),
                        &hints, &list);
  if (rc != 0) return LinkError(rc);
  bool limited = connect_timeout.count() > 0;
  auto deadline = std::chrono::steady_clock::now() + connect_timeout;
  int err = 0;
  SOCKET s = INVALID_SOCKET;
  for (ADDRINFOW* a = list; a != nullptr; a = a->ai_next) {
    s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      err = WSAGetLastError();
      continue;
    }
    err = ConnectWithin(s, a->ai_addr, static_cast<int>(a->ai_addrlen), limited,
                        deadline);
    if (err == 0) break;
    closesocket(s);
    s = INVALID_SOCKET;
  }
  FreeAddrInfoW(list);
  if (s == INVALID_SOCKET) {
    if (err == WSAETIMEDOUT && limited) {
      return ConnectTimedOut(host, port, connect_timeout);
    }
    return LinkError(err);
  }
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
             sizeof one);
  if (send_timeout.count() > 0) {
    DWORD ms = static_cast<DWORD>(send_timeout.count());
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
               sizeof ms);
  }
  return std::unique_ptr<Socket>(new Win32Socket(s, send_timeout));
}

}  // namespace skjk
