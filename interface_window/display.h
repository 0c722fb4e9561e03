// Display: what the interface window's rules need from the screen.
//
// The window model (interface_window/interface_window_model.h) decides; an
// implementation of this interface shows. The Win32 window implements it with
// its controls; the native tests record the calls. All texts are GBK.
#ifndef SKJK_INTERFACE_WINDOW_DISPLAY_H_
#define SKJK_INTERFACE_WINDOW_DISPLAY_H_

#include <string>
#include <string_view>

#include "base/status.h"
#include "settings/settings_dialog.h"
#include "text/forms.h"

namespace skjk {

// A calendar day as the date pickers hold it.
using CalendarDate = text::Day;

// The kind of a message box; it gives the caption and the icon.
enum class MessageKind {
  kError,    // "错误", error icon, OK
  kWarning,  // "警告", warning icon, OK
  kInfo,     // "提示", information icon, OK
  kConfirm,  // "确认", question icon, Yes and No, system-modal
  // "警告", warning icon, Yes and No with No the default: a question about
  // something that looks wrong.
  kWarningQuestion,
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

  // A modal message box. Returns true when a kConfirm or kWarningQuestion
  // box was answered Yes; false otherwise.
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

  // The sets behind the model's documents() and lines() changed (view
  // switch): the grids and totals take their columns' fields anew and re-read
  // everything. They follow their sets' changes themselves (RecordSetObserver).
  virtual void RebindGrids() = 0;

  virtual CalendarDate StartDate() = 0;
  virtual CalendarDate EndDate() = 0;
  virtual void SetStartDate(CalendarDate date) = 0;
  virtual void SetEndDate(CalendarDate date) = 0;
  virtual void FocusEndDate() = 0;
  virtual void EnableRefresh(bool enabled) = 0;

  // Turns the "已开发票" radio button on (and "未开发票" off). Setting it by
  // code sends no notification.
  virtual void CheckInvoiced() = 0;

  // Selects the pick list's item `index` (0 "销售单据", 1 "报废单据").
  // Selecting an item by code sends no change notification.
  virtual void SelectPickListItem(int index) = 0;

  // Runs the settings dialog of `line` on `values` (the model's
  // EditSettings): shows it
  // modally, stores the values when it is confirmed.
  virtual Status RunSettingsDialog(const SettingsRules& line,
                                   Settings* values) = 0;

  // A date-time value (days since 1899-12-30) in the user's regional short
  // date form, followed by a blank and the long time form when it has a time
  // of day.
  virtual std::string RegionalDateTime(double value) = 0;

  // Ends the window's modal loop (the model's Exit).
  virtual void CloseWindow() = 0;
};

}  // namespace skjk

#endif  // SKJK_INTERFACE_WINDOW_DISPLAY_H_
