// Status: the outcome of an operation that can fail.
//
// An OK status carries nothing; an error carries the message that is shown to
// the user as it stands (GBK text inside the plug-in, as every text of the
// core). Functions that can fail return a Status or a Result<T>; exceptions
// are not used across module boundaries and never leave the plug-in.
#ifndef SKJK_BASE_STATUS_H_
#define SKJK_BASE_STATUS_H_

#include <optional>
#include <string>
#include <utility>

namespace skjk {

class [[nodiscard]] Status {
 public:
  Status() = default;  // OK

  static Status OK() { return Status(); }
  static Status Error(std::string message) {
    Status s;
    s.error_ = true;
    s.message_ = std::move(message);
    return s;
  }

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  // The error's text; empty for OK.
  const std::string& message() const { return message_; }

 private:
  bool error_ = false;
  std::string message_;
};

// A value or the error that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) {}  // NOLINT
  bool ok() const { return status_.ok() && value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace skjk

// Returns the status of `expr` from the enclosing function when it failed.
#define SKJK_RETURN_IF_ERROR(expr)           \
  do {                                       \
    ::skjk::Status skjk_status_ = (expr);    \
    if (!skjk_status_.ok()) return skjk_status_; \
  } while (0)

#endif  // SKJK_BASE_STATUS_H_
