// The settings dialog TFrmSetting on Windows.
//
// A top-level window of class "TFrmSetting" (443 by 328, centred on the
// screen) made of standard controls whose window texts are their captions,
// built on the window framework (window_framework/): a ModalWindow shown
// modally over its owner, its class registered by BaseWindow with the module of
// this code and unregistered with the others at the library's unload. Tab moves
// between the controls; Enter and Escape do nothing; the close box cancels.
// The behaviour is the model's (settings/settings_dialog.h); message boxes
// and the folder browser are owned by the framework's owner window (the
// dialog itself when there is none) and leave the windows above them as
// disabled as they found them. Nothing here throws.
#ifndef SKJK_SETTINGS_WIN32_SETTINGS_DIALOG_WIN32_H_
#define SKJK_SETTINGS_WIN32_SETTINGS_DIALOG_WIN32_H_

#include <windows.h>

#include <string_view>

#include "base/env.h"
#include "base/status.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"

namespace skjk::win32 {

inline constexpr wchar_t kSettingsDialogClass[] = L"TFrmSetting";

// Control identifiers (GetDlgItem on the dialog window).
enum SettingsDialogControl : int {
  kBEReadId = 101,
  kBEWrite1Id = 102,
  kBEWrite2Id = 103,
  kEfhrId = 104,
  kEskrId = 105,
  kEsmId = 106,
  kCEDayId = 107,
  kBEReadButtonId = 111,  // the "..." browse buttons
  kBEWrite1ButtonId = 112,
  kBEWrite2ButtonId = 113,
  kBtnOkId = 201,  // not IDOK/IDCANCEL: Enter and Escape click no button
  kBtnCancelId = 202,
  kBtnApplyId = 203,
  kLabelBtId = 301,
};

// The settings button's action (EditSettings) with this dialog: shows it owned
// by `owner` (the interface window), and stores the values into the line's
// section of `path` and *values when it ends with OK. Returns the store's
// status, or why the dialog could not be shown.
Status RunSettingsDialogWin32(HWND owner, const SettingsRules& line, Env* env,
                              std::string_view path, Settings* values);

// The same for the plug-in: Env::Default() and SettingsPath().
Status RunSettingsDialogWin32(HWND owner, const SettingsRules& line,
                              Settings* values);

}  // namespace skjk::win32

#endif  // SKJK_SETTINGS_WIN32_SETTINGS_DIALOG_WIN32_H_
