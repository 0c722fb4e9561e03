// One client session of skjk-server: the handshake, then requests answered
// in order until the client leaves. Owns its database session; an open
// transaction is rolled back when the session ends, however it ends.
#ifndef SKJK_APPSERVER_SESSION_H_
#define SKJK_APPSERVER_SESSION_H_

#include <atomic>
#include <string>
#include <string_view>

#include "appserver/database.h"

namespace skjk::appserver {

// Largest request payload before Hello: the greeting's own size (with the
// desk's two names at their longest) and room to spare, so that an unknown
// client reserves next to nothing.
inline constexpr uint32_t kMaxHelloPayload = 512;

// Limits of a session: times in seconds (> 0), and the reading of answers.
struct SessionLimits {
  // No request (or nothing of a started one) for this long ends the
  // session; a client that reads nothing of an answer for this long, too.
  // An interface window stays open for hours between requests: its client
  // opens a new session when the server has ended the old one.
  int idle_timeout = 3600;
  // The same inside a transaction, which is rolled back.
  int transaction_idle_timeout = 30;
  // A request's time in the database (not the time spent waiting for the
  // client to read the answer); then its statement is interrupted.
  int statement_timeout = 60;
  // Master rows a provider's answer reads from the database at a time, 0
  // for one pass, < 0 for the backend's way (see StreamPacket).
  int read_batch = -1;
  // Set when the server stops: running statements are interrupted.
  const std::atomic<bool>* stopping = nullptr;
};

// Logs one line to stderr (thread-safe), as LogText() shows it.
void Log(const std::string& line);

// A log line's text: a control byte or DEL (a client's CR or LF would
// otherwise begin a line of its own) as \xNN and a backslash doubled, so
// that every line of the log is one the server wrote; UTF-8 text stays.
std::string LogText(std::string_view line);

// Serves the connected socket `fd` until the client closes it, a frame
// breaks the framing, a limit ends it, or the socket is shut down from
// outside. Never throws. Closes nothing: the caller owns `fd`.
void RunSession(int fd, int id, const std::string& peer, Database* db,
                const SessionLimits& limits);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SESSION_H_
