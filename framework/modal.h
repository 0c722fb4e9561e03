// Showing a window modally over a foreign owner window (the host's).
#ifndef SKJK_FRAMEWORK_MODAL_H_
#define SKJK_FRAMEWORK_MODAL_H_

#include <windows.h>

#include "base/status.h"
#include "framework/base_window.h"

namespace skjk::win32 {

// The owner of the library's windows and message boxes: the window adopted
// last (the host window of the latest entry-point call), or null when there is
// none or it is gone. Adopting the current handle again changes nothing; the
// handle is kept after the call. A handle that is no window (stale or
// garbage) adopts none: the library's windows then have no owner.
void AdoptOwnerWindow(HWND window);
HWND OwnerWindow();

// A window that can be shown modally. Closing it (close box, Alt+F4, or
// Close()) while it is modal runs OnClose() and ends the modal loop; the
// window itself stays until it is released (ReleaseLater).
class ModalWindow : public BaseWindow {
 public:
  // Shows the window and runs the modal message loop on this thread until
  // EndModal() is called or the window is destroyed. Meanwhile all other
  // visible top-level windows of the thread, and `owner`, are disabled; they
  // are enabled again and the window is hidden before this returns. A WM_QUIT
  // met in the loop ends it and is posted again for the caller's loop.
  Status ShowModal(HWND owner);
  // Ends the modal loop after the message being handled.
  void EndModal() { modal_ended_ = true; }
  bool modal() const { return in_modal_; }

  // Requests closing, exactly as the close box does.
  void Close();

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  // The window is closing (FormClose).
  virtual void OnClose() {}

 private:
  bool in_modal_ = false;
  bool modal_ended_ = false;
};

}  // namespace skjk::win32

#endif  // SKJK_FRAMEWORK_MODAL_H_
