// The seven interface settings of a window and the settings file params.cfg.
//
// Each variant keeps its settings in its own section of params.cfg in the
// host executable's directory (section "Bbsk", "Fxsk" or "Jqsk"), under the
// keys read, write1, write2, fhr, skr, sm (texts) and d (flag, "1" or "0").
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
  std::string read;    // issued-invoice file the import reads
  std::string write1;  // sales-document file the export writes
  std::string write2;  // void-document file the export writes
  std::string fhr;     // reviewer named on the invoices
  std::string skr;     // payee named on the invoices
  std::string sm;      // tax item of the goods
  bool d = false;      // the date range defaults to one day

  bool operator==(const Settings&) const = default;
};

// env->ExecutableDirectory() + "params.cfg".
std::string SettingsPath(Env* env);

// Window creation. Resets *values to empty/false, then: if the file at `path`
// exists, reads the seven keys of `section` (missing ones stay empty/false;
// nothing is written, also when keys or the section are missing). Otherwise
// writes read=, write1=, write2=, fhr=, skr=, sm=, d=0 in that order (the
// first write creates the file). A failed write returns
// "Unable to write to <path>" and skips the remaining keys.
Status LoadSettings(Env* env, std::string_view path, std::string_view section,
                    Settings* values);

// Dialog confirmation. For read, write1, write2, fhr, skr, sm in that order
// writes `from`'s text to the key, then copies it into *values; then d as
// "1"/"0" likewise. On a failure the keys before the failing one are written
// and copied, the rest of *values keeps its old values, and the error is
// returned.
Status StoreSettings(Env* env, std::string_view path, std::string_view section,
                     const Settings& from, Settings* values);

// The value of the flag d: true for an integer other than 0, written in
// decimal or in hexadecimal after "0x"/"0X"/"$", with an optional sign and
// leading blanks, within the 32-bit range (hexadecimal up to FFFFFFFF).
// "0", an empty text, any other character (also trailing ones, as in "1x")
// and a number out of range give false.
bool ParseFlag(std::string_view value);

}  // namespace skjk

#endif  // SKJK_SETTINGS_SETTINGS_H_
