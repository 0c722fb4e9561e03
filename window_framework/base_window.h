// BaseWindow: a C++ object behind one top-level window.
//
// The window procedure finds its object through GWLP_USERDATA, stored at
// WM_NCCREATE, and forwards every message to HandleMessage(). No exception
// leaves a window procedure: one that escapes a handler is shown by the
// general error display and the message counts as handled.
//
// Window classes are registered with the module handle of the module that
// holds this code (the plug-in inside a host), never with the host's.
#ifndef SKJK_WINDOW_FRAMEWORK_BASE_WINDOW_H_
#define SKJK_WINDOW_FRAMEWORK_BASE_WINDOW_H_

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace skjk::win32 {

// The module (DLL or EXE) that contains this code.
HINSTANCE ModuleHandle();

class BaseWindow {
 public:
  BaseWindow() = default;
  // Destroys the window if it still exists.
  virtual ~BaseWindow();
  BaseWindow(const BaseWindow&) = delete;
  BaseWindow& operator=(const BaseWindow&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  struct CreateParams {
    std::wstring class_name;
    std::wstring caption;
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD ex_style = 0;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    int width = CW_USEDEFAULT;
    int height = CW_USEDEFAULT;
    HWND owner = nullptr;
    COLORREF background = GetSysColor(COLOR_BTNFACE);
  };
  // Registers the class (once) and creates the window. Fails with the
  // system's reason when either step fails.
  Status CreateHandle(const CreateParams& params);

  // A visible child control `id` of this window (WS_CHILD | WS_VISIBLE are
  // added to `style`) with `text` and `font`; null when it cannot be made.
  HWND AddControl(const wchar_t* window_class, std::wstring_view text,
                  DWORD style, int id, int x, int y, int width, int height,
                  HFONT font, DWORD ex_style = 0);

  // Default: DefWindowProcW.
  virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // Shows the text of an exception that escaped HandleMessage (GBK or
  // ASCII). Default: the general error display owned by the owner window, or
  // by this window when there is none.
  virtual void ShowUnexpectedError(const std::string& text);

 private:
  friend void ReleaseLater(std::unique_ptr<BaseWindow> window);
  friend void DestroyPendingWindows();
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  LRESULT Dispatch(UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
  bool released_ = false;
};

// Message that carries out the release of a window (posted to itself).
inline constexpr UINT kReleaseMessage = WM_APP + 0x3E00;

// Releases a window that has served its purpose: its destruction is requested
// by a message posted to the window itself and carried out when this thread
// next dispatches window messages, or at the latest by
// DestroyPendingWindows(). A window that has no handle (creation failed) or
// whose message cannot be posted is destroyed at once.
void ReleaseLater(std::unique_ptr<BaseWindow> window);

// Destroys every window whose release is still pending (library unload).
void DestroyPendingWindows();
// Windows whose release is still pending.
size_t PendingWindowCount();

// Unregisters the window classes registered through BaseWindow (library
// unload: the system keeps a library's classes after the library is gone).
void UnregisterWindowClasses();

}  // namespace skjk::win32

#endif  // SKJK_WINDOW_FRAMEWORK_BASE_WINDOW_H_
