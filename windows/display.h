// Display: what the interface window's rules need from the screen.
//
// The window model (windows/interface_window.h) decides; an implementation of
// this interface shows. The Win32 window implements it with its controls; the
// native tests record the calls. All texts are GBK.
#ifndef SKJK_WINDOWS_DISPLAY_H_
#define SKJK_WINDOWS_DISPLAY_H_

#include <compare>
#include <string>
#include <string_view>

#include "base/status.h"

namespace skjk {

struct Settings;

// A calendar day as the date pickers hold it.
struct CalendarDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  auto operator<=>(const CalendarDate&) const = default;
};

// The kind of a message box; it gives the caption and the icon.
enum class MessageKind {
  kError,    // "错误", error icon, OK
  kWarning,  // "警告", warning icon, OK
  kInfo,     // "提示", information icon, OK
  kConfirm,  // "确认", question icon, Yes and No, system-modal
};

// Who owns a message box: the host's window (the usual case) or nobody.
enum class MessageOwner { kOwnerWindow, kNone };

// The status bar panels.
inline constexpr int kCountPanel = 0;     // "记录数=N"
inline constexpr int kProgressPanel = 1;  // holds the progress bar
inline constexpr int kBusyPanel = 2;      // the busy text

class Display {
 public:
  virtual ~Display() = default;

  // A modal message box. Returns true when a kConfirm box was answered Yes;
  // false otherwise.
  virtual bool ShowMessage(std::string_view text, MessageKind kind,
                           MessageOwner owner) = 0;
  // The general error display: an error that escaped a handler.
  virtual void ShowError(std::string_view text) = 0;

  virtual void SetStatusText(int panel, std::string_view text) = 0;
  virtual void SetBusyCursor(bool busy) = 0;

  // Progress bar inside status panel 1, range 0..n, step 1.
  virtual void StartProgress(int n) = 0;
  virtual void StepProgress() = 0;
  virtual void EndProgress() = 0;

  // Handles the window messages waiting for this thread (repaint, input).
  // Handlers of the model may be re-entered from here.
  virtual void ProcessMessages() = 0;

  // The sets behind DataSource1/DataSource2 changed (view switch): the grids
  // and totals take their columns' fields anew and re-read everything. They
  // follow their sets' changes themselves (RecordSetObserver).
  virtual void RebindGrids() = 0;

  virtual CalendarDate StartDate() = 0;
  virtual CalendarDate EndDate() = 0;
  virtual void SetEndDate(CalendarDate date) = 0;
  virtual void FocusEndDate() = 0;
  virtual void EnableRefresh(bool enabled) = 0;

  // The view controls: RB1 "已开发票" checked (else RB2 "未开发票") and the
  // pick list's text. Selecting an item sends no change notification.
  virtual bool InvoicedChecked() = 0;
  virtual std::string PickListText() = 0;
  virtual void SelectPickListItem(int index) = 0;

  // Runs the settings dialog on `values` (fbSetClick): shows it modally,
  // stores the values when it is confirmed.
  virtual Status RunSettingsDialog(Settings* values) = 0;

  // Ends the window's modal loop (fbExitClick).
  virtual void CloseWindow() = 0;
};

}  // namespace skjk

#endif  // SKJK_WINDOWS_DISPLAY_H_
