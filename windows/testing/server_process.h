// A real skjk-server for native tests: a fresh SQLite database filled by SQL
// statements, served on a free loopback port, stopped when the object goes.
// POSIX only.
#ifndef SKJK_WINDOWS_TESTING_SERVER_PROCESS_H_
#define SKJK_WINDOWS_TESTING_SERVER_PROCESS_H_

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/status.h"

namespace skjk::testing {

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Creates the database in a new temporary directory (with `sample`
  // generated documents per kind when > 0), runs `statements` (UTF-8, one
  // per element) on it and starts serving.
  Status Start(const std::string& server_binary,
               const std::vector<std::string>& statements, int sample = 0,
               int lines = -1) {
    char dir[] = "/tmp/skjk-win-test-XXXXXX";
    if (mkdtemp(dir) == nullptr) return Status::Error("mkdtemp failed");
    dir_ = dir;
    const std::string db = dir_ + "/db.sqlite";
    std::string init = server_binary + " init --db " + db;
    if (sample > 0) init += " --sample " + std::to_string(sample);
    if (lines >= 0) init += " --lines " + std::to_string(lines);
    if (std::system(init.c_str()) != 0) {
      return Status::Error("skjk-server init failed: " + init);
    }
    if (!statements.empty()) {
      const std::string sql_file = dir_ + "/fill.sql";
      std::ofstream out(sql_file);
      for (const std::string& s : statements) out << s << "\n";
      out.close();
      std::string fill =
          server_binary + " sql --db " + db + " < " + sql_file;
      if (std::system(fill.c_str()) != 0) {
        return Status::Error("skjk-server sql failed: " + fill);
      }
    }
    const std::string port_file = dir_ + "/port";
    pid_ = fork();
    if (pid_ < 0) return Status::Error("fork failed");
    if (pid_ == 0) {
      execl(server_binary.c_str(), server_binary.c_str(), "serve", "--db",
            db.c_str(), "--port", "0", "--port-file", port_file.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      std::ifstream in(port_file);
      int port = 0;
      if (in >> port && port > 0) {
        port_ = port;
        return Status::OK();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    Stop();
    return Status::Error("skjk-server did not report its port");
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (!dir_.empty()) {
      std::string rm = "rm -rf " + dir_;
      if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "%s failed\n", rm.c_str());
      dir_.clear();
    }
  }

  int port() const { return port_; }
  // The server machine text for a connection: "127.0.0.1:port".
  std::string machine() const {
    return "127.0.0.1:" + std::to_string(port_);
  }
  const std::string& directory() const { return dir_; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace skjk::testing

#endif  // SKJK_WINDOWS_TESTING_SERVER_PROCESS_H_
