// One client session of skjk-server: the handshake, then requests answered
// in order until the client leaves. Owns its database session; an open
// transaction is rolled back when the session ends, however it ends.
#ifndef SKJK_APPSERVER_SESSION_H_
#define SKJK_APPSERVER_SESSION_H_

#include <string>

#include "appserver/database.h"

namespace skjk::appserver {

// Logs one line to stderr (thread-safe).
void Log(const std::string& line);

// Serves the connected socket `fd` until the client closes it, a frame
// breaks the framing, or the socket is shut down from outside. Never throws.
// Closes nothing: the caller owns `fd`.
void RunSession(int fd, int id, const std::string& peer, Database* db);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SESSION_H_
