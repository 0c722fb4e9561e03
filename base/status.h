// Status: the outcome of an operation that can fail.
//
// An OK status carries nothing. A failure carries its kind (code()) and the
// message that is shown to the user as it stands (GBK text inside the
// plug-in, as every text of the core). The kind tells the caller what
// happened, so that it can decide what to do without reading the message:
//
//   kGeneral   Status::Error()    any failure not named below
//   kLinkLost  Status::LinkLost() the link to the application server could
//                                 not be made or broke (connect, send or
//                                 receive failed, the server closed the
//                                 connection, or sent something that is not
//                                 a valid answer); the session is gone
//   kRefused   Status::Refused()  the application server answered the
//                                 request with its own error; the session
//                                 goes on
//   kBadInput  Status::BadInput() malformed input: an argument (a server
//                                 machine name that cannot be parsed) or
//                                 bytes handed to a decoder
//   kIoError   Status::IoError()  the system could not read or write a file
//
// Functions that can fail return a Status or a Result<T>; exceptions are not
// used across module boundaries and never leave the plug-in.
#ifndef SKJK_BASE_STATUS_H_
#define SKJK_BASE_STATUS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace skjk {

class [[nodiscard]] Status {
 public:
  enum class Code : uint8_t {
    kOk,
    kGeneral,
    kLinkLost,
    kRefused,
    kBadInput,
    kIoError,
  };

  Status() = default;  // OK

  static Status OK() { return Status(); }
  static Status Error(std::string message) {
    return Status(Code::kGeneral, std::move(message));
  }
  static Status LinkLost(std::string message) {
    return Status(Code::kLinkLost, std::move(message));
  }
  static Status Refused(std::string message) {
    return Status(Code::kRefused, std::move(message));
  }
  static Status BadInput(std::string message) {
    return Status(Code::kBadInput, std::move(message));
  }
  static Status IoError(std::string message) {
    return Status(Code::kIoError, std::move(message));
  }

  bool ok() const { return code_ == Code::kOk; }
  explicit operator bool() const { return ok(); }
  Code code() const { return code_; }
  bool IsLinkLost() const { return code_ == Code::kLinkLost; }
  bool IsRefused() const { return code_ == Code::kRefused; }
  bool IsBadInput() const { return code_ == Code::kBadInput; }
  bool IsIoError() const { return code_ == Code::kIoError; }
  // The failure's text; empty for OK.
  const std::string& message() const { return message_; }

 private:
  Status(Code code, std::string message)
      : code_(code), message_(std::move(message)) {}
  Code code_ = Code::kOk;
  std::string message_;
};

// A value or the failure that prevented it.
//
// A Result made from a Status always holds a failure: ok() is true exactly
// when there is a value, and status() is OK exactly then. Giving it an OK
// status (a result with nothing in it) is a mistake of the caller; the result
// then holds a general failure instead, so that it never reads as a success.
// value() and the operators are for an ok() result only.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status)                          // NOLINT
      : status_(status.ok() ? Status::Error("Result without a value")
                            : std::move(status)) {}
  bool ok() const { return value_.has_value(); }
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
#define SKJK_RETURN_IF_ERROR(expr)               \
  do {                                           \
    ::skjk::Status skjk_status_ = (expr);        \
    if (!skjk_status_.ok()) return skjk_status_; \
  } while (0)

#endif  // SKJK_BASE_STATUS_H_
