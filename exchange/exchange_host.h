// What the export and the import both need of the window they run in.
#ifndef SKJK_EXCHANGE_EXCHANGE_HOST_H_
#define SKJK_EXCHANGE_EXCHANGE_HOST_H_

#include <string_view>

namespace skjk {

// Every call is made on the window's thread.
class ExchangeHost {
 public:
  enum class Notice { kWarning, kError, kInfo };

  virtual ~ExchangeHost() = default;
  // A modal message box owned by the owner window: "警告", "错误" or "提示".
  virtual void Tell(Notice kind, std::string_view text) = 0;
  // The system-modal "确认" box with Yes and No; true for Yes.
  virtual bool Confirm(std::string_view text) = 0;
  // A "警告" box owned by the owner window, with Yes and No, No the
  // default: a question about something that looks wrong; true for Yes.
  virtual bool ConfirmWarning(std::string_view text) = 0;
  // Opens the settings dialog as the settings button does.
  virtual void OpenSettings() = 0;
};

}  // namespace skjk

#endif  // SKJK_EXCHANGE_EXCHANGE_HOST_H_
