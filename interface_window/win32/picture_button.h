// PictureButton: the interface window's flat, owner-drawn button with a
// picture and its caption, on the window colour. A toolbar button shows a
// large picture above the caption; a query-bar button a small picture left
// of it. Pressed, it sinks; focused, it rises; disabled, it greys.
#ifndef SKJK_INTERFACE_WINDOW_WIN32_PICTURE_BUTTON_H_
#define SKJK_INTERFACE_WINDOW_WIN32_PICTURE_BUTTON_H_

#include <windows.h>

#include <functional>

#include "interface_window/win32/toolbar_pictures.h"
#include "window_framework/controls.h"

namespace skjk::win32 {

class PictureButton final : public PushButton {
 public:
  enum class Layout { kToolbar, kInline };

  // As PushButton::Create; BS_OWNERDRAW belongs in the style. `background`
  // is not owned and must outlive the button's window.
  bool Create(const ControlParams& params, Picture picture, Layout layout,
              HBRUSH background, std::function<void()> on_click);

  bool OnDrawItem(const DRAWITEMSTRUCT& item) override;

 private:
  Picture picture_ = Picture::kImport;
  Layout layout_ = Layout::kToolbar;
  HBRUSH background_ = nullptr;
};

}  // namespace skjk::win32

#endif  // SKJK_INTERFACE_WINDOW_WIN32_PICTURE_BUTTON_H_
