// The exported entry points of skjk.dll, one per business line:
//   ordinal 1 ShowDllJqsk, 2 ShowDllFxsk, 3 ShowDllBbsk.
// __stdcall, six 32-bit arguments (the host window and five zero-terminated
// GBK texts, each may be null), no result. A call shows the line's interface
// window modally and returns when the user has closed it. Nothing is ever
// raised into the host.
#ifndef SKJK_ENTRY_ENTRY_POINTS_H_
#define SKJK_ENTRY_ENTRY_POINTS_H_

#include <windows.h>

extern "C" {

typedef void(__stdcall* ShowDllFunction)(HWND host, const char* text1,
                                         const char* text2, const char* text3,
                                         const char* text4, const char* text5);

void __stdcall ShowDllJqsk(HWND host, const char* text1, const char* text2,
                           const char* text3, const char* text4,
                           const char* text5) noexcept;
void __stdcall ShowDllFxsk(HWND host, const char* text1, const char* text2,
                           const char* text3, const char* text4,
                           const char* text5) noexcept;
void __stdcall ShowDllBbsk(HWND host, const char* text1, const char* text2,
                           const char* text3, const char* text4,
                           const char* text5) noexcept;

}  // extern "C"

#endif  // SKJK_ENTRY_ENTRY_POINTS_H_
