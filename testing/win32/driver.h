// Driving the library's windows from a test thread through standard Win32
// messages, as a screen reader or an automation tool would.
//
// The window under test runs its modal loop on the test's main thread; a
// driver thread finds it by caption once visible, waits for its controls,
// clicks with posted messages (a sent click would block behind the modal
// message box it opens) and reads texts back. Every wait is bounded; a
// Watchdog ends the whole process when a run hangs anyway.
#ifndef SKJK_TESTING_WIN32_DRIVER_H_
#define SKJK_TESTING_WIN32_DRIVER_H_

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace skjk::e2e {

inline constexpr DWORD kDefaultWaitMs = 5000;

// `ms` times the environment's SKJK_TIME_SCALE (a whole number, 1 when
// unset): where the programs run under an emulator, every wait and watchdog
// of the driver grows by that factor. What is waited for stays the same.
DWORD Scaled(DWORD ms);

// Ends the process with exit code 124 and a message on stderr when it is not
// destroyed within `timeout_ms` (scaled).
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
// A wide text as GBK (code page 936, whatever the ANSI code page): the form
// of params.cfg and of the exchanged files.
std::string Gbk(std::wstring_view wide);

// Polls `done` every 10 ms until it is true or `timeout_ms` (scaled) passed.
// The other waits below are scaled too.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

// The text of a window (WM_GETTEXT, bounded by a timeout): also the content
// of an edit or combo box. Waits for the window's thread.
std::wstring Text(HWND window);
// The window text as the system holds it (caption, button or static text;
// not an edit's content). Sends no message, so it never waits for a busy or
// blocked thread: the finders below match with it.
std::wstring Caption(HWND window);
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
                  std::wstring_view text = {},
                  DWORD timeout_ms = kDefaultWaitMs);

// A visible top-level window of this process of that class (any class when
// empty) whose owner is `owner`, or null after `timeout_ms`.
HWND WaitForOwnedWindow(HWND owner, std::wstring_view class_name,
                        DWORD timeout_ms = kDefaultWaitMs);

// Sends `window` a WM_NULL and returns once its thread has handled it (false
// after `timeout_ms` or when the window is gone). A thread handles a message
// sent from another thread only when it takes messages again, so whatever it
// was doing then (a handler, a message box's clean-up) is over. Messages
// posted earlier may still wait: a thread takes sent messages first.
bool RoundTrip(HWND window, DWORD timeout_ms = kDefaultWaitMs);

// A posted BM_CLICK: returns at once, also when the click opens a modal box.
void PostClick(HWND button);
// Closing by the close box (posted WM_SYSCOMMAND SC_CLOSE).
void PostCloseBox(HWND window);

// Text of one panel of a status bar (SB_GETTEXTW; this process only).
std::wstring StatusText(HWND status_bar, int panel);
// Waits until an interface window's status bar shows nothing in its busy
// panel (2): the window has ended what it was doing.
bool WaitUntilIdle(HWND status_bar, DWORD timeout_ms = 10000);
// Waits until its count panel (0) reads `count` (UTF-8, "记录数=N") and the
// window is idle.
bool WaitForCount(HWND status_bar, const std::string& count,
                  DWORD timeout_ms = 10000);

// Waits until `window` is gone or hidden.
bool WaitUntilHidden(HWND window, DWORD timeout_ms = kDefaultWaitMs);

// Message boxes (class #32770): the visible box of this process, its text
// (the static control 0xFFFF), and an answer by a posted click on the button
// with that id (IDOK, IDYES, IDNO, ...).
HWND WaitForMessageBox(DWORD timeout_ms = kDefaultWaitMs);
std::wstring MessageBoxText(HWND box);
bool AnswerMessageBox(HWND box, int button_id);

// Waits until the top-level window `caption` is visible and enabled, with a
// visible BUTTON `button` (unless empty), and no message box is up, for
// 150 ms in a row. On the way every message
// box of this process is answered (first of IDOK, IDNO, IDCANCEL) and its text
// appended to *boxes (may be null), and a window captioned `dismiss` (a
// dialog that opens by itself, e.g. a settings prompt) is sent WM_CLOSE.
// Returns the window, or null after `timeout_ms`.
HWND WaitForReadyWindow(std::wstring_view caption, std::wstring_view button,
                        std::vector<std::wstring>* boxes,
                        std::wstring_view dismiss = {},
                        DWORD timeout_ms = kDefaultWaitMs);

// Closes `window` by a posted click on `button` (the close box when null)
// and waits until it is hidden or gone, answering message boxes and
// dismissing `dismiss` dialogs meanwhile as WaitForReadyWindow() does; when
// such a box took the click, it is posted again. False after `timeout_ms`.
bool CloseAndWait(HWND window, HWND button, std::vector<std::wstring>* boxes,
                  std::wstring_view dismiss = {},
                  DWORD timeout_ms = kDefaultWaitMs);

// A plain visible top-level window standing in for the host program's main
// window, at the given place.
HWND CreateHostWindow(int x, int y, int width, int height);

// The bytes of a (small) file; "<missing>" when it cannot be opened.
std::string ReadWholeFile(const std::wstring& path);
// Sets a date picker's date by message (DTM_SETSYSTEMTIME), which sends no
// change notification.
void SetDate(HWND picker, WORD year, WORD month, WORD day);

// "127.0.0.1:<port>" from the file server.port in `dir` that the server
// fixture writes; empty when there is none.
std::string ServerMachine(const std::wstring& dir);
bool WriteWholeFile(const std::wstring& path, const std::string& data);

// Text of one cell of a list view (LVM_GETITEMTEXTW; this process only, also
// on an owner-data list).
std::wstring ListCellText(HWND list, int row, int column);
// Caption of column `column` of a list view (LVM_GETCOLUMNW, at most 63
// characters; this process only); empty when the list has no such column.
std::wstring ListColumnCaption(HWND list, int column);
// The column of a list view whose caption is `caption` (UTF-8), or -1.
int ListColumnIndex(HWND list, std::string_view caption);

// Saves what the screen shows of `window` (the whole screen when null) as a
// 24-bit BMP file; of a window partly off the screen, the part on it.
bool SaveScreenBitmap(HWND window, const std::wstring& path);

// Handles the messages waiting for this thread.
void PumpMessages();

// Directory of this program's executable, with a trailing backslash.
std::wstring ProgramDirectory();

}  // namespace skjk::e2e

#endif  // SKJK_TESTING_WIN32_DRIVER_H_
