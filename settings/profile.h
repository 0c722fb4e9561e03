// Profile (INI) files: reading and writing one key at a time.
//
// The format is the one the Windows profile functions read and write, held
// byte for byte in GBK:
//
//   - A line is ended by CR LF, LF or a lone CR; blanks (space, tab, the other
//     ASCII control blanks and Ctrl-Z) at both ends of a line are ignored and
//     blank lines carry nothing.
//   - A line "[name]" opens a section. The name is the text between "[" and
//     the last "]" of the line, without blanks at its ends; text after that
//     "]" is ignored. A "[" line without "]" is an ordinary line.
//   - Any other line is an entry: the key is the text before the first "=",
//     the value the text after it, both without blanks at their ends. A line
//     without "=" is an entry whose key is the whole line and that has no
//     value. Comment lines (";", "#") are entries whose keys never match a
//     real key, and so are kept like any other line.
//   - Entries before the first section belong to a section with an empty name.
//   - Section and key names match without regard to the case of ASCII
//     letters; two-byte GBK characters match only exactly. Only the first
//     section of a name is ever used (a repeated section is dead text), and
//     within it the first entry of a key.
//
// Reading gives the entry's value with one pair of enclosing quotes (both '"'
// or both '\'') removed, cut to at most kMaxProfileValue bytes without ever
// splitting a two-byte character. A missing file, section or key reads as an
// empty value; reading never fails.
//
// Writing changes only the line of the key: it becomes "key=value" (the key
// spelt as in the file, the line's own line end kept). A missing key is added
// after the last non-blank line of its section, a missing section is appended
// at the end of the file, a missing file is created; added lines end with
// CR LF. Every other byte of the file stays as it was. Blanks at both ends of
// the value are not stored. When the key already holds exactly that value the
// file is not written at all.
//
// There is no caching: every call reads the file (and a write writes it)
// through the Env.
#ifndef SKJK_SETTINGS_PROFILE_H_
#define SKJK_SETTINGS_PROFILE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/env.h"
#include "base/status.h"

namespace skjk {

// The longest value a read returns, in bytes (the platform's readers use a
// 2048-byte buffer including the terminating zero).
inline constexpr size_t kMaxProfileValue = 2047;

// The value of `key` in `section` of the profile text `content`.
std::string GetProfileValue(std::string_view content, std::string_view section,
                            std::string_view key);

// Sets `key` in `section` of the profile text *content. Returns false, and
// leaves *content as it is, when the key already holds `value`. Section, key
// and value must have been checked with CheckProfileEntry.
bool SetProfileValue(std::string* content, std::string_view section,
                     std::string_view key, std::string_view value);

// An error unless `section`, `key` and `value` can be stored as one entry
// line: a line break in any of them, an empty key, a key holding "=" or
// starting with "[" or a section holding "]" would make a different file.
Status CheckProfileEntry(std::string_view section, std::string_view key,
                         std::string_view value);

// Reads `key` of `section` from the profile file at `path`.
std::string ReadProfileKey(Env* env, std::string_view path,
                           std::string_view section, std::string_view key);

// Writes `key` of `section` into the profile file at `path`. When the file
// cannot be read or written the error is "Unable to write to " + path; an
// entry that CheckProfileEntry refuses gives its error and writes nothing.
Status WriteProfileKey(Env* env, std::string_view path,
                       std::string_view section, std::string_view key,
                       std::string_view value);

}  // namespace skjk

#endif  // SKJK_SETTINGS_PROFILE_H_
