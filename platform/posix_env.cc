// Env on Linux: GBK paths become UTF-8 file names.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "base/env.h"
#include "text/gbk.h"

namespace skjk {
namespace {

Status PosixError(std::string_view what, std::string_view path) {
  return Status::IoError(std::string(what) + " " + std::string(path) + ": " +
                         text::Utf8ToGbk(strerror(errno)));
}

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path)
      : fd_(fd), path_(std::move(path)) {}
  ~PosixWritableFile() override { (void)Close(); }

  Status Append(std::string_view data) override {
    if (fd_ < 0) return Status::IoError("Cannot write " + path_ + ": closed");
    while (!data.empty()) {
      ssize_t n = write(fd_, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return PosixError("Cannot write", path_);
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return Status::OK();
  }

  Status Close() override {
    if (fd_ < 0) return Status::OK();
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return PosixError("Cannot write", path_);
    return Status::OK();
  }

 private:
  int fd_;
  std::string path_;
};

class PosixEnv final : public Env {
 public:
  Status ReadFile(std::string_view path, std::string* data) override {
    std::string name = text::GbkToUtf8(path);
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return PosixError("Cannot open", path);
    data->clear();
    char buf[65536];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        Status s = PosixError("Cannot read", path);
        close(fd);
        return s;
      }
      if (n == 0) break;
      data->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return Status::OK();
  }

  Status NewWritableFile(std::string_view path,
                         std::unique_ptr<WritableFile>* file) override {
    file->reset();
    int fd = open(text::GbkToUtf8(path).c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return PosixError("Cannot create", path);
    *file = std::make_unique<PosixWritableFile>(fd, std::string(path));
    return Status::OK();
  }

  bool FileExists(std::string_view path) override {
    struct stat st;
    return stat(text::GbkToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::string ExecutableDirectory() override {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string path(buf, static_cast<size_t>(n));
    return text::Utf8ToGbk(path.substr(0, path.rfind('/') + 1));
  }

  uint64_t NowMillis() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  std::string ComputerName() override {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return text::Utf8ToGbk(name);
  }

  // The login name of the session; without one (no terminal, a service),
  // the name of the user the process runs as.
  std::string UserName() override {
    char name[LOGIN_NAME_MAX + 1] = {};
    if (getlogin_r(name, sizeof name) == 0 && name[0] != '\0') {
      return text::Utf8ToGbk(name);
    }
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) != 0 ||
        found == nullptr) {
      return {};
    }
    return text::Utf8ToGbk(found->pw_name);
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace skjk
