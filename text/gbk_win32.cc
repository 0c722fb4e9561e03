// GBK conversions on Windows: always code page 936, whatever the system's
// ANSI code page is.
#include <windows.h>

#include "text/gbk.h"

namespace skjk::text {
namespace {

constexpr UINT kGbk = 936;

std::u16string ToWide(UINT cp, std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()),
                              nullptr, 0);
  std::u16string out(n, u'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()),
                      reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string FromWide(UINT cp, std::u16string_view w) {
  if (w.empty()) return {};
  const wchar_t* p = reinterpret_cast<const wchar_t*>(w.data());
  int n = WideCharToMultiByte(cp, 0, p, static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(cp, 0, p, static_cast<int>(w.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) { return ToWide(kGbk, gbk); }
std::string Utf16ToGbk(std::u16string_view utf16) {
  return FromWide(kGbk, utf16);
}
std::string GbkToUtf8(std::string_view gbk) {
  return FromWide(CP_UTF8, ToWide(kGbk, gbk));
}
std::string Utf8ToGbk(std::string_view utf8) {
  return FromWide(kGbk, ToWide(CP_UTF8, utf8));
}

std::wstring GbkToWide(std::string_view gbk) {
  std::u16string w = ToWide(kGbk, gbk);
  return std::wstring(w.begin(), w.end());
}
std::string WideToGbk(std::wstring_view wide) {
  return FromWide(
      kGbk, std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()),
                                wide.size()));
}

}  // namespace skjk::text
