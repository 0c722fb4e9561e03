// ScopedFd: sole owner of a POSIX file descriptor (a socket, a pipe end, a
// file), which it closes when it goes (POSIX only).
#ifndef SKJK_PLATFORM_SCOPED_FD_H_
#define SKJK_PLATFORM_SCOPED_FD_H_

#include <unistd.h>

#include <utility>

namespace skjk {

// Holds one descriptor or none (-1). Moving hands the descriptor over and
// leaves the source holding none; destroying or resetting closes the one
// held. Not thread-safe: one owner at a time, as the descriptor itself.
class ScopedFd {
 public:
  ScopedFd() = default;
  // Takes `fd` over (-1, or any negative value: none).
  explicit ScopedFd(int fd) : fd_(fd < 0 ? -1 : fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  // Moving onto itself keeps the descriptor: it is released, then taken
  // back with nothing to close.
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() { reset(); }

  // The descriptor held, still owned (-1 when none).
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }

  // Gives the descriptor up without closing it; holds none after.
  [[nodiscard]] int release() { return std::exchange(fd_, -1); }

  // Closes the descriptor held, if any, and takes `fd` over. A failing
  // close is not reported: the descriptor is gone either way.
  void reset(int fd = -1) {
    const int old = std::exchange(fd_, fd < 0 ? -1 : fd);
    if (old >= 0) ::close(old);
  }

 private:
  int fd_ = -1;
};

}  // namespace skjk

#endif  // SKJK_PLATFORM_SCOPED_FD_H_
