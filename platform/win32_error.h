// Texts of Windows error codes.
#ifndef SKJK_PLATFORM_WIN32_ERROR_H_
#define SKJK_PLATFORM_WIN32_ERROR_H_

#include <string>

namespace skjk {

// The system's message for an error code (GetLastError, WSAGetLastError) as
// GBK, without its trailing line break, blanks and full stop; "error N" when
// the system has no message for it.
std::string SystemMessage(unsigned long code);

}  // namespace skjk

#endif  // SKJK_PLATFORM_WIN32_ERROR_H_
