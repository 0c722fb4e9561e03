// Driving the library's windows from a test thread through standard Win32
// messages, as a screen reader or an automation tool would.
//
// The window under test runs its modal loop on the test's main thread; a
// driver thread finds it by caption once visible, waits for its controls,
// clicks with posted messages (a sent click would block behind the modal
// message box it opens) and reads texts back. Every wait is bounded; a
// Watchdog ends the whole process when a run hangs anyway.
#ifndef SKJK_TESTS_E2E_DRIVER_H_
#define SKJK_TESTS_E2E_DRIVER_H_

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace skjk::e2e {

inline constexpr DWORD kDefaultWaitMs = 5000;

// Ends the process with exit code 124 and a message on stderr when it is not
// destroyed within `timeout_ms`.
class Watchdog {
 public:
  Watchdog(DWORD timeout_ms, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static DWORD WINAPI Run(void* self);
  HANDLE done_;
  HANDLE thread_;
  DWORD timeout_ms_;
  std::string what_;
};

// A UTF-8 source literal as a wide text.
std::wstring W(std::string_view utf8);
// A wide text as UTF-8 (for test messages).
std::string U8(std::wstring_view wide);

// Polls `done` every 10 ms until it is true or `timeout_ms` passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

// The text of a window (WM_GETTEXT, bounded by a timeout).
std::wstring Text(HWND window);
std::wstring ClassName(HWND window);

// A visible, top-level window of this process with this caption (and class,
// when given), or null after `timeout_ms`. `except` is skipped.
HWND WaitForWindow(std::wstring_view caption, DWORD timeout_ms = kDefaultWaitMs,
                   std::wstring_view class_name = {}, HWND except = nullptr);
// The first visible top-level window of this process of that class (and with
// that caption, when given), or null; does not wait.
HWND FindTopLevel(std::wstring_view class_name, std::wstring_view caption = {});

// A descendant of `parent` of that class (case-insensitive) whose text is
// `text` (any text when empty), or null.
HWND FindChild(HWND parent, std::wstring_view class_name,
               std::wstring_view text = {});
HWND WaitForChild(HWND parent, std::wstring_view class_name,
                  std::wstring_view text = {}, DWORD timeout_ms = kDefaultWaitMs);

// A posted BM_CLICK: returns at once, also when the click opens a modal box.
void PostClick(HWND button);
// Closing by the close box (posted WM_SYSCOMMAND SC_CLOSE).
void PostCloseBox(HWND window);

// Text of one panel of a status bar (SB_GETTEXTW; this process only).
std::wstring StatusText(HWND status_bar, int panel);

// Waits until `window` is gone or hidden.
bool WaitUntilHidden(HWND window, DWORD timeout_ms = kDefaultWaitMs);

// Message boxes (class #32770): the visible box of this process, its text
// (the static control 0xFFFF), and an answer by a posted click on the button
// with that id (IDOK, IDYES, IDNO, ...).
HWND WaitForMessageBox(DWORD timeout_ms = kDefaultWaitMs);
std::wstring MessageBoxText(HWND box);
bool AnswerMessageBox(HWND box, int button_id);

// Handles the messages waiting for this thread.
void PumpMessages();

// Directory of this program's executable, with a trailing backslash.
std::wstring ProgramDirectory();

}  // namespace skjk::e2e

#endif  // SKJK_TESTS_E2E_DRIVER_H_
