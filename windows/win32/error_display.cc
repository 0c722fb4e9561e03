#include "windows/win32/error_display.h"

#include <string>

#include "entry/error_text.h"
#include "text/gbk.h"
#include "windows/win32/ui_text.h"

namespace skjk::win32 {

using text::literals::operator""_gbk;

void ShowGeneralError(HWND owner, std::string_view message) noexcept {
  try {
    std::wstring body = Wide(GeneralErrorText(message));
    std::wstring caption = Wide("错误"_gbk);
    MessageBoxW(owner, body.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
  } catch (...) {
    // Out of memory while building the texts: still tell the user.
    MessageBoxW(owner, L"Error", L"Error", MB_OK | MB_ICONERROR);
  }
}

}  // namespace skjk::win32
