#include "platform/win32_error.h"

#include <windows.h>

#include <string_view>

#include "text/gbk.h"

namespace skjk {

std::string SystemMessage(unsigned long code) {
  wchar_t* msg = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&msg), 0,
                 nullptr);
  std::wstring_view text = msg != nullptr ? msg : L"";
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                           text.back() == L' ' || text.back() == L'.')) {
    text.remove_suffix(1);
  }
  std::string gbk = text::WideToGbk(text);
  if (msg != nullptr) LocalFree(msg);
  return gbk.empty() ? "error " + std::to_string(code) : gbk;
}

}  // namespace skjk
