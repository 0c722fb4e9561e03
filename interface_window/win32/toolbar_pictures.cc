#include "interface_window/win32/toolbar_pictures.h"

#include <cmath>

#include "window_framework/ui_text.h"

namespace skjk::win32 {
namespace {

// Coordinates below are on a 24-unit grid, scaled to the square.
struct Pen {
  Pen(HDC dc, COLORREF colour, int width)
      : dc_(dc),
        pen_(CreatePen(PS_SOLID, width, colour)),
        brush_(CreateSolidBrush(colour)) {
    old_pen_ = SelectObject(dc_, pen_);
    old_brush_ = SelectObject(dc_, brush_);
  }
  ~Pen() {
    SelectObject(dc_, old_pen_);
    SelectObject(dc_, old_brush_);
    DeleteObject(pen_);
    DeleteObject(brush_);
  }
  Pen(const Pen&) = delete;
  Pen& operator=(const Pen&) = delete;

 private:
  HDC dc_;
  HPEN pen_;
  HBRUSH brush_;
  HGDIOBJ old_pen_;
  HGDIOBJ old_brush_;
};

class Canvas {
 public:
  Canvas(HDC dc, int x, int y, int size) : dc_(dc), x_(x), y_(y), size_(size) {}
  int X(double u) const {
    return x_ + static_cast<int>(u * size_ / 24.0 + 0.5);
  }
  int Y(double u) const {
    return y_ + static_cast<int>(u * size_ / 24.0 + 0.5);
  }
  int W(double u) const {
    return std::max(1, static_cast<int>(u * size_ / 24.0 + 0.5));
  }
  HDC dc() const { return dc_; }

  void Rect(double l, double t, double r, double b) const {
    Rectangle(dc_, X(l), Y(t), X(r), Y(b));
  }
  void Line(double x1, double y1, double x2, double y2) const {
    MoveToEx(dc_, X(x1), Y(y1), nullptr);
    LineTo(dc_, X(x2), Y(y2));
  }
  void Polygon3(double x1, double y1, double x2, double y2, double x3,
                double y3) const {
    POINT p[3] = {{X(x1), Y(y1)}, {X(x2), Y(y2)}, {X(x3), Y(y3)}};
    Polygon(dc_, p, 3);
  }

 private:
  HDC dc_;
  int x_, y_, size_;
};

COLORREF Grey(COLORREF colour, bool disabled) {
  if (!disabled) return colour;
  const int v = (GetRValue(colour) + GetGValue(colour) + GetBValue(colour)) / 3;
  const int g = 128 + v / 3;
  return RGB(g, g, g);
}

// A tray (open box) with an arrow going into it (import) or out of it.
void DrawTray(const Canvas& c, bool into, bool disabled) {
  {
    Pen tray(c.dc(), Grey(RGB(90, 90, 90), disabled), c.W(1.5));
    c.Line(3, 14, 3, 21);
    c.Line(3, 21, 21, 21);
    c.Line(21, 21, 21, 14);
  }
  Pen arrow(c.dc(), Grey(into ? RGB(30, 90, 200) : RGB(20, 140, 60), disabled),
            c.W(1));
  if (into) {
    c.Rect(10, 2, 14, 11);
    c.Polygon3(6, 11, 18, 11, 12, 18);
  } else {
    c.Rect(10, 9, 14, 18);
    c.Polygon3(6, 9, 18, 9, 12, 2);
  }
}

void DrawGear(const Canvas& c, bool disabled) {
  Pen pen(c.dc(), Grey(RGB(80, 90, 110), disabled), c.W(3));
  for (int i = 0; i < 8; ++i) {
    const double a = i * 3.14159265 / 4;
    c.Line(12 + 6 * std::cos(a), 12 + 6 * std::sin(a), 12 + 10 * std::cos(a),
           12 + 10 * std::sin(a));
  }
  Ellipse(c.dc(), c.X(5), c.Y(5), c.X(19), c.Y(19));
  HBRUSH hole = CreateSolidBrush(kWindowColour);
  HGDIOBJ old = SelectObject(c.dc(), hole);
  HGDIOBJ old_pen = SelectObject(c.dc(), GetStockObject(NULL_PEN));
  Ellipse(c.dc(), c.X(9), c.Y(9), c.X(15) + 1, c.Y(15) + 1);
  SelectObject(c.dc(), old_pen);
  SelectObject(c.dc(), old);
  DeleteObject(hole);
}

void DrawDoor(const Canvas& c, bool disabled) {
  {
    Pen frame(c.dc(), Grey(RGB(120, 80, 40), disabled), c.W(1));
    c.Rect(4, 2, 14, 22);
  }
  Pen arrow(c.dc(), Grey(RGB(200, 40, 40), disabled), c.W(1));
  c.Rect(12, 10, 18, 14);
  c.Polygon3(17, 6, 23, 12, 17, 18);
}

void DrawCircularArrow(const Canvas& c, bool disabled) {
  const COLORREF colour = Grey(RGB(20, 120, 60), disabled);
  {
    Pen pen(c.dc(), colour, c.W(3));
    // Most of a circle, open at the upper right where the arrow head sits.
    const double kPi = 3.14159265;
    for (int i = 0; i < 24; ++i) {
      const double a0 = -kPi / 4 - i * (1.5 * kPi / 24);
      const double a1 = -kPi / 4 - (i + 1) * (1.5 * kPi / 24);
      c.Line(12 + 8 * std::cos(a0), 12 - 8 * std::sin(a0),
             12 + 8 * std::cos(a1), 12 - 8 * std::sin(a1));
    }
  }
  Pen head(c.dc(), colour, 1);
  c.Polygon3(15, 5, 23, 5, 20, 12);
}

}  // namespace

void DrawPicture(HDC dc, Picture picture, int x, int y, int size,
                 bool disabled) {
  Canvas canvas(dc, x, y, size);
  switch (picture) {
    case Picture::kImport:
      DrawTray(canvas, true, disabled);
      break;
    case Picture::kExport:
      DrawTray(canvas, false, disabled);
      break;
    case Picture::kSettings:
      DrawGear(canvas, disabled);
      break;
    case Picture::kExit:
      DrawDoor(canvas, disabled);
      break;
    case Picture::kRefresh:
      DrawCircularArrow(canvas, disabled);
      break;
  }
}

}  // namespace skjk::win32
