// DCOMConnection1 over TCP: one skjk-server session, frames of
// wire/protocol.h.
#include "client/connection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/socket.h"
#include "text/gbk.h"
#include "wire/protocol.h"

namespace skjk {

using text::literals::operator""_gbk;

namespace {

// Splits the server machine "host", "host:port" or "[v6]:port" into its
// parts; empty means this computer.
Status ParseMachine(const std::string& machine, std::string* host, int* port) {
  *port = protocol::kDefaultServerPort;
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

// A desk name (GBK) as the greeting carries it: UTF-8, at most
// kMaxDeskName bytes, not cut inside a character.
std::string DeskName(std::string_view gbk) {
  std::string utf8 = text::GbkToUtf8(gbk);
  if (utf8.size() <= protocol::kMaxDeskName) return utf8;
  size_t end = protocol::kMaxDeskName;
  // Back to the first byte of a character (not a 10xxxxxx byte).
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) {
    --end;
  }
  utf8.resize(end);
  return utf8;
}

std::vector<std::pair<std::string, std::string>> GbkPairs(
    std::vector<std::pair<std::string, std::string>> utf8) {
  for (auto& [first, second] : utf8) {
    first = text::Utf8ToGbk(first);
    second = text::Utf8ToGbk(second);
  }
  return utf8;
}

}  // namespace

// Records of an answer decoded into a Packet, within the connection's limit
// on an answer's decoded memory.
class PacketReceiver final : public RecordReceiver {
 public:
  PacketReceiver(Packet* packet, bool keep_layout, size_t limit)
      : packet_(packet), keep_layout_(keep_layout) {
    decoder_.Limit(limit);
  }
  Status Layout(std::vector<FieldDef> layout) override {
    layout_ = std::move(layout);
    return Status::OK();
  }
  Status Chunk(std::string_view payload) override {
    return decoder_.DecodeChunk(payload, layout_, &rows_);
  }
  Status Records(Rows rows) override {
    for (Row& r : rows) rows_.push_back(std::move(r));
    return Status::OK();
  }
  bool exceeded() const { return decoder_.exceeded(); }
  void Finish() {
    packet_->rows = std::move(rows_);
    if (keep_layout_) packet_->layout = std::move(layout_);
  }

 private:
  Packet* packet_;
  bool keep_layout_;
  std::vector<FieldDef> layout_;
  Rows rows_;
  protocol::RowDecoder decoder_;
};

class Connection::Impl {
 public:
  Impl(std::unique_ptr<Socket> socket, const Limits& limits)
      : socket_(std::move(socket)), limits_(limits) {}

  // What runs while an answer is awaited or taken in (null: nothing).
  void set_waiting(const std::function<void()>* waiting) {
    waiting_ = waiting;
    last_wait_ = std::chrono::steady_clock::now();
  }

  // The server has ended the session on its own (it says why and closes:
  // a session idle for too long) or the link is gone.
  bool Ended() {
    Result<bool> input = socket_->HasInput();
    return !input.ok() || *input;
  }

  Status Send(protocol::MessageType type, std::string_view payload) {
    char header[protocol::kHeaderSize];
    protocol::PutHeader(type, static_cast<uint32_t>(payload.size()), header);
    out_.assign(header, sizeof header);
    out_.append(payload);
    return socket_->SendAll(out_.data(), out_.size());
  }

  // Reads one frame into type_/payload_, within the receive timeout. Frames
  // larger than the limits are refused from their header, before anything
  // is allocated for them; the bytes of the answer so far are counted in
  // answer_bytes_.
  Status Receive() {
    Socket::Deadline deadline = Socket::After(limits_.receive_timeout);
    const Socket::Deadline* limit =
        limits_.receive_timeout.count() > 0 ? &deadline : nullptr;
    char header[protocol::kHeaderSize];
    SKJK_RETURN_IF_ERROR(
        socket_->RecvAll(header, sizeof header, limit, wait_hook()));
    protocol::Header h;
    uint32_t max_frame =
        std::min(limits_.max_frame_bytes, protocol::kMaxPayload);
    if (!protocol::ParseHeader(header, max_frame, &h).ok()) {
      uint32_t size;
      std::memcpy(&size, header, sizeof size);
      return TooLarge("一个数据帧有 "_gbk + std::to_string(size) +
                      " 字节，本机只接受 "_gbk + std::to_string(max_frame) +
                      " 字节"_gbk);
    }
    answer_bytes_ += h.size;
    if (count_answer_ && answer_bytes_ > limits_.max_answer_bytes) {
      return AnswerTooLarge();
    }
    payload_.resize(h.size);
    if (h.size > 0) {
      SKJK_RETURN_IF_ERROR(
          socket_->RecvAll(payload_.data(), h.size, limit, wait_hook()));
    }
    type_ = h.type;
    return Status::OK();
  }

  static Status TooLarge(const std::string& what) {
    return Status::LinkLost("应用服务器的应答过大："_gbk + what +
                            "，已拒收"_gbk);
  }
  Status AnswerTooLarge() const {
    return TooLarge("一次应答超过本机接受的 "_gbk +
                    Megabytes(limits_.max_answer_bytes));
  }
  static std::string Megabytes(size_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " 字节"_gbk;
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

  Status Handshake(const protocol::Hello& hello) {
    SKJK_RETURN_IF_ERROR(
        Send(protocol::MessageType::kHello, protocol::EncodeHello(hello)));
    SKJK_RETURN_IF_ERROR(
        ReceiveAnswer(protocol::MessageType::kHelloOk, "HelloOk"));
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

  // Waits for an answer of type `expected` (named `name` in messages), its
  // payload then in payload(), or Error.
  Status ReceiveAnswer(protocol::MessageType expected, std::string_view name) {
    StartAnswer();
    SKJK_RETURN_IF_ERROR(Receive());
    if (type_ == protocol::MessageType::kError) return ServerError();
    if (type_ != expected) return Unexpected(name);
    return Status::OK();
  }
  const std::string& payload() const { return payload_; }

  // Waits for Ok (with the rows changed) or Error.
  Status ReceiveOk(int64_t* rows_changed) {
    SKJK_RETURN_IF_ERROR(ReceiveAnswer(protocol::MessageType::kOk, "Ok"));
    return protocol::DecodeOk(payload_, rows_changed);
  }

  // Reads a record stream into `receiver`: header, chunks, end; or an error
  // at any point. With `bounded`, the answer's frames count against the
  // answer limit. *receiver_failed tells whether a failure came from the
  // receiver.
  Status ReceiveRecords(RecordReceiver* receiver, bool bounded,
                        bool* receiver_failed) {
    StartAnswer();
    count_answer_ = bounded;
    *receiver_failed = false;
    SKJK_RETURN_IF_ERROR(Receive());
    if (type_ == protocol::MessageType::kError) return ServerError();
    if (type_ != protocol::MessageType::kRecordsHeader) {
      return Unexpected("RecordsHeader");
    }
    std::vector<FieldDef> layout;
    SKJK_RETURN_IF_ERROR(protocol::DecodeLayout(payload_, &layout));
    auto taken = [&](Status s) {
      *receiver_failed = !s.ok();
      return s;
    };
    SKJK_RETURN_IF_ERROR(taken(receiver->Layout(std::move(layout))));
    uint64_t received = 0;
    for (;;) {
      SKJK_RETURN_IF_ERROR(Receive());
      switch (type_) {
        case protocol::MessageType::kRecordsChunk: {
          protocol::Reader r(payload_);
          const uint64_t n = r.Varint();
          if (!r.ok()) {
            return Status::BadInput("malformed RecordsChunk message");
          }
          SKJK_RETURN_IF_ERROR(taken(receiver->Chunk(payload_)));
          received += n;
          Wait(false);
          break;
        }
        case protocol::MessageType::kRecordsEnd: {
          uint64_t total;
          bool exhausted;
          SKJK_RETURN_IF_ERROR(
              protocol::DecodeRecordsEnd(payload_, &total, &exhausted));
          if (total != received) {
            return Status::LinkLost(
                "Application server announced " + std::to_string(total) +
                " records but sent " + std::to_string(received));
          }
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
  void StartAnswer() { answer_bytes_ = 0; }

  // Runs the waiting hook: always after a wait slice without bytes, and
  // otherwise (between chunks) once the last run is a slice's time ago.
  void Wait(bool slice_passed) {
    if (waiting_ == nullptr || !*waiting_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!slice_passed && now - last_wait_ < Socket::kWaitSlice) return;
    (*waiting_)();
    last_wait_ = std::chrono::steady_clock::now();
  }
  const std::function<void()>* wait_hook() const {
    return waiting_ != nullptr && *waiting_ ? &on_wait_slice_ : nullptr;
  }

  std::unique_ptr<Socket> socket_;
  Limits limits_;
  size_t answer_bytes_ = 0;  // of the answer being read
  bool count_answer_ = false;
  std::string out_;
  std::string payload_;
  protocol::MessageType type_ = protocol::MessageType::kError;
  const std::function<void()>* waiting_ = nullptr;
  std::chrono::steady_clock::time_point last_wait_;
  const std::function<void()> on_wait_slice_ = [this] { Wait(true); };
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
  auto socket =
      ConnectTcp(host, port, limits_.connect_timeout, limits_.receive_timeout);
  if (!socket.ok()) return socket.status();
  auto impl = std::make_unique<Impl>(std::move(socket).value(), limits_);
  protocol::Hello hello;
  hello.computer = DeskName(computer_);
  hello.user = DeskName(user_);
  SKJK_RETURN_IF_ERROR(LinkFailure(impl->Handshake(hello)));
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

bool Connection::DropEndedSession() {
  if (!connected() || !impl_->Ended()) return false;
  Close();
  return true;
}

Status Connection::RequestRecords(std::string_view provider, int packet_size,
                                  bool with_layout,
                                  const std::vector<std::string>& params,
                                  RecordReceiver* receiver, bool bounded,
                                  bool* receiver_failed) {
  *receiver_failed = false;
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
  if (!s.ok()) return s;
  impl_->set_waiting(&waiting_);
  s = impl_->ReceiveRecords(receiver, bounded, receiver_failed);
  impl_->set_waiting(nullptr);
  return s;
}

Status Connection::GetRecords(std::string_view provider, int packet_size,
                              bool with_layout,
                              const std::vector<std::string>& params,
                              Packet* packet) {
  *packet = Packet();
  DropEndedSession();
  if (!connected()) SKJK_RETURN_IF_ERROR(Open());
  PacketReceiver receiver(packet, with_layout, limits_.max_answer_bytes);
  bool receiver_failed;
  Status s = RequestRecords(provider, packet_size, with_layout, params,
                            &receiver, /*bounded=*/true, &receiver_failed);
  if (!s.ok() && receiver.exceeded()) s = impl_->AnswerTooLarge();
  if (s.ok()) receiver.Finish();
  return Finish(std::move(s));
}

Status Connection::GetRecords(std::string_view provider, int packet_size,
                              bool with_layout,
                              const std::vector<std::string>& params,
                              RecordReceiver* receiver) {
  DropEndedSession();
  if (!connected()) SKJK_RETURN_IF_ERROR(Open());
  bool receiver_failed;
  Status s = RequestRecords(provider, packet_size, with_layout, params,
                            receiver, /*bounded=*/false, &receiver_failed);
  if (receiver_failed) {
    // The rest of the answer is not wanted: the server notices the closed
    // session and stops.
    Close();
    return s;
  }
  return Finish(std::move(s));
}

Status Connection::Execute(std::string_view sql) {
  DropEndedSession();
  if (!connected()) SKJK_RETURN_IF_ERROR(Open());
  return SendExecute(sql, nullptr);
}

Status Connection::ExecuteIn(SessionId session, std::string_view sql,
                             int64_t* rows_changed) {
  if (session == 0 || session != this->session() || DropEndedSession()) {
    return SessionGone();
  }
  return SendExecute(sql, rows_changed);
}

Status Connection::Call(std::string_view method) {
  DropEndedSession();
  if (!connected()) {
    return Status::LinkLost("Not connected to the application server: " +
                            std::string(method) + " not called");
  }
  return SendCall(method);
}

Status Connection::CallIn(SessionId session, std::string_view method) {
  if (session == 0 || session != this->session() || DropEndedSession()) {
    return SessionGone();
  }
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

Status Connection::Ask(protocol::MessageType type, std::string_view payload,
                       protocol::MessageType answer,
                       std::string* answer_payload) {
  DropEndedSession();
  if (!connected()) SKJK_RETURN_IF_ERROR(Open());
  Status s = impl_->Send(type, payload);
  if (s.ok())
    s = impl_->ReceiveAnswer(answer,
                             protocol::TypeName(static_cast<uint8_t>(answer)));
  if (s.ok()) *answer_payload = impl_->payload();
  return Finish(std::move(s));
}

Result<int64_t> Connection::RecordExport(const protocol::RecordExport& record) {
  protocol::RecordExport m = record;
  m.file_name = text::GbkToUtf8(record.file_name);
  m.failure = text::GbkToUtf8(record.failure);
  protocol::NormalizeDocumentNumbers(&m.documents);
  std::string payload;
  SKJK_RETURN_IF_ERROR(Ask(protocol::MessageType::kRecordExport,
                           protocol::EncodeRecordExport(m),
                           protocol::MessageType::kOk, &payload));
  int64_t entry = 0;
  SKJK_RETURN_IF_ERROR(Finish(protocol::DecodeOk(payload, &entry)));
  return entry;
}

Result<protocol::ExportHistory> Connection::CheckExport(
    const protocol::CheckExport& check) {
  protocol::CheckExport m = check;
  protocol::NormalizeDocumentNumbers(&m.documents);
  std::string payload;
  SKJK_RETURN_IF_ERROR(Ask(protocol::MessageType::kCheckExport,
                           protocol::EncodeCheckExport(m),
                           protocol::MessageType::kExportHistory, &payload));
  protocol::ExportHistory history;
  SKJK_RETURN_IF_ERROR(
      Finish(protocol::DecodeExportHistory(payload, &history)));
  history.last_file = text::Utf8ToGbk(history.last_file);
  return history;
}

Result<protocol::InvoiceState> Connection::CheckInvoices(
    const protocol::CheckInvoices& check) {
  protocol::CheckInvoices m = check;
  m.file_name = text::GbkToUtf8(check.file_name);
  protocol::NormalizeDocumentNumbers(&m.sales);
  protocol::NormalizeDocumentNumbers(&m.void_documents);
  std::string payload;
  SKJK_RETURN_IF_ERROR(Ask(protocol::MessageType::kCheckInvoices,
                           protocol::EncodeCheckInvoices(m),
                           protocol::MessageType::kInvoiceState, &payload));
  protocol::InvoiceState state;
  SKJK_RETURN_IF_ERROR(Finish(protocol::DecodeInvoiceState(payload, &state)));
  state.sales.numbers = GbkPairs(std::move(state.sales.numbers));
  state.void_documents.numbers =
      GbkPairs(std::move(state.void_documents.numbers));
  return state;
}

}  // namespace skjk
