#include "window_framework/modal.h"

#include <algorithm>
#include <vector>

namespace skjk::win32 {
namespace {

// Library-wide: set by the entry points on the host's UI thread only.
HWND g_owner = nullptr;

// Owner chains are a few windows long; the bound only guards the walk.
constexpr size_t kMaxChain = 64;

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

bool Contains(const std::vector<HWND>& windows, HWND window) {
  return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// Disables again those of `windows` that something enabled.
void KeepDisabled(const std::vector<HWND>& windows) {
  for (HWND window : windows) {
    if (IsWindow(window) && IsWindowEnabled(window)) {
      EnableWindow(window, FALSE);
    }
  }
}

}  // namespace

void AdoptOwnerWindow(HWND window) {
  g_owner = window != nullptr && IsWindow(window) ? window : nullptr;
}

HWND OwnerWindow() {
  return g_owner != nullptr && IsWindow(g_owner) ? g_owner : nullptr;
}

std::vector<HWND> OwnerChain(HWND window) {
  std::vector<HWND> chain;
  while (window != nullptr && IsWindow(window) && !Contains(chain, window) &&
         chain.size() < kMaxChain) {
    chain.push_back(window);
    window = GetWindow(window, GW_OWNER);
  }
  return chain;
}

OwnerChainGuard::OwnerChainGuard(HWND owner) {
  for (HWND window : OwnerChain(owner)) {
    if (!IsWindowEnabled(window)) disabled_.push_back(window);
  }
}

void OwnerChainGuard::Restore() { KeepDisabled(disabled_); }

Status ModalWindow::ShowModal(HWND owner) {
  HWND self = hwnd();
  if (self == nullptr)
    return Status::Error("ShowModal: the window does not exist");
  if (in_modal_) return Status::Error("ShowModal: the window is modal already");

  // Disabled by this loop, and enabled again at its end.
  std::vector<HWND> disabled;
  DisableContext context{self, &disabled};
  EnumThreadWindows(GetCurrentThreadId(), &DisableOne,
                    reinterpret_cast<LPARAM>(&context));
  // Kept disabled while the loop runs: those, and the owner chain, which may
  // belong to other threads of the host and may have been disabled before
  // (by an outer modal window, which enables them at its own end). Above the
  // owner, a hidden window that is enabled is left alone: it takes no input,
  // and a program's hidden main window that owns its visible windows is
  // what the task bar switches to.
  std::vector<HWND> kept = disabled;
  const std::vector<HWND> chain = OwnerChain(owner);
  for (HWND window : chain) {
    if (window == self || Contains(kept, window)) continue;
    if (IsWindowEnabled(window)) {
      if (window != owner && !IsWindowVisible(window)) continue;
      EnableWindow(window, FALSE);
      disabled.push_back(window);
    }
    kept.push_back(window);
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
    // A box or dialog box owned by one of these windows enables its owner
    // when it ends, whatever the owner's state was before.
    KeepDisabled(kept);
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
