#include "interface_window/win32/picture_button.h"

#include <string>
#include <utility>

#include "window_framework/ui_text.h"

namespace skjk::win32 {

bool PictureButton::Create(const ControlParams& params, Picture picture,
                           Layout layout, HBRUSH background,
                           std::function<void()> on_click) {
  picture_ = picture;
  layout_ = layout;
  background_ = background;
  return PushButton::Create(params, std::move(on_click));
}

bool PictureButton::OnDrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  FillRect(dc, &r, background_);
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  if (pressed) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  if ((item.itemState & ODS_FOCUS) != 0 && !pressed) {
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  }
  const int shift = pressed ? 1 : 0;
  std::wstring caption = WindowTextW(item.hwndItem);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  if (layout_ == Layout::kInline) {
    DrawPicture(dc, picture_, r.left + 4 + shift,
                (r.top + r.bottom - 16) / 2 + shift, 16, disabled);
    RECT text = r;
    text.left += 22 + shift;
    text.top += shift;
    DrawTextW(dc, caption.c_str(), -1, &text,
              DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    return true;
  }
  const int x = (r.left + r.right - 24) / 2 + shift;
  DrawPicture(dc, picture_, x, r.top + 4 + shift, 24, disabled);
  RECT text{r.left + shift, r.top + 30 + shift, r.right + shift,
            r.bottom + shift};
  DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_CENTER | DT_TOP);
  return true;
}

}  // namespace skjk::win32
