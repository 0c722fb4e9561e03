// Splitter: a horizontal band of a window's client area that the user drags
// up and down with the mouse, as between two grids stacked one over the
// other. It has no window of its own: the owner places the band, paints it
// and passes it its mouse messages; a drag reports each new position of the
// band's top edge to the callback, which lays the window out anew (and
// places the band again).
#ifndef SKJK_WINDOW_FRAMEWORK_SPLITTER_H_
#define SKJK_WINDOW_FRAMEWORK_SPLITTER_H_

#include <windows.h>

#include <functional>

namespace skjk::win32 {

class Splitter {
 public:
  // `on_move` gets the top edge the user dragged the band to, in the owner's
  // client coordinates.
  explicit Splitter(std::function<void(int top)> on_move)
      : on_move_(std::move(on_move)) {}

  // The band, in the owner's client coordinates.
  void Place(const RECT& band) { band_ = band; }
  const RECT& band() const { return band_; }
  bool dragging() const { return dragging_; }

  // Draws the band's raised top and bottom edges.
  void Paint(HDC dc) const;

  // The owner's WM_SETCURSOR: true when the cursor is in the owner's client
  // area over the band; the cursor is then the sizing one.
  bool SetCursor(HWND owner, WPARAM wparam, LPARAM lparam) const;
  // The owner's WM_LBUTTONDOWN: a press on the band starts a drag, with the
  // mouse captured by `owner`.
  void MouseDown(HWND owner, LPARAM lparam);
  // The owner's WM_MOUSEMOVE: during a drag, reports the band's new top.
  void MouseMove(LPARAM lparam);
  // The owner's WM_LBUTTONUP (`released`: the capture is released) or
  // WM_CAPTURECHANGED (false): ends a drag.
  void EndDrag(bool released);

 private:
  std::function<void(int)> on_move_;
  RECT band_{};
  bool dragging_ = false;
  int drag_offset_ = 0;  // from the band's top to the pressed point
};

}  // namespace skjk::win32

#endif  // SKJK_WINDOW_FRAMEWORK_SPLITTER_H_
