// TCP client on Winsock. WSAStartup runs once, on the first connection.
#include <winsock2.h>
#include <ws2tcpip.h>

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

class Win32Socket final : public Socket {
 public:
  explicit Win32Socket(SOCKET s) : s_(s) {}
  ~Win32Socket() override { closesocket(s_); }

  Result<size_t> SendSome(const char* data, size_t size) override {
    int n = send(s_, data, Chunk(size), 0);
    if (n == SOCKET_ERROR) return LinkError(WSAGetLastError());
    return static_cast<size_t>(n);
  }

  Result<size_t> RecvSome(char* data, size_t size) override {
    int n = recv(s_, data, Chunk(size), 0);
    if (n == SOCKET_ERROR) return LinkError(WSAGetLastError());
    return static_cast<size_t>(n);
  }

 private:
  SOCKET s_;
};

}  // namespace

Result<std::unique_ptr<Socket>> ConnectTcp(std::string_view host, int port) {
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
  int err = 0;
  SOCKET s = INVALID_SOCKET;
  for (ADDRINFOW* a = list; a != nullptr; a = a->ai_next) {
    s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      err = WSAGetLastError();
      continue;
    }
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) break;
    err = WSAGetLastError();
    closesocket(s);
    s = INVALID_SOCKET;
  }
  FreeAddrInfoW(list);
  if (s == INVALID_SOCKET) return LinkError(err);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
             sizeof one);
  return std::unique_ptr<Socket>(new Win32Socket(s));
}

}  // namespace skjk
