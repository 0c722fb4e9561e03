// ScriptedServer: a stand-in for skjk-server on a loopback port, for tests
// of the client against answers written by hand (POSIX only).
#ifndef SKJK_TESTING_SCRIPTED_SERVER_H_
#define SKJK_TESTING_SCRIPTED_SERVER_H_

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/scoped_fd.h"
#include "wire/protocol.h"

namespace skjk::testing {

// Listens on a loopback port; the script runs on the first connection
// accepted (with the connected descriptor) in a thread of its own. The
// script's waits end when the client goes away, so that the thread never
// outlives a test by much.
class ScriptedServer {
 public:
  using Script = std::function<void(int fd)>;

  explicit ScriptedServer(Script script, int backlog = 1)
      : script_(std::move(script)) {
    listener_.reset(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        listen(listener_.get(), backlog) != 0 ||
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr),
                    &size) != 0) {
      ADD_FAILURE() << "cannot listen: " << strerror(errno);
      return;
    }
    port_ = ntohs(addr.sin_port);
    if (script_) thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
  }

  int port() const { return port_; }
  std::string machine() const { return "127.0.0.1:" + std::to_string(port_); }

  // Reads one request frame; false when the client is gone.
  static bool ReadFrame(int fd) {
    protocol::MessageType type;
    std::string payload;
    return ReadRequest(fd, &type, &payload);
  }
  // The same, keeping the request's type and payload.
  static bool ReadRequest(int fd, protocol::MessageType* type,
                          std::string* payload) {
    char header[protocol::kHeaderSize];
    if (!ReadAll(fd, header, sizeof header)) return false;
    protocol::Header h;
    if (!protocol::ParseHeader(header, protocol::kMaxPayload, &h).ok()) {
      return false;
    }
    *type = h.type;
    payload->assign(h.size, '\0');
    return ReadAll(fd, payload->data(), payload->size());
  }

  static bool Send(int fd, std::string_view bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // Waits up to `limit` for the client to close the connection.
  static void AwaitClose(int fd, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) == 1 && recv(fd, buffer, sizeof buffer, 0) <= 0) {
        return;
      }
    }
  }

 private:
  void Serve() {
    pollfd p{listener_.get(), POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return;  // the client never came
    ScopedFd fd(accept(listener_.get(), nullptr, nullptr));
    if (!fd) return;
    script_(fd.get());
  }

  static bool ReadAll(int fd, char* p, size_t size) {
    while (size > 0) {
      pollfd w{fd, POLLIN, 0};
      if (poll(&w, 1, 10000) != 1) return false;
      ssize_t n = recv(fd, p, size, 0);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  Script script_;
  ScopedFd listener_;
  int port_ = 0;
  std::thread thread_;
};

// A script that answers with frames written by hand: for each of `answers`
// it reads one request frame and sends the answer's bytes as they are; then
// it ends, which closes the connection (at once after the Hello when there
// are no answers).
inline ScriptedServer::Script Answering(std::vector<std::string> answers) {
  return [answers = std::move(answers)](int fd) {
    size_t i = 0;
    do {
      if (!ScriptedServer::ReadFrame(fd)) break;
      if (i < answers.size() && !ScriptedServer::Send(fd, answers[i])) break;
    } while (++i < answers.size());
  };
}

// A request as a scripted server received it.
struct Request {
  protocol::MessageType type;
  std::string payload;
};

// The requests a script received, kept for the test's thread to read (the
// script runs in the server's thread).
class ReceivedRequests {
 public:
  void Add(Request request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
  }
  std::vector<Request> All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // The types in the order they came, as protocol::TypeName() names them.
  std::vector<std::string> Types() const {
    std::vector<std::string> types;
    for (const Request& r : All()) {
      types.push_back(protocol::TypeName(static_cast<uint8_t>(r.type)));
    }
    return types;
  }
  // The payloads of the requests of `type`, in order.
  std::vector<std::string> Payloads(protocol::MessageType type) const {
    std::vector<std::string> payloads;
    for (const Request& r : All()) {
      if (r.type == type) payloads.push_back(r.payload);
    }
    return payloads;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
};

// A script that plays a server by request type: each request (the Hello
// first) is noted in `received` and answered with the bytes `answer` gives
// for it, whole frames as they travel; an empty answer closes the
// connection. It runs until the client goes away.
using AnswerFn = std::function<std::string(const Request& request)>;
inline ScriptedServer::Script Serving(ReceivedRequests* received,
                                      AnswerFn answer) {
  return [received, answer = std::move(answer)](int fd) {
    Request request;
    while (ScriptedServer::ReadRequest(fd, &request.type, &request.payload)) {
      received->Add(request);
      const std::string bytes = answer(request);
      if (bytes.empty() || !ScriptedServer::Send(fd, bytes)) return;
    }
  };
}

// The server's greeting, as a script sends it to Hello.
inline std::string HelloOkFrame() {
  return protocol::Frame(
      protocol::MessageType::kHelloOk,
      protocol::EncodeHelloOk(protocol::kVersion, "scripted server"));
}

}  // namespace skjk::testing

#endif  // SKJK_TESTING_SCRIPTED_SERVER_H_
