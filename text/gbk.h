// GBK text: the one encoding of every text inside the core.
//
// Conversions happen only at the edges: UTF-8 on the wire and on Linux file
// systems, UTF-16 at Win32 calls. Both directions are lossless for valid
// input; a byte sequence that is not valid in the source encoding becomes '?'
// so that a damaged text never stops an operation.
#ifndef SKJK_TEXT_GBK_H_
#define SKJK_TEXT_GBK_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace skjk::text {

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);

#ifdef _WIN32
// The same for the wide strings of Win32 calls (wchar_t is UTF-16 there).
std::wstring GbkToWide(std::string_view gbk);
std::string WideToGbk(std::wstring_view wide);
#endif

// True when the byte at `i` starts a two-byte GBK character (lead byte
// 0x81..0xFE followed by a trail byte).
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// The longest prefix of `gbk` that is at most `max_bytes` long and does not
// end in the middle of a two-byte character.
std::string_view TruncateGbk(std::string_view gbk, size_t max_bytes);

// Source files are UTF-8. A text of the system's own (a caption, a message)
// is written "记录数="_gbk and so held in GBK like every other text.
namespace literals {
inline std::string operator""_gbk(const char* utf8, size_t size) {
  return Utf8ToGbk(std::string_view(utf8, size));
}
}  // namespace literals

}  // namespace skjk::text

#endif  // SKJK_TEXT_GBK_H_
