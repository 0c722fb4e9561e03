// The text of the general error display.
#ifndef SKJK_TEXT_ERROR_TEXT_H_
#define SKJK_TEXT_ERROR_TEXT_H_

#include <string>
#include <string_view>

namespace skjk {

// The error's own text with a full stop appended when its last character
// sorts after ".". Characters are compared in GBK code order: a one-byte
// character by its byte, a two-byte character by its lead byte (0x81..0xFE),
// so every Chinese character and full-width sign sorts after "." while "!",
// ")" or "." itself do not. The last character is found by walking the text
// from its start, never by looking at the last byte alone: the trail byte of
// a two-byte character is no character of its own. An empty text stays empty.
std::string GeneralErrorText(std::string_view message);

// What the general error display says when the process ran out of memory
// (GBK), instead of the runtime's own English text.
std::string OutOfMemoryErrorText();

}  // namespace skjk

#endif  // SKJK_TEXT_ERROR_TEXT_H_
