// The listening side of skjk-server: accepts clients on one TCP port and
// runs each session on a thread of its own until SIGINT or SIGTERM.
#ifndef SKJK_APPSERVER_SERVER_H_
#define SKJK_APPSERVER_SERVER_H_

#include <string>

#include "appserver/database.h"
#include "base/status.h"

namespace skjk::appserver {

struct ServeOptions {
  std::string listen = "127.0.0.1";
  int port = 0;           // 0: a free port chosen by the system
  std::string port_file;  // when set, the port is written there once bound
};

// Serves until SIGINT or SIGTERM; then ends every session (rolling back
// their open transactions) and returns OK.
Status Serve(Database* db, const ServeOptions& options);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SERVER_H_
