// The general error display: an error that escaped a handler, shown in a
// message box with the error's own text (a full stop appended as
// GeneralErrorText() says), caption "错误", the error icon and OK.
#ifndef SKJK_WINDOW_FRAMEWORK_ERROR_DISPLAY_H_
#define SKJK_WINDOW_FRAMEWORK_ERROR_DISPLAY_H_

#include <windows.h>

#include <string_view>

namespace skjk::win32 {

// Shows `message` (GBK) owned by `owner` (may be null) and returns after OK.
// Never throws.
void ShowGeneralError(HWND owner, std::string_view message) noexcept;

// MessageBoxW that leaves its owner's chain as it found it: a box enables its
// owner when it ends, also one that was disabled before (the host window while
// a window of the library is modal); the windows of the chain that were
// disabled are disabled again at once (OwnerChainGuard). Use it for every
// message box of the library.
int OwnedMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption,
                    UINT flags);

}  // namespace skjk::win32

#endif  // SKJK_WINDOW_FRAMEWORK_ERROR_DISPLAY_H_
