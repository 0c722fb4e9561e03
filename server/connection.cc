// DCOMConnection1 over TCP: one skjk-server session, frames of
// server/protocol.h.
#include "server/connection.h"

#include <cstdlib>
#include <utility>

#include "platform/socket.h"
#include "server/protocol.h"
#include "text/gbk.h"

namespace skjk {

using text::literals::operator""_gbk;

namespace {

// Splits the server machine "host", "host:port" or "[v6]:port" into its
// parts; empty means this computer.
Status ParseMachine(const std::string& machine, std::string* host, int* port) {
  *port = kDefaultServerPort;
  std::string m = machine;
  while (!m.empty() && (m.back() == ' ' || m.back() == '\t')) m.pop_back();
  size_t b = m.find_first_not_of(" \t");
  m = b == std::string::npos ? std::string() : m.substr(b);
  std::string port_text;
  if (!m.empty() && m[0] == '[') {
    size_t close = m.find(']');
    if (close == std::string::npos) {
      return Status::BadInput("Bad server machine name: " + machine);
    }
    *host = m.substr(1, close - 1);
    if (close + 1 < m.size()) {
      if (m[close + 1] != ':') {
        return Status::BadInput("Bad server machine name: " + machine);
      }
      port_text = m.substr(close + 2);
    }
  } else {
    size_t colon = m.find(':');
    if (colon != std::string::npos &&
        m.find(':', colon + 1) == std::string::npos) {
      *host = m.substr(0, colon);
      port_text = m.substr(colon + 1);
      if (port_text.empty()) {
        return Status::BadInput("Bad server machine name: " + machine);
      }
    } else {
      *host = m;  // a name, or an IPv6 address without port
    }
  }
  if (!port_text.empty()) {
    char* end = nullptr;
    long p = std::strtol(port_text.c_str(), &end, 10);
    if (*end != '\0' || p <= 0 || p > 65535) {
      return Status::BadInput("Bad port in server machine name: " + machine);
    }
    *port = static_cast<int>(p);
  }
  if (host->empty()) *host = "127.0.0.1";
  return Status::OK();
}

// A failed request that did not get the server's own answer leaves the
// stream unusable, whatever the reason (a garbled frame as much as a broken
// socket): the link is lost.
Status LinkFailure(Status s) {
  if (s.ok() || s.IsRefused() || s.IsLinkLost()) return s;
  return Status::LinkLost(s.message());
}

Status SessionGone() {
  return Status::LinkLost("与应用服务器的会话已结束"_gbk);
}

}  // namespace

class Connection::Impl {
 public:
  explicit Impl(std::unique_ptr<Socket> socket) : socket_(std::move(socket)) {}

  Status Send(protocol::MessageType type, std::string_view payload) {
    char header[protocol::kHeaderSize];
    protocol::PutHeader(type, static_cast<uint32_t>(payload.size()), header);
    out_.assign(header, sizeof header);
    out_.append(payload);
    return socket_->SendAll(out_.data(), out_.size());
  }

  // Reads one frame into type_/payload_.
  Status Receive() {
    char header[protocol::kHeaderSize];
    SKJK_RETURN_IF_ERROR(socket_->RecvAll(header, sizeof header));
    protocol::Header h;
    SKJK_RETURN_IF_ERROR(
        protocol::ParseHeader(header, protocol::kMaxPayload, &h));
    payload_.resize(h.size);
    if (h.size > 0)
      SKJK_RETURN_IF_ERROR(socket_->RecvAll(payload_.data(), h.size));
    type_ = h.type;
    return Status::OK();
  }

  // The server's error answer as a Status (GBK).
  Status ServerError() {
    std::string message;
    SKJK_RETURN_IF_ERROR(protocol::DecodeError(payload_, &message));
    return Status::Refused(text::Utf8ToGbk(message));
  }

  Status Unexpected(std::string_view expected) {
    return Status::LinkLost("Unexpected answer " +
                            protocol::TypeName(static_cast<uint8_t>(type_)) +
                            " from the application server (expected " +
                            std::string(expected) + ")");
  }

  Status Handshake() {
    SKJK_RETURN_IF_ERROR(Send(protocol::MessageType::kHello,
                              protocol::EncodeHello(protocol::Hello{})));
    SKJK_RETURN_IF_ERROR(Receive());
    if (type_ == protocol::MessageType::kError) return ServerError();
    if (type_ != protocol::MessageType::kHelloOk) return Unexpected("HelloOk");
    uint16_t version;
    std::string server;
    SKJK_RETURN_IF_ERROR(protocol::DecodeHelloOk(payload_, &version, &server));
    if (version != protocol::kVersion) {
      return Status::LinkLost("Application server speaks protocol version " +
                              std::to_string(version) + ", this client " +
                              std::to_string(protocol::kVersion));
    }
    return Status::OK();
  }

  // Waits for Ok (with the rows changed) or Error.
  Status ReceiveOk(int64_t* rows_changed) {
    SKJK_RETURN_IF_ERROR(Receive());
    if (type_ == protocol::MessageType::kError) return ServerError();
    if (type_ != protocol::MessageType::kOk) return Unexpected("Ok");
    return protocol::DecodeOk(payload_, rows_changed);
  }

  // Reads a record stream: header, chunks, end; or an error at any point.
  Status ReceiveRecords(bool with_layout, Packet* packet) {
    SKJK_RETURN_IF_ERROR(Receive());
    if (type_ == protocol::MessageType::kError) return ServerError();
    if (type_ != protocol::MessageType::kRecordsHeader) {
      return Unexpected("RecordsHeader");
    }
    std::vector<FieldDef> layout;
    SKJK_RETURN_IF_ERROR(protocol::DecodeLayout(payload_, &layout));
    Rows rows;
    for (;;) {
      SKJK_RETURN_IF_ERROR(Receive());
      switch (type_) {
        case protocol::MessageType::kRecordsChunk:
          SKJK_RETURN_IF_ERROR(decoder_.DecodeChunk(payload_, layout, &rows));
          break;
        case protocol::MessageType::kRecordsEnd: {
          uint64_t total;
          bool exhausted;
          SKJK_RETURN_IF_ERROR(
              protocol::DecodeRecordsEnd(payload_, &total, &exhausted));
          if (total != rows.size()) {
            return Status::LinkLost(
                "Application server announced " + std::to_string(total) +
                " records but sent " + std::to_string(rows.size()));
          }
          packet->rows = std::move(rows);
          if (with_layout) packet->layout = std::move(layout);
          return Status::OK();
        }
        case protocol::MessageType::kError:
          return ServerError();
        default:
          return Unexpected("RecordsChunk");
      }
    }
  }

 private:
  std::unique_ptr<Socket> socket_;
  std::string out_;
  std::string payload_;
  protocol::MessageType type_ = protocol::MessageType::kError;
  protocol::RowDecoder decoder_;
};

Connection::Connection() = default;
Connection::~Connection() = default;

bool Connection::connected() const { return impl_ != nullptr; }

void Connection::Close() { impl_.reset(); }

Status Connection::Open() {
  Close();
  std::string host;
  int port;
  SKJK_RETURN_IF_ERROR(ParseMachine(machine_, &host, &port));
  auto socket = ConnectTcp(host, port);
  if (!socket.ok()) return socket.status();
  auto impl = std::make_unique<Impl>(std::move(socket).value());
  SKJK_RETURN_IF_ERROR(LinkFailure(impl->Handshake()));
  impl_ = std::move(impl);
  ++opened_;
  return Status::OK();
}

// An error answer of the server leaves the session usable; any other failure
// (lost connection, garbled frame) ends it, so that the next request
// connects again.
Status Connection::Finish(Status s) {
  if (s.ok() || s.IsRefused()) return s;
  Close();
  return LinkFailure(std::move(s));
}

Status Connection::GetRecords(std::string_view provider, int packet_size,
                              bool with_layout,
                              const std::vector<std::string>& params,
                              Packet* packet) {
  *packet = Packet();
  if (!connected()) SKJK_RETURN_IF_ERROR(Open());
  Status s;
  if (params.empty() && !with_layout) {
    protocol::NextPacket m;
    m.provider = text::GbkToUtf8(provider);
    m.packet_size = packet_size;
    s = impl_->Send(protocol::MessageType::kNextPacket,
                    protocol::EncodeNextPacket(m));
  } else {
    protocol::GetRecords m;
    m.provider = text::GbkToUtf8(provider);
    m.packet_size = packet_size;
    m.with_layout = with_layout;
    for (const auto& p : params) m.params.push_back(text::GbkToUtf8(p));
    s = impl_->Send(protocol::MessageType::kGetRecords,
                    protocol::EncodeGetRecords(m));
  }
  if (s.ok()) s = impl_->ReceiveRecords(with_layout, packet);
  return Finish(std::move(s));
}

Status Connection::Execute(std::string_view sql) {
  if (!connected()) SKJK_RETURN_IF_ERROR(Open());
  return SendExecute(sql, nullptr);
}

Status Connection::ExecuteIn(SessionId session, std::string_view sql,
                             int64_t* rows_changed) {
  if (session == 0 || session != this->session()) return SessionGone();
  return SendExecute(sql, rows_changed);
}

Status Connection::Call(std::string_view method) {
  if (!connected()) {
    return Status::LinkLost("Not connected to the application server: " +
                            std::string(method) + " not called");
  }
  return SendCall(method);
}

Status Connection::CallIn(SessionId session, std::string_view method) {
  if (session == 0 || session != this->session()) return SessionGone();
  return SendCall(method);
}

Status Connection::SendExecute(std::string_view sql, int64_t* rows_changed) {
  protocol::Execute m;
  m.provider = "dsp_temp";
  m.sql = text::GbkToUtf8(sql);
  Status s =
      impl_->Send(protocol::MessageType::kExecute, protocol::EncodeExecute(m));
  int64_t changed = 0;
  if (s.ok()) s = impl_->ReceiveOk(&changed);
  if (s.ok() && rows_changed != nullptr) *rows_changed = changed;
  return Finish(std::move(s));
}

Status Connection::SendCall(std::string_view method) {
  protocol::Call m;
  m.method = text::GbkToUtf8(method);
  Status s = impl_->Send(protocol::MessageType::kCall, protocol::EncodeCall(m));
  int64_t changed;
  if (s.ok()) s = impl_->ReceiveOk(&changed);
  return Finish(std::move(s));
}

}  // namespace skjk
