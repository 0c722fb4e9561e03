#include "testing/recording_display.h"

#include <utility>

namespace skjk::testing {

bool RecordingDisplay::ShowMessage(std::string_view text, MessageKind kind,
                                   MessageOwner owner) {
  messages.push_back({std::string(text), kind, owner});
  log.push_back("message");
  return kind == MessageKind::kWarningQuestion ? warning_answer
                                               : confirm_answer;
}

void RecordingDisplay::ShowError(std::string_view text) {
  errors.emplace_back(text);
  log.push_back("error");
}

void RecordingDisplay::SetStatusText(int panel, std::string_view text) {
  status[panel] = std::string(text);
  log.push_back("status" + std::to_string(panel) + "=" + std::string(text));
}

void RecordingDisplay::SetBusyCursor(bool busy) {
  busy_cursor = busy;
  log.push_back(busy ? "cursor busy" : "cursor normal");
}

void RecordingDisplay::StartProgress(int n) {
  log.push_back("progress " + std::to_string(n));
}

void RecordingDisplay::StepProgress() { log.push_back("step"); }

void RecordingDisplay::EndProgress() { log.push_back("progress end"); }

void RecordingDisplay::ProcessMessages() {
  log.push_back("process");
  if (on_process) {
    auto hook = std::move(on_process);
    on_process = nullptr;
    hook();
  }
}

void RecordingDisplay::FocusEndDate() { log.push_back("focus end date"); }

void RecordingDisplay::EnableRefresh(bool enabled) {
  refresh_enabled = enabled;
  log.push_back(enabled ? "refresh on" : "refresh off");
}

void RecordingDisplay::CheckInvoiced() { log.push_back("check invoiced"); }

void RecordingDisplay::SelectPickListItem(int index) {
  pick_item = index;
  log.push_back("pick " + std::to_string(index));
}

Status RecordingDisplay::RunSettingsDialog(const SettingsRules& rules,
                                           Settings* values) {
  settings_section = rules.section;
  ++settings_runs;
  log.push_back("settings");
  if (dialog_result) *values = *dialog_result;
  return Status::OK();
}

std::string RecordingDisplay::RegionalDateTime(double value) {
  return "date " + std::to_string(value);
}

void RecordingDisplay::CloseWindow() {
  ++closes;
  log.push_back("close");
}

}  // namespace skjk::testing
