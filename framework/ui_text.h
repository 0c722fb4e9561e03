// Small helpers for Win32 calls: GBK texts become UTF-16 with code page 936
// (never the system's ANSI code page), and the window font.
#ifndef SKJK_FRAMEWORK_UI_TEXT_H_
#define SKJK_FRAMEWORK_UI_TEXT_H_

#include <windows.h>

#include <string>
#include <string_view>

#include "text/gbk.h"

namespace skjk::win32 {

// A GBK text for a wide Win32 call.
inline std::wstring Wide(std::string_view gbk) { return text::GbkToWide(gbk); }

// A UTF-8 text (the variant table, source literals) for a wide Win32 call.
inline std::wstring WideFromUtf8(std::string_view utf8) {
  return Wide(text::Utf8ToGbk(utf8));
}

// A wide text from a Win32 call as GBK.
inline std::string Gbk(std::wstring_view wide) { return text::WideToGbk(wide); }

// The window text of any window, wide.
inline std::wstring WindowTextW(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring out(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(window, out.data(), n + 1);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

namespace internal {
inline int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD,
                              LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}
}  // namespace internal

// True when a font family of that name is installed.
inline bool FontInstalled(const wchar_t* face) {
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &lf, internal::FontFound,
                      reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  return found;
}

// SimSun ("宋体") of the given point size with the GB2312 character set. Where
// SimSun is not installed, the font mapper picks a font that has the GB2312
// character set (for example WenQuanYi Micro Hei under Wine), so that Chinese
// texts still show. The caller owns the font (DeleteObject).
inline HFONT CreateUiFont(int points) {
  HDC dc = GetDC(nullptr);
  int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc != nullptr) ReleaseDC(nullptr, dc);
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(points, dpi, 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = GB2312_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  if (FontInstalled(L"SimSun")) {
    lstrcpynW(lf.lfFaceName, L"SimSun", LF_FACESIZE);
  } else if (FontInstalled(L"\u5B8B\u4F53")) {  // 宋体
    lstrcpynW(lf.lfFaceName, L"\u5B8B\u4F53", LF_FACESIZE);
  }
  HFONT font = CreateFontIndirectW(&lf);
  return font != nullptr ? font
                         : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace skjk::win32

#endif  // SKJK_FRAMEWORK_UI_TEXT_H_
