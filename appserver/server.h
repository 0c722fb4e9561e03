// The listening side of skjk-server: accepts clients on one TCP port and
// runs each session on a thread of its own until SIGINT or SIGTERM.
#ifndef SKJK_APPSERVER_SERVER_H_
#define SKJK_APPSERVER_SERVER_H_

#include <string>
#include <vector>

#include "appserver/database.h"
#include "appserver/network_rules.h"
#include "appserver/session.h"
#include "base/status.h"

namespace skjk::appserver {

struct ServeOptions {
  std::string listen = "127.0.0.1";
  int port = 0;           // 0: a free port chosen by the system
  std::string port_file;  // when set, the port is written there once bound
  // The networks clients may connect from. Empty: any, which is allowed only
  // when `listen` is a loopback address. When given, it is the whole rule:
  // loopback clients too must lie inside it.
  std::vector<Network> allow;
  int max_sessions = 64;  // connections served at once, greeted or not
  SessionLimits limits;
};

// Serves until SIGINT or SIGTERM; then interrupts running statements, ends
// every session (rolling back their open transactions) and returns OK.
// Refuses to start on an address beyond loopback without `allow`.
Status Serve(Database* db, const ServeOptions& options);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SERVER_H_
