// Showing a window modally over a foreign owner window (the host's).
#ifndef SKJK_WINDOW_FRAMEWORK_MODAL_H_
#define SKJK_WINDOW_FRAMEWORK_MODAL_H_

#include <windows.h>

#include <vector>

#include "base/status.h"
#include "window_framework/base_window.h"

namespace skjk::win32 {

// The owner of the library's windows and message boxes: the window adopted
// last (the host window of the latest entry-point call), or null when there is
// none or it is gone. Adopting the current handle again changes nothing; the
// handle is kept after the call. A handle that is no window (stale or
// garbage) adopts none: the library's windows then have no owner.
void AdoptOwnerWindow(HWND window);
HWND OwnerWindow();

// `window` and the windows above it: its owner, that window's owner, and so
// on up to a window without owner. Empty for null.
std::vector<HWND> OwnerChain(HWND window);

// Keeps the disabled windows of an owner chain disabled across a modal loop of
// the system (a message box, the folder browser, any dialog box). Such a loop
// enables its owner when it ends, also an owner that was disabled before (the
// host window while a window of the library is modal over it). Made just
// before the loop with the loop's owner, it records which windows of the
// owner's chain are disabled; Restore(), or the destructor, disables them
// again. Windows that were enabled are left alone.
class OwnerChainGuard {
 public:
  explicit OwnerChainGuard(HWND owner);
  ~OwnerChainGuard() { Restore(); }
  OwnerChainGuard(const OwnerChainGuard&) = delete;
  OwnerChainGuard& operator=(const OwnerChainGuard&) = delete;

  void Restore();

 private:
  std::vector<HWND> disabled_;
};

// A window that can be shown modally. Closing it (close box, Alt+F4, or
// Close()) while it is modal runs OnClose() and ends the modal loop; the
// window itself stays until it is released (ReleaseLater).
class ModalWindow : public BaseWindow {
 public:
  // Shows the window and runs the modal message loop on this thread until
  // EndModal() is called or the window is destroyed. Meanwhile all other
  // visible top-level windows of the thread, `owner` and the visible windows
  // of its owner chain (OwnerChain) are disabled, and those and the chain's
  // windows that were disabled already are kept so after every message the
  // loop handles: a box or dialog box that one of them owns enables it when
  // it ends. Before this returns, the windows that the loop disabled itself
  // are enabled again (windows that were disabled already stay so: an outer
  // modal window still holds them) and the window is hidden. A WM_QUIT met in
  // the loop ends it and is posted again for the caller's loop.
  Status ShowModal(HWND owner);
  // Ends the modal loop after the message being handled.
  void EndModal() { modal_ended_ = true; }
  bool modal() const { return in_modal_; }

  // Requests closing, exactly as the close box does.
  void Close();

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  // The window is closing.
  virtual void OnClose() {}

 private:
  bool in_modal_ = false;
  bool modal_ended_ = false;
};

}  // namespace skjk::win32

#endif  // SKJK_WINDOW_FRAMEWORK_MODAL_H_
