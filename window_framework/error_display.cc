#include "window_framework/error_display.h"

#include <string>

#include "text/error_text.h"
#include "text/gbk.h"
#include "window_framework/modal.h"
#include "window_framework/ui_text.h"

namespace skjk::win32 {

using text::literals::operator""_gbk;

int OwnedMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption,
                    UINT flags) {
  OwnerChainGuard keep(owner);
  return MessageBoxW(owner, text, caption, flags);
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
