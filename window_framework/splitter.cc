#include "window_framework/splitter.h"

namespace skjk::win32 {
namespace {

POINT PointOf(LPARAM lparam) {
  return POINT{static_cast<short>(LOWORD(lparam)),
               static_cast<short>(HIWORD(lparam))};
}

}  // namespace

void Splitter::Paint(HDC dc) const {
  RECT band = band_;
  DrawEdge(dc, &band, BDR_RAISEDINNER, BF_TOP | BF_BOTTOM);
}

bool Splitter::SetCursor(HWND owner, WPARAM wparam, LPARAM lparam) const {
  if (reinterpret_cast<HWND>(wparam) != owner || LOWORD(lparam) != HTCLIENT) {
    return false;
  }
  POINT pt;
  GetCursorPos(&pt);
  ScreenToClient(owner, &pt);
  if (!PtInRect(&band_, pt)) return false;
  ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32645)));  // IDC_SIZENS
  return true;
}

void Splitter::MouseDown(HWND owner, LPARAM lparam) {
  const POINT pt = PointOf(lparam);
  if (!PtInRect(&band_, pt)) return;
  dragging_ = true;
  drag_offset_ = pt.y - band_.top;
  SetCapture(owner);
}

void Splitter::MouseMove(LPARAM lparam) {
  if (dragging_ && on_move_) on_move_(PointOf(lparam).y - drag_offset_);
}

void Splitter::EndDrag(bool released) {
  if (!dragging_) return;
  dragging_ = false;
  if (released) ReleaseCapture();
}

}  // namespace skjk::win32
