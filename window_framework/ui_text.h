// Small helpers for Win32 calls: GBK texts become UTF-16 with code page 936
// (never the system's ANSI code page), and the colour and fonts of the
// windows.
#ifndef SKJK_WINDOW_FRAMEWORK_UI_TEXT_H_
#define SKJK_WINDOW_FRAMEWORK_UI_TEXT_H_

#include <windows.h>

#include <string>
#include <string_view>

#include "text/gbk.h"

namespace skjk::win32 {

// The colour of the library's windows, their panels and grid headers.
inline constexpr COLORREF kWindowColour = RGB(197, 217, 220);

// A GBK text for a wide Win32 call.
inline std::wstring Wide(std::string_view gbk) { return text::GbkToWide(gbk); }

// A UTF-8 text (the business-line tables, source literals) for a wide Win32
// call.
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

// A font of the library's windows.
struct FontDescription {
  // Requested by name; SimSun also under its Chinese name "宋体". A face
  // that is not installed is left out when a character set is asked for:
  // the font mapper then picks a font of that character set (WenQuanYi Micro
  // Hei under Wine without SimSun), so that Chinese texts still show. With
  // DEFAULT_CHARSET the name is requested as it is and the mapper's
  // substitutes decide.
  const wchar_t* face = L"SimSun";
  // Size in points, at the screen's pixels per inch (10.5 points are 14
  // pixels at 96).
  double points = 9;
  BYTE charset = GB2312_CHARSET;
  LONG weight = FW_NORMAL;
};

// The font `description` asks for; DEFAULT_GUI_FONT when none can be made. The
// caller owns the font (DeleteObject; a stock object ignores it).
inline HFONT CreateUiFont(const FontDescription& description) {
  HDC dc = GetDC(nullptr);
  int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc != nullptr) ReleaseDC(nullptr, dc);
  LOGFONTW lf{};
  lf.lfHeight = -static_cast<LONG>(description.points * dpi / 72 + 0.5);
  lf.lfWeight = description.weight;
  lf.lfCharSet = description.charset;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  const wchar_t* face = description.face != nullptr ? description.face : L"";
  if (*face != L'\0' && description.charset != DEFAULT_CHARSET &&
      !FontInstalled(face)) {
    face = lstrcmpiW(face, L"SimSun") == 0 && FontInstalled(L"\u5B8B\u4F53")
               ? L"\u5B8B\u4F53"  // 宋体
               : L"";
  }
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  HFONT font = CreateFontIndirectW(&lf);
  return font != nullptr ? font
                         : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// SimSun of the given point size with the GB2312 character set.
inline HFONT CreateUiFont(int points) {
  FontDescription font;
  font.points = points;
  return CreateUiFont(font);
}

}  // namespace skjk::win32

#endif  // SKJK_WINDOW_FRAMEWORK_UI_TEXT_H_
