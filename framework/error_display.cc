#include "framework/error_display.h"

#include <string>

#include "text/error_text.h"
#include "text/gbk.h"
#include "framework/ui_text.h"

namespace skjk::win32 {

using text::literals::operator""_gbk;

int OwnedMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption,
                    UINT flags) {
  bool was_disabled = owner != nullptr && !IsWindowEnabled(owner);
  int answer = MessageBoxW(owner, text, caption, flags);
  if (was_disabled && IsWindow(owner)) EnableWindow(owner, FALSE);
  return answer;
}

void ShowGeneralError(HWND owner, std::string_view message) noexcept {
  try {
    std::wstring body = Wide(GeneralErrorText(message));
    std::wstring caption = Wide("错误"_gbk);
    OwnedMessageBox(owner, body.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
  } catch (...) {
    // Out of memory while building the texts: still tell the user.
    OwnedMessageBox(owner, L"Error", L"Error", MB_OK | MB_ICONERROR);
  }
}

}  // namespace skjk::win32
