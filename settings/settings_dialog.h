// TFrmSetting, the settings dialog, as a model without windows.
//
// The dialog edits the seven settings of one business line: three file paths
// with a folder browser each (BERead, BEWrite1, BEWrite2), three invoice texts
// (Efhr, Eskr, Esm) and the one-day check box (CEDay). It writes nothing
// itself; the interface window's settings action (RunSettingsDialog,
// EditSettings) stores the values when the dialog ends with OK.
//
// The model holds the fields and the state of BtnApply and runs the handlers;
// a view (the Win32 dialog, or a test) shows it, forwards the user's input to
// the handlers and reads the fields back after each one. All texts are GBK.
#ifndef SKJK_SETTINGS_SETTINGS_DIALOG_H_
#define SKJK_SETTINGS_SETTINGS_DIALOG_H_

#include <string>
#include <string_view>

#include "base/env.h"
#include "base/status.h"
#include "settings/settings.h"

namespace skjk {

// What the dialog takes from its business line.
struct SettingsRules {
  std::string_view section;  // section of params.cfg: "Bbsk"
  std::string_view title;    // UTF-8: "本部税控机接口参数设置"
};

class SettingsDialog;

// What the dialog needs of the screen.
class SettingsDialogHost {
 public:
  virtual ~SettingsDialogHost() = default;
  // Shows the dialog modally and returns once dialog->result() is set (the
  // view sets it to kCancel when the window is closed otherwise). Fails only
  // when the dialog cannot be shown.
  virtual Status ShowModal(SettingsDialog* dialog) = 0;
  // The folder browser titled "请选择文件夹", owned by the owner window,
  // starting at the desktop: the chosen folder's file-system path as the
  // system gives it, or empty when cancelled or without such a path.
  virtual std::string BrowseForFolder() = 0;
  // A message box owned by the owner window, caption "错误", error icon.
  virtual void ShowErrorMessage(std::string_view text) = 0;
};

// The six text fields, in the order of the settings they hold; the form's
// control of each in the comment.
enum class SettingsField {
  kInvoiceFile,  // BERead
  kSalesFile,    // BEWrite1
  kVoidFile,     // BEWrite2
  kReviewer,     // Efhr
  kPayee,        // Eskr
  kTaxItem,      // Esm
};

class SettingsDialog {
 public:
  enum class Result { kNone, kOk, kCancel };

  // The head-office title "本部税控机接口参数设置" is the dialog's default.
  explicit SettingsDialog(SettingsDialogHost* host);

  // EditSettings's filling: the fields from `values` and the title (caption
  // and LabelBt). No change handler runs and BtnApply stays disabled; the
  // check box's change notification is attached afterwards.
  void Fill(const Settings& values, std::string_view title);

  const std::string& text(SettingsField field) const;
  bool day() const { return day_; }                    // CEDay
  const std::string& title() const { return title_; }  // caption, LabelBt
  bool apply_enabled() const { return apply_enabled_; }
  Result result() const { return result_; }
  // The seven values as the fields hold them.
  Settings values() const;

  // The user changed a text field or clicked the check box: the field takes
  // the value and its change handler runs (BEReadChange for the file fields,
  // EfhrChange for the others and, once attached, for CEDay).
  void SetText(SettingsField field, std::string_view text);
  void SetDay(bool checked);

  // Browse buttons of the three file fields.
  void BEReadButtonClick();
  void BEWrite1ButtonClick();
  void BEWrite2ButtonClick();
  // Change handlers: enable BtnApply.
  void BEReadChange() { apply_enabled_ = true; }
  void EfhrChange() { apply_enabled_ = true; }
  // Refuses empty file fields with "文件设置不能有空值！" (returns false);
  // otherwise disables BtnApply. Stores nothing.
  bool BtnApplyClick();
  // Apply's action; when it passes the dialog ends with kOk.
  void BtnOkClick();
  // BtnCancel and the close box.
  void BtnCancelClick() { result_ = Result::kCancel; }

 private:
  void BrowseExportFile(SettingsField target, SettingsField other,
                        std::string_view name, std::string_view other_name);
  std::string Folder();

  SettingsDialogHost* host_;
  std::string fields_[6];
  bool day_ = false;
  bool day_change_attached_ = false;
  std::string title_;
  bool apply_enabled_ = false;
  Result result_ = Result::kNone;
};

// The folder browser's result as the dialog uses it: one trailing backslash
// removed (a drive root "C:\" gives "C:"). A trailing 0x5C byte that is the
// second byte of a Chinese character is not a backslash.
std::string FolderWithoutTrailingBackslash(std::string_view folder);

// The settings button's action (EditSettings): fills a dialog from *values with
// the line's title, shows it through `host`, and when it ends with OK stores
// the seven values into the line's section of the file at `path` and into
// *values (StoreSettings). Returns the store's status (OK when cancelled);
// the caller shows a failure with the general error display.
Status RunSettingsDialog(SettingsDialogHost* host, const SettingsRules& line,
                         Env* env, std::string_view path, Settings* values);

}  // namespace skjk

#endif  // SKJK_SETTINGS_SETTINGS_DIALOG_H_
