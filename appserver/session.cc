#include "appserver/session.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>

#include "appserver/exchange_journal.h"
#include "appserver/provider_catalogue.h"
#include "appserver/record_stream.h"
#include "wire/protocol.h"

namespace skjk::appserver {

std::string LogText(std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(line.size());
  for (char c : line) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f || c == '\\') {
      out += '\\';
      if (c == '\\') {
        out += '\\';
      } else {
        out += 'x';
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    } else {
      out += c;
    }
  }
  return out;
}

void Log(const std::string& line) {
  const std::string text = "skjk-server: " + LogText(line) + "\n";
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

namespace {

using protocol::MessageType;
using Clock = std::chrono::steady_clock;

// How often a running statement looks whether its client is still there.
constexpr auto kPeerCheckInterval = std::chrono::milliseconds(100);
// The most a client may take to greet (less when the idle limit is less):
// silent connections must not hold the session places for long.
constexpr int kHelloTimeout = 10;

// Equal names, ignoring ASCII case (methods are called by name as through
// automation, which ignores case).
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

class Session final : public RecordSink {
 public:
  Session(int fd, int id, std::string peer, Database* db,
          const SessionLimits& limits)
      : fd_(fd),
        id_(id),
        peer_(std::move(peer)),
        db_(db),
        limits_(limits),
        hello_deadline_(Clock::now() + std::chrono::seconds(IdleTimeout())) {}

  void Run() {
    Log("session " + std::to_string(id_) + " from " + peer_ + " opened");
    std::string end = Loop();
    if (stopping() && end.find("stopping") == std::string::npos)
      end += " (server stopping)";
    if (session_ != nullptr && session_->in_transaction()) {
      Status s = session_->Rollback();
      end += s.ok()
                 ? "; open transaction rolled back"
                 : "; rollback of the open transaction failed: " + s.message();
    }
    journal_.reset();
    session_.reset();  // closes the database connection (and rolls back)
    Log("session " + std::to_string(id_) + " closed after " +
        std::to_string(requests_) + " requests: " + end);
  }

  // RecordSink
  Status Header(const std::vector<FieldDef>& layout) override {
    std::string p;
    protocol::Writer w(&p);
    protocol::EncodeLayout(layout, &w);
    stream_open_ = true;
    return Send(MessageType::kRecordsHeader, p);
  }
  Status Chunk(uint64_t count, std::string_view body) override {
    char head[protocol::kHeaderSize + 10];
    std::string v;
    protocol::Writer(&v).Varint(count);
    protocol::PutHeader(MessageType::kRecordsChunk,
                        static_cast<uint32_t>(v.size() + body.size()), head);
    memcpy(head + protocol::kHeaderSize, v.data(), v.size());
    iovec iov[2] = {{head, protocol::kHeaderSize + v.size()},
                    {const_cast<char*>(body.data()), body.size()}};
    Status s = SendV(iov, 2);
    // A statement that keeps delivering records is doing what was asked (a
    // year of documents takes minutes): the limit bounds the time until the
    // next chunk, not the whole answer.
    if (s.ok()) {
      deadline_ =
          Clock::now() + std::chrono::seconds(limits_.statement_timeout);
    }
    return s;
  }
  Status End(uint64_t total, bool exhausted) override {
    stream_open_ = false;
    return Send(MessageType::kRecordsEnd,
                protocol::EncodeRecordsEnd(total, exhausted));
  }

 private:
  // Returns why the session ended.
  std::string Loop() {
    for (;;) {
      char header[protocol::kHeaderSize];
      Status s = RecvAll(header, sizeof header, /*eof_ok=*/true);
      if (!s.ok()) return s.message();
      protocol::Header h;
      // Before Hello only a greeting fits: an unknown client reserves no
      // memory by announcing a large frame.
      s = protocol::ParseHeader(
          header, greeted_ ? protocol::kMaxRequestPayload : kMaxHelloPayload,
          &h);
      if (!s.ok()) {
        // The rest of the stream cannot be framed any more.
        Fail("request refused: " + s.message() +
             (greeted_ ? "" : " before Hello"));
        return "framing lost";
      }
      payload_.resize(h.size);
      if (h.size > 0) {
        s = RecvAll(payload_.data(), h.size, /*eof_ok=*/false);
        if (!s.ok()) return s.message();
      }
      ++requests_;
      if (!greeted_ && h.type != MessageType::kHello) {
        Fail("the session must begin with Hello, not " +
             protocol::TypeName(static_cast<uint8_t>(h.type)));
        return "no greeting";
      }
      if (!Dispatch(h.type)) {
        return end_reason_.empty() ? "connection lost" : end_reason_;
      }
      if (!greeted_) return "handshake failed";
    }
  }

  // Handles one request; false when the connection is unusable.
  bool Dispatch(MessageType type) {
    Status s;
    deadline_ = Clock::now() + std::chrono::seconds(limits_.statement_timeout);
    interrupted_.clear();
    const bool was_in_transaction =
        session_ != nullptr && session_->in_transaction();
    try {
      s = Handle(type);
    } catch (const std::exception& e) {
      s = Status::Error(std::string("internal error: ") + e.what());
    }
    if (send_failed_) return false;
    if (!interrupted_.empty()) {
      if (client_gone_ || stopping()) {
        end_reason_ = interrupted_;
        return false;
      }
      std::string message = interrupted_;
      if (was_in_transaction && !session_->in_transaction())
        message += "; the transaction was rolled back";
      s = Status::Error(message);
    }
    if (!s.ok()) {
      // An error inside a record stream ends it.
      stream_open_ = false;
      Fail(protocol::TypeName(static_cast<uint8_t>(type)) + ": " + s.message());
      if (send_failed_) return false;
    }
    return true;
  }

  Status Handle(MessageType type) {
    switch (type) {
      case MessageType::kHello:
        return HandleHello();
      case MessageType::kGetRecords: {
        protocol::GetRecords m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeGetRecords(payload_, &m));
        const ProviderDef* def = FindProvider(m.provider);
        if (def == nullptr) return UnknownProvider(m.provider);
        ProviderCursor& cursor = cursors_[def];
        cursor = ProviderCursor();
        SKJK_RETURN_IF_ERROR(StartCursor(*def, m.params, &cursor));
        return StreamPacket(session_.get(), &cursor, m.packet_size, this,
                            limits_.read_batch);
      }
      case MessageType::kNextPacket: {
        protocol::NextPacket m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeNextPacket(payload_, &m));
        const ProviderDef* def = FindProvider(m.provider);
        if (def == nullptr) return UnknownProvider(m.provider);
        auto cursor = cursors_.find(def);
        if (cursor == cursors_.end() || cursor->second.def != def) {
          return Status::Error("no request of provider " + m.provider +
                               " to continue in this session");
        }
        return StreamPacket(session_.get(), &cursor->second, m.packet_size,
                            this, limits_.read_batch);
      }
      case MessageType::kExecute: {
        protocol::Execute m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeExecute(payload_, &m));
        if (m.provider != "dsp_temp") {
          return Status::Error("provider " + m.provider +
                               " does not run commands (use dsp_temp)");
        }
        auto changed = journal_->Execute(m.sql);
        if (!changed.ok()) return changed.status();
        return Send(MessageType::kOk, protocol::EncodeOk(*changed));
      }
      case MessageType::kCall: {
        protocol::Call m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeCall(payload_, &m));
        Status s;
        if (SameName(m.method, "CustObjdbTranStart")) {
          s = session_->Begin();
        } else if (SameName(m.method, "CustObjdbCommit")) {
          s = session_->Commit();
        } else if (SameName(m.method, "CustObjdbRollback")) {
          s = session_->Rollback();
        } else {
          return Status::Error("unknown method " + m.method);
        }
        // A transaction began or ended: the journal's next write-back
        // entry is another.
        if (s.ok() || !session_->in_transaction()) {
          journal_->TransactionBoundary();
        }
        SKJK_RETURN_IF_ERROR(s);
        return Send(MessageType::kOk, protocol::EncodeOk(0));
      }
      case MessageType::kRecordExport: {
        protocol::RecordExport m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeRecordExport(payload_, &m));
        auto entry = journal_->RecordExport(m);
        if (!entry.ok()) return entry.status();
        return Send(MessageType::kOk, protocol::EncodeOk(*entry));
      }
      case MessageType::kCheckExport: {
        protocol::CheckExport m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeCheckExport(payload_, &m));
        auto history = journal_->CheckExport(m);
        if (!history.ok()) return history.status();
        return Send(MessageType::kExportHistory,
                    protocol::EncodeExportHistory(*history));
      }
      case MessageType::kCheckInvoices: {
        protocol::CheckInvoices m;
        SKJK_RETURN_IF_ERROR(protocol::DecodeCheckInvoices(payload_, &m));
        auto state = journal_->CheckInvoices(m);
        if (!state.ok()) return state.status();
        return Send(MessageType::kInvoiceState,
                    protocol::EncodeInvoiceState(*state));
      }
      default:
        return Status::Error("unknown request type " +
                             protocol::TypeName(static_cast<uint8_t>(type)));
    }
  }

  Status HandleHello() {
    if (greeted_) return Status::Error("the session has been greeted already");
    protocol::Hello m;
    SKJK_RETURN_IF_ERROR(protocol::DecodeHello(payload_, &m));
    if (m.version != protocol::kVersion) {
      return Status::Error("protocol version " + std::to_string(m.version) +
                           " is not supported (this server speaks " +
                           std::to_string(protocol::kVersion) + ")");
    }
    auto session = db_->OpenSession();
    if (!session.ok()) return session.status();
    session_ = std::move(session).value();
    session_->SetInterruptCheck([this] { return ShouldInterrupt(); });
    // The peer is ADDRESS:PORT; the desk is the address.
    journal_ = std::make_unique<ExchangeJournal>(
        session_.get(),
        Desk{peer_.substr(0, peer_.rfind(':')), m.computer, m.user});
    greeted_ = true;
    return Send(MessageType::kHelloOk,
                protocol::EncodeHelloOk(protocol::kVersion, "skjk-server"));
  }

  Status UnknownProvider(const std::string& name) {
    if (name == "dsp_temp") {
      return Status::Error("provider dsp_temp runs commands only");
    }
    return Status::Error("unknown provider " + name);
  }

  // Reports a failure to the client and the log.
  void Fail(const std::string& message) {
    Log("session " + std::to_string(id_) + ": " + message);
    Status s = Send(MessageType::kError, protocol::EncodeError(message));
    (void)s;  // a lost connection ends the session through send_failed_
  }

  bool stopping() const {
    return limits_.stopping != nullptr && limits_.stopping->load();
  }

  // Called while a statement runs: true (with the reason in interrupted_)
  // when it must stop.
  bool ShouldInterrupt() {
    if (stopping()) {
      interrupted_ = "statement interrupted: the server is stopping";
      return true;
    }
    const auto now = Clock::now();
    if (now > deadline_) {
      interrupted_ = "statement interrupted: it ran longer than " +
                     std::to_string(limits_.statement_timeout) +
                     " s (--statement-timeout)";
      return true;
    }
    if (now >= next_peer_check_) {
      next_peer_check_ = now + kPeerCheckInterval;
      pollfd p = {fd_, POLLRDHUP, 0};
      if (poll(&p, 1, 0) > 0 &&
          (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        client_gone_ = true;
        interrupted_ = "client left while its request ran";
        return true;
      }
    }
    return false;
  }

  // The idle limit that applies now, in seconds.
  int IdleTimeout() const {
    if (!greeted_) return std::min(kHelloTimeout, limits_.idle_timeout);
    return session_ != nullptr && session_->in_transaction()
               ? limits_.transaction_idle_timeout
               : limits_.idle_timeout;
  }

  // How long a read may wait for the client's next bytes: the idle limit
  // from now, but before Hello only what is left of the greeting's time,
  // which runs from the connection on whatever bytes arrive meanwhile.
  int WaitMillis() const {
    if (greeted_) return IdleTimeout() * 1000;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        hello_deadline_ - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
  }

  // Ends an idle session: rolls its transaction back, then tells the client
  // why (not logged here: the session's closing line says it).
  std::string EndIdle(bool mid_frame) {
    std::string why;
    if (session_ != nullptr && session_->in_transaction()) {
      Status s = session_->Rollback();
      why = "session ended: idle for " +
            std::to_string(limits_.transaction_idle_timeout) +
            " s inside a transaction (--transaction-idle-timeout); " +
            (s.ok() ? "the transaction was rolled back"
                    : "rollback failed: " + s.message());
    } else if (!greeted_) {
      why = "session ended: no Hello within " + std::to_string(IdleTimeout()) +
            " s";
    } else {
      why = std::string("session ended: ") +
            (mid_frame ? "a request stalled" : "no request") + " for " +
            std::to_string(limits_.idle_timeout) + " s (--idle-timeout)";
    }
    Status s = Send(MessageType::kError, protocol::EncodeError(why));
    (void)s;
    return why;
  }

  Status Send(MessageType type, std::string_view payload) {
    char head[protocol::kHeaderSize];
    protocol::PutHeader(type, static_cast<uint32_t>(payload.size()), head);
    iovec iov[2] = {{head, sizeof head},
                    {const_cast<char*>(payload.data()), payload.size()}};
    return SendV(iov, 2);
  }

  Status SendV(iovec* iov, int n) {
    if (send_failed_) return Status::Error("connection lost");
    while (n > 0) {
      msghdr msg{};
      msg.msg_iov = iov;
      msg.msg_iovlen = n;
      ssize_t sent = sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // The client reads slowly or not at all. Waiting counts for the
        // idle limit, not for the statement's time.
        const auto start = Clock::now();
        pollfd p = {fd_, POLLOUT, 0};
        int ready = poll(&p, 1, limits_.idle_timeout * 1000);
        deadline_ += Clock::now() - start;
        if (ready == 0) {
          send_failed_ = true;
          end_reason_ =
              "session ended: the client read nothing of the "
              "answer for " +
              std::to_string(limits_.idle_timeout) + " s (--idle-timeout)";
          return Status::Error(end_reason_);
        }
        continue;
      }
      if (sent < 0) {
        if (errno == EINTR) continue;
        send_failed_ = true;
        return Status::Error(std::string("send failed: ") + strerror(errno));
      }
      size_t left = static_cast<size_t>(sent);
      while (n > 0 && left >= iov->iov_len) {
        left -= iov->iov_len;
        ++iov;
        --n;
      }
      if (n > 0) {
        iov->iov_base = static_cast<char*>(iov->iov_base) + left;
        iov->iov_len -= left;
      }
    }
    return Status::OK();
  }

  Status RecvAll(char* p, size_t size, bool eof_ok) {
    bool first = true;
    while (size > 0) {
      pollfd w = {fd_, POLLIN, 0};
      int ready = poll(&w, 1, WaitMillis());
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return Status::Error(EndIdle(!first || !eof_ok));
      ssize_t n = recv(fd_, p, size, 0);
      if (n == 0) {
        return Status::Error(first && eof_ok ? "client closed the connection"
                                             : "client left in mid-frame");
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::Error(std::string("receive failed: ") + strerror(errno));
      }
      first = false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return Status::OK();
  }

  int fd_;
  int id_;
  std::string peer_;
  Database* db_;
  const SessionLimits limits_;
  std::unique_ptr<DbSession> session_;
  std::unique_ptr<ExchangeJournal> journal_;  // on session_
  std::string payload_;
  // Each provider keeps its own place, so that a window can fetch on in one
  // view after it has queried another.
  std::map<const ProviderDef*, ProviderCursor> cursors_;
  bool greeted_ = false;
  // Before Hello, the session ends at this time (from the connection).
  const Clock::time_point hello_deadline_;
  bool stream_open_ = false;
  bool send_failed_ = false;
  uint64_t requests_ = 0;
  // The running request's end of time in the database; why it was
  // interrupted (empty: it was not); when to look for the client next.
  Clock::time_point deadline_;
  std::string interrupted_;
  Clock::time_point next_peer_check_;
  bool client_gone_ = false;
  std::string end_reason_;  // why a request ended the session
};

}  // namespace

void RunSession(int fd, int id, const std::string& peer, Database* db,
                const SessionLimits& limits) {
  try {
    Session(fd, id, peer, db, limits).Run();
  } catch (const std::exception& e) {
    Log("session " + std::to_string(id) +
        " ended by an internal error: " + e.what());
  }
}

}  // namespace skjk::appserver
