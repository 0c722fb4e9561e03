// RecordingDisplay: a Display that keeps what the window model shows, for
// tests of the model without a window.
//
// Every call is noted in `log` as a short text, in order, so that a test can
// check the sequence of the busy display ("cursor busy", "refresh off",
// "status2=...", "process", ...); the controls it stands for (dates, pick
// list, status panels, cursor) are plain values the test reads and sets.
// Derive from it to do more in one of the calls (a benchmark timing
// ProcessMessages, say); a derived class that keeps the recording calls the
// base's method.
#ifndef SKJK_TESTING_RECORDING_DISPLAY_H_
#define SKJK_TESTING_RECORDING_DISPLAY_H_

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "interface_window/display.h"
#include "interface_window/interface_window_model.h"

namespace skjk::testing {

class RecordingDisplay : public Display {
 public:
  struct Message {
    std::string text;
    MessageKind kind;
    MessageOwner owner;
  };

  // Noted as "message"; answers `warning_answer` to a kWarningQuestion box,
  // `confirm_answer` to any other.
  bool ShowMessage(std::string_view text, MessageKind kind,
                   MessageOwner owner) override;
  void ShowError(std::string_view text) override;
  // Noted as "status<panel>=<text>".
  void SetStatusText(int panel, std::string_view text) override;
  void SetBusyCursor(bool busy) override;
  void StartProgress(int n) override;
  void StepProgress() override;
  void EndProgress() override;
  // Noted as "process"; then runs `on_process` once (it is cleared before it
  // runs, so it may set a new one).
  void ProcessMessages() override;
  void RebindGrids() override { ++rebinds; }
  CalendarDate StartDate() override { return start; }
  CalendarDate EndDate() override { return end; }
  void SetStartDate(CalendarDate date) override { start = date; }
  void SetEndDate(CalendarDate date) override { end = date; }
  void FocusEndDate() override;
  void EnableRefresh(bool enabled) override;
  void CheckInvoiced() override;
  void SelectPickListItem(int index) override;
  // Takes `*dialog_result` as what the user confirmed, when it is set;
  // otherwise leaves the values as they are.
  Status RunSettingsDialog(const SettingsRules& rules,
                           Settings* values) override;
  // "date <value>": the regional form is the Win32 window's business.
  std::string RegionalDateTime(double value) override;
  void CloseWindow() override;

  std::vector<std::string> log;
  std::vector<Message> messages;
  std::vector<std::string> errors;
  std::map<int, std::string> status;  // panel -> text
  bool busy_cursor = false;
  bool refresh_enabled = true;
  bool confirm_answer = false;
  bool warning_answer = false;
  CalendarDate start = std::chrono::year{2002} / 8 / 23;
  CalendarDate end = std::chrono::year{2002} / 8 / 23;
  int pick_item = kNoItem;
  std::string_view settings_section;
  int rebinds = 0;
  int settings_runs = 0;
  int closes = 0;
  const Settings* dialog_result = nullptr;
  std::function<void()> on_process;
};

}  // namespace skjk::testing

#endif  // SKJK_TESTING_RECORDING_DISPLAY_H_
