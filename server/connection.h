// The connection of an interface window to the application server
// (DCOMConnection1): one TCP session with skjk-server.
//
// The server machine is the host's text 5: a host name or address, optionally
// followed by ":port"; empty means this computer. All texts given to and
// returned by a Connection are GBK; they travel as UTF-8.
//
// Not thread-safe: a window uses its connection from its own thread only.
#ifndef SKJK_SERVER_CONNECTION_H_
#define SKJK_SERVER_CONNECTION_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "server/records.h"

namespace skjk {

inline constexpr int kDefaultServerPort = 21436;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The server machine used by the next Open().
  void set_machine_name(std::string machine) { machine_ = std::move(machine); }
  const std::string& machine_name() const { return machine_; }

  // Drops any open session and opens a new one (with the version handshake).
  Status Open();
  // Ends the session, if any. The server rolls back an open transaction.
  void Close();
  bool connected() const;

  // Get-records: asks `provider` for up to `packet_size` master records
  // (kAllRecords for all) with their nested lines; the layout comes along
  // when `with_layout`. `params` are the parameters by position. With no
  // params and without layout it is the next packet of the provider's last
  // request in this session. Opens the session first when it is closed.
  static constexpr int kAllRecords = -1;
  Status GetRecords(std::string_view provider, int packet_size,
                    bool with_layout, const std::vector<std::string>& params,
                    Packet* packet);

  // Execute: runs one SQL statement through provider `dsp_temp`. Opens the
  // session first when it is closed.
  Status Execute(std::string_view sql);

  // Calls a method of the server object by name (CustObjdbTranStart,
  // CustObjdbCommit, CustObjdbRollback). Fails without an open session; does
  // not open one.
  Status Call(std::string_view method);

 private:
  class Impl;
  // Drops the session after a failure that was not the server's own answer.
  Status Finish(Status s);
  std::string machine_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace skjk

#endif  // SKJK_SERVER_CONNECTION_H_
