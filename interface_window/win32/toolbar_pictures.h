// The pictures of the flat buttons, drawn with GDI at any square size.
#ifndef SKJK_INTERFACE_WINDOW_WIN32_TOOLBAR_PICTURES_H_
#define SKJK_INTERFACE_WINDOW_WIN32_TOOLBAR_PICTURES_H_

#include <windows.h>

namespace skjk::win32 {

enum class Picture { kImport, kExport, kSettings, kExit, kRefresh };

// Draws `picture` into the square at (x, y) of `size` pixels; greyed when
// `disabled`.
void DrawPicture(HDC dc, Picture picture, int x, int y, int size,
                 bool disabled);

}  // namespace skjk::win32

#endif  // SKJK_INTERFACE_WINDOW_WIN32_TOOLBAR_PICTURES_H_
