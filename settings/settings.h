// The seven interface settings of a window and the settings file params.cfg.
//
// Each business line keeps its settings in its own section of params.cfg in the
// host executable's directory (section "Bbsk", "Fxsk" or "Jqsk"), one key per
// member of Settings: six texts and one flag ("1" or "0"); the key names are
// listed once, in settings.cc.
// A window reads the file once when it is created and keeps its own copy;
// the settings dialog's confirmation writes the file and that copy together.
// Other sections and keys of the file are never touched.
#ifndef SKJK_SETTINGS_SETTINGS_H_
#define SKJK_SETTINGS_SETTINGS_H_

#include <string>
#include <string_view>

#include "base/env.h"
#include "base/status.h"

namespace skjk {

// A window's copy of its settings. Texts are GBK.
struct Settings {
  std::string invoice_file;    // issued-invoice file the import reads
  std::string sales_file;      // sales-document file the export writes
  std::string void_file;       // void-document file the export writes
  std::string reviewer;        // reviewer named on the invoices
  std::string payee;           // payee named on the invoices
  std::string tax_item;        // tax item of the goods
  bool one_day_range = false;  // the date range defaults to one day

  bool operator==(const Settings&) const = default;
};

// env->ExecutableDirectory() + "params.cfg".
std::string SettingsPath(Env* env);

// Window creation. Resets *values to empty/false, then: if the file at `path`
// exists, reads the seven keys of `section` (missing ones stay empty/false;
// nothing is written, also when keys or the section are missing). Otherwise
// writes each key in the order of the members, the texts empty and the flag
// "0" (the first write creates the file). A failed write returns
// "Unable to write to <path>" and skips the remaining keys.
Status LoadSettings(Env* env, std::string_view path, std::string_view section,
                    Settings* values);

// Dialog confirmation. For each text member in the order of the members
// writes `from`'s text to its key, then copies it into *values; then the
// flag as "1"/"0" likewise. On a failure the keys before the failing one are
// written and copied, the rest of *values keeps its old values, and the error
// is returned.
Status StoreSettings(Env* env, std::string_view path, std::string_view section,
                     const Settings& from, Settings* values);

// The value of the one_day_range flag: true for an integer other than 0,
// written in decimal or in hexadecimal after "0x"/"0X"/"$", with an optional
// sign and leading blanks, within the 32-bit range (hexadecimal up to
// FFFFFFFF). "0", an empty text, any other character (also trailing ones, as in
// "1x") and a number out of range give false.
bool ParseFlag(std::string_view value);

}  // namespace skjk

#endif  // SKJK_SETTINGS_SETTINGS_H_
