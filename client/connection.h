// The connection of an interface window to the application server
// (DCOMConnection1): one TCP session with skjk-server.
//
// The server machine is the host's text 5: a host name or address, optionally
// followed by ":port"; empty means this computer. All texts given to and
// returned by a Connection are GBK; they travel as UTF-8.
//
// Failures (base/status.h):
//   BadInput  the server machine text cannot be parsed; nothing was sent.
//   Refused   the server answered with its own error (its message). An open
//             session stays open and the next request goes to it.
//   LinkLost  no session could be made, or it broke: the system's message,
//             "与应用服务器的连接已断开" when the server closed the connection,
//             or a text naming an answer that makes no sense. The session is
//             closed (the server rolls back its open transaction), and the
//             next request that opens sessions gets a new one. A request
//             bound to a session that has ended (ExecuteIn, CallIn) fails the
//             same way with "与应用服务器的会话已结束" and leaves the
//             connection as it is. A session the server ended on its own
//             (one idle for too long) counts as closed: GetRecords and
//             Execute open a new one, Call and the bound requests fail.
//             A server that does not accept the connection, or does not
//             answer, within the time limits below, and an answer larger
//             than the limits below, are LinkLost too, with a message in
//             Chinese saying which limit was reached ("在 10 秒内未能连接到
//             应用服务器 host:port", "应用服务器在 60 秒内没有应答",
//             "应用服务器的应答过大…，已拒收").
//
// Writes that belong together go through a Transaction (client/transaction.h),
// which stays on one session.
//
// Not thread-safe: a window uses its connection from its own thread only.
#ifndef SKJK_CLIENT_CONNECTION_H_
#define SKJK_CLIENT_CONNECTION_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "wire/protocol.h"
#include "wire/records.h"

namespace skjk {

// Takes the records of a get-records answer as they arrive, so that the
// answer is never held whole: a document set stores each chunk as it comes.
// A failure returned by any call ends the answer: the connection drops the
// session (the server stops sending) and the request fails with it.
class RecordReceiver {
 public:
  virtual ~RecordReceiver() = default;
  // The layout of the records that follow (every answer begins with it).
  virtual Status Layout(std::vector<FieldDef> layout) = 0;
  // One chunk as it travels (the payload of a RecordsChunk frame: a varint
  // record count, then the records in the layout, texts in UTF-8).
  virtual Status Chunk(std::string_view payload) = 0;
  // Records decoded already (texts in GBK): what sources other than a
  // connection deliver (tests, tools).
  virtual Status Records(Rows rows) = 0;
};

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // What the connection waits for and accepts. The defaults suit the
  // plug-in (a 32-bit process); tests set short ones.
  struct Limits {
    // Making the connection (after the name is resolved).
    std::chrono::milliseconds connect_timeout{10'000};
    // Each frame of an answer, from the moment the connection starts
    // waiting for it until its last byte; also each send that cannot go on.
    std::chrono::milliseconds receive_timeout{60'000};
    // One frame (a record chunk, say); never more than the protocol's
    // largest frame.
    uint32_t max_frame_bytes = 16u << 20;
    // One answer decoded into a Packet: the bytes of its frames and,
    // separately, the memory of the records decoded from it (their
    // structures and texts). A record stream that would go beyond it is
    // refused before it is decoded. Answers streamed into a RecordReceiver
    // are bounded by the receiver (a document set's memory budget) instead.
    size_t max_answer_bytes = size_t{512} << 20;
  };
  // Takes effect from the next Open().
  void set_limits(const Limits& limits) { limits_ = limits; }
  const Limits& limits() const { return limits_; }

  // The server machine used by the next Open().
  void set_machine_name(std::string machine) { machine_ = std::move(machine); }
  const std::string& machine_name() const { return machine_; }

  // The desk named in the greeting of every session opened from now on: the
  // computer and the user signed in (Env::ComputerName, Env::UserName).
  // Each goes out as at most protocol::kMaxDeskName bytes of UTF-8, cut
  // between characters.
  void set_desk(std::string computer, std::string user) {
    computer_ = std::move(computer);
    user_ = std::move(user);
  }

  // Drops any open session and opens a new one (with the version handshake).
  Status Open();
  // Ends the session, if any. The server rolls back an open transaction.
  void Close();
  bool connected() const;

  // The open session: a number that grows with every successful Open() (of
  // this connection), 0 when none is open. A request that reconnects gives a
  // new number, so a number taken earlier tells whether the session it named
  // is still the one open.
  using SessionId = uint64_t;
  SessionId session() const { return connected() ? opened_ : 0; }

  // Get-records: asks `provider` for up to `packet_size` master records
  // (kAllRecords for all) with their nested lines; the layout comes along
  // when `with_layout`. `params` are the parameters by position. With no
  // params and without layout it is the next packet of the provider's last
  // request in this session. Opens the session first when it is closed.
  static constexpr int kAllRecords = -1;
  Status GetRecords(std::string_view provider, int packet_size,
                    bool with_layout, const std::vector<std::string>& params,
                    Packet* packet);
  // The same, streaming the records into `receiver` chunk by chunk (the
  // layout is always given to it). A failure of the receiver is returned as
  // it is, after the session was dropped.
  Status GetRecords(std::string_view provider, int packet_size,
                    bool with_layout, const std::vector<std::string>& params,
                    RecordReceiver* receiver);

  // Runs `waiting` (when set) at least every few tens of milliseconds while
  // a get-records request waits for its answer or takes it in, so that a
  // window's thread goes on processing its messages. It must not use this
  // connection.
  void set_waiting(std::function<void()> waiting) {
    waiting_ = std::move(waiting);
  }

  // Execute: runs one SQL statement through provider `dsp_temp`. Opens the
  // session first when it is closed.
  Status Execute(std::string_view sql);

  // Calls a method of the server object by name (CustObjdbTranStart,
  // CustObjdbCommit, CustObjdbRollback). Fails (LinkLost) without an open
  // session; does not open one.
  Status Call(std::string_view method);

  // The exchange journal (wire/protocol.h). Each request opens the session
  // first when it is closed, like Execute, and goes to the open session
  // otherwise (also one with an open transaction). Texts are GBK here too:
  // file names, the failure text and the invoice numbers of the answers.
  // Document numbers may come in any order and repeat; they are sent sorted
  // and once each.
  // RecordExport records an export run and gives the journal entry's number.
  Result<int64_t> RecordExport(const protocol::RecordExport& record);
  // Which of the documents went out in an earlier export and are still not
  // invoiced.
  Result<protocol::ExportHistory> CheckExport(
      const protocol::CheckExport& check);
  // What the line's tables hold for the documents of an issued-invoice file;
  // the session keeps the line and the file name for the journal entry of
  // its next write-back.
  Result<protocol::InvoiceState> CheckInvoices(
      const protocol::CheckInvoices& check);

  // Execute and Call on session `session` only. They never open a session:
  // when `session` is not the one open (it was closed, or replaced by a
  // reconnect), they send nothing and fail with LinkLost. ExecuteIn stores
  // the number of rows the statement changed in *rows_changed when given.
  Status ExecuteIn(SessionId session, std::string_view sql,
                   int64_t* rows_changed = nullptr);
  Status CallIn(SessionId session, std::string_view method);

 private:
  class Impl;
  Status SendExecute(std::string_view sql, int64_t* rows_changed);
  Status SendCall(std::string_view method);
  // Sends a request that opens the session when it is closed and waits for
  // an answer of type `answer` (its payload in *payload) or Error.
  Status Ask(protocol::MessageType type, std::string_view payload,
             protocol::MessageType answer, std::string* answer_payload);
  // Closes the session when the server has ended it on its own (it does so
  // with a session idle for too long) or the link is gone; true then. A
  // request that opens sessions then opens a new one instead of reading the
  // server's parting words as its answer; one bound to the session fails.
  bool DropEndedSession();
  // Drops the session after a failure that was not the server's own answer
  // and makes that failure LinkLost.
  Status Finish(Status s);
  // Sends a get-records or next-packet request and streams the answer into
  // `receiver`; *receiver_failed tells whether a failure was the receiver's.
  Status RequestRecords(std::string_view provider, int packet_size,
                        bool with_layout,
                        const std::vector<std::string>& params,
                        RecordReceiver* receiver, bool bounded,
                        bool* receiver_failed);
  std::string machine_;
  std::string computer_, user_;  // GBK
  Limits limits_;
  std::function<void()> waiting_;
  std::unique_ptr<Impl> impl_;
  SessionId opened_ = 0;  // sessions opened so far; the open one is the last
};

}  // namespace skjk

#endif  // SKJK_CLIENT_CONNECTION_H_
