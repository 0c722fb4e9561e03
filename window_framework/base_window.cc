#include "window_framework/base_window.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "platform/win32_error.h"
#include "text/error_text.h"
#include "window_framework/controls.h"
#include "window_framework/error_display.h"
#include "window_framework/modal.h"
#include "window_framework/ui_text.h"

namespace skjk::win32 {
namespace {

// Library-wide, created on first use and never destroyed by a static
// destructor: the library's unload empties them explicitly.
std::vector<std::wstring>& RegisteredClasses() {
  static auto* classes = new std::vector<std::wstring>;
  return *classes;
}

std::vector<std::unique_ptr<BaseWindow>>& PendingWindows() {
  static auto* pending = new std::vector<std::unique_ptr<BaseWindow>>;
  return *pending;
}

}  // namespace

HINSTANCE ModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleHandle), &module);
  return module;
}

BaseWindow::~BaseWindow() {
  if (hwnd_ != nullptr) {
    HWND hwnd = hwnd_;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
    DestroyWindow(hwnd);
  }
}

Status BaseWindow::CreateHandle(const CreateParams& params) {
  if (hwnd_ != nullptr) return Status::Error("window exists already");
  auto& classes = RegisteredClasses();
  if (std::find(classes.begin(), classes.end(), params.class_name) ==
      classes.end()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &BaseWindow::WindowProc;
    wc.hInstance = ModuleHandle();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = CreateSolidBrush(params.background);
    wc.lpszClassName = params.class_name.c_str();
    if (RegisterClassExW(&wc) == 0) {
      const DWORD error = GetLastError();
      if (error != ERROR_CLASS_ALREADY_EXISTS) {
        DeleteObject(wc.hbrBackground);
        return Status::Error(SystemMessage(error));
      }
    }
    classes.push_back(params.class_name);
  }
  HWND hwnd = CreateWindowExW(params.ex_style, params.class_name.c_str(),
                              params.caption.c_str(), params.style, params.x,
                              params.y, params.width, params.height,
                              params.owner, nullptr, ModuleHandle(), this);
  if (hwnd == nullptr) return Status::Error(SystemMessage(GetLastError()));
  return Status::OK();
}

HWND BaseWindow::AddControl(const wchar_t* window_class, std::wstring_view text,
                            DWORD style, int id, int x, int y, int width,
                            int height, HFONT font, DWORD ex_style) {
  return CreateChildControl(window_class, {.parent = hwnd_,
                                           .id = id,
                                           .text = text,
                                           .style = style,
                                           .x = x,
                                           .y = y,
                                           .width = width,
                                           .height = height,
                                           .font = font,
                                           .ex_style = ex_style});
}

LRESULT BaseWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void BaseWindow::ShowUnexpectedError(const std::string& text) {
  HWND owner = OwnerWindow();
  ShowGeneralError(owner != nullptr ? owner : hwnd_, text);
}

LRESULT BaseWindow::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kReleaseMessage && released_) {
    DestroyWindow(hwnd_);
    return 0;
  }
  try {
    return HandleMessage(message, wparam, lparam);
  } catch (const std::bad_alloc&) {
    ShowUnexpectedError(OutOfMemoryErrorText());
  } catch (const std::exception& e) {
    ShowUnexpectedError(e.what());
  } catch (...) {
    ShowUnexpectedError("Unexpected error in window procedure");
  }
  return 0;
}

LRESULT CALLBACK BaseWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                        LPARAM lparam) {
  BaseWindow* window = nullptr;
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    window = static_cast<BaseWindow*>(create->lpCreateParams);
    window->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  } else {
    window =
        reinterpret_cast<BaseWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (window == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);

  LRESULT result = window->Dispatch(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    window->hwnd_ = nullptr;
    if (window->released_) {
      // The last message of a released window: the object goes with it.
      auto& pending = PendingWindows();
      auto it =
          std::find_if(pending.begin(), pending.end(),
                       [window](const auto& p) { return p.get() == window; });
      if (it != pending.end()) {
        std::unique_ptr<BaseWindow> doomed = std::move(*it);
        pending.erase(it);
      }
    }
  }
  return result;
}

void ReleaseLater(std::unique_ptr<BaseWindow> window) {
  if (window == nullptr) return;
  HWND hwnd = window->hwnd();
  if (hwnd == nullptr || !IsWindow(hwnd)) return;  // destroyed at once
  window->released_ = true;
  BaseWindow* raw = window.get();
  PendingWindows().push_back(std::move(window));
  if (!PostMessageW(hwnd, kReleaseMessage, 0, 0)) {
    // No message can reach it: destroy it now rather than never.
    DestroyWindow(raw->hwnd());
  }
}

void DestroyPendingWindows() {
  auto& pending = PendingWindows();
  while (!pending.empty()) {
    std::unique_ptr<BaseWindow> window = std::move(pending.back());
    pending.pop_back();
    window->released_ = false;
    window.reset();  // ~BaseWindow destroys the window
  }
}

size_t PendingWindowCount() { return PendingWindows().size(); }

void UnregisterWindowClasses() {
  auto& classes = RegisteredClasses();
  for (const std::wstring& name : classes) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    HBRUSH brush = nullptr;
    if (GetClassInfoExW(ModuleHandle(), name.c_str(), &wc)) {
      brush = wc.hbrBackground;
    }
    if (UnregisterClassW(name.c_str(), ModuleHandle()) && brush != nullptr) {
      DeleteObject(brush);
    }
  }
  classes.clear();
}

}  // namespace skjk::win32
