#include "framework/modal.h"

#include <vector>

namespace skjk::win32 {
namespace {

struct DisableContext {
  HWND except;
  std::vector<HWND>* disabled;
};

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM lparam) {
  auto* context = reinterpret_cast<DisableContext*>(lparam);
  if (hwnd != context->except && IsWindowVisible(hwnd) &&
      IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    context->disabled->push_back(hwnd);
  }
  return TRUE;
}

}  // namespace

namespace {
// Library-wide: set by the entry points on the host's UI thread only.
HWND g_owner = nullptr;
}  // namespace

void AdoptOwnerWindow(HWND window) {
  g_owner = window != nullptr && IsWindow(window) ? window : nullptr;
}

HWND OwnerWindow() {
  return g_owner != nullptr && IsWindow(g_owner) ? g_owner : nullptr;
}

Status ModalWindow::ShowModal(HWND owner) {
  HWND self = hwnd();
  if (self == nullptr)
    return Status::Error("ShowModal: the window does not exist");
  if (in_modal_) return Status::Error("ShowModal: the window is modal already");

  std::vector<HWND> disabled;
  DisableContext context{self, &disabled};
  EnumThreadWindows(GetCurrentThreadId(), &DisableOne,
                    reinterpret_cast<LPARAM>(&context));
  // The owner may belong to another thread of the host.
  if (owner != nullptr && owner != self && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    disabled.push_back(owner);
  }

  in_modal_ = true;
  modal_ended_ = false;
  ShowWindow(self, SW_SHOWNORMAL);
  SetForegroundWindow(self);

  Status status;
  MSG msg;
  while (!modal_ended_ && IsWindow(self)) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) {
      status = Status::Error("ShowModal: GetMessage failed");
      break;
    }
    if (!IsDialogMessageW(self, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // A message box or dialog owned by one of these windows enables its
    // owner when it ends, whatever the owner's state was before (so does
    // Wine's MessageBox): keep them disabled while this window is modal.
    for (HWND other : disabled) {
      if (IsWindowEnabled(other)) EnableWindow(other, FALSE);
    }
  }
  in_modal_ = false;

  // Enable first, then hide: the system then activates the owner again
  // instead of some other application's window.
  for (auto it = disabled.rbegin(); it != disabled.rend(); ++it) {
    if (IsWindow(*it)) EnableWindow(*it, TRUE);
  }
  if (IsWindow(self)) {
    SetWindowPos(self, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER);
  }
  if (owner != nullptr && IsWindow(owner) && IsWindowVisible(owner)) {
    SetActiveWindow(owner);
  }
  return status;
}

void ModalWindow::Close() {
  if (hwnd() != nullptr) SendMessageW(hwnd(), WM_CLOSE, 0, 0);
}

LRESULT ModalWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) {
    OnClose();
    if (in_modal_) {
      EndModal();
    } else {
      DestroyWindow(hwnd());
    }
    return 0;
  }
  return BaseWindow::HandleMessage(message, wparam, lparam);
}

}  // namespace skjk::win32
