// The interface window of a variant as a plain frame: the variant's caption
// and window class, the "退出" button, the status bar with "记录数=0". Its
// creation step loads the variant's settings. Stands in until the full
// window layout replaces it behind CreateInterfaceWindow().
#ifndef SKJK_WINDOWS_WIN32_FRAME_WINDOW_H_
#define SKJK_WINDOWS_WIN32_FRAME_WINDOW_H_

#include <windows.h>

#include "settings/settings.h"
#include "windows/variant.h"
#include "windows/win32/interface_factory.h"

namespace skjk::win32 {

class FrameWindow final : public InterfaceWindow {
 public:
  FrameWindow(const Variant& variant, const InterfaceContext& context);
  ~FrameWindow() override;

  Status Create() override;
  const Settings& settings() const { return settings_; }

  static constexpr int kExitId = 1001;
  static constexpr int kStatusBarId = 1002;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void CreateControls();
  void FormCreate();
  void LayoutStatusBar();

  const Variant& variant_;
  InterfaceContext context_;
  Settings settings_;
  HFONT font_ = nullptr;
  HWND exit_button_ = nullptr;
  HWND status_bar_ = nullptr;
};

}  // namespace skjk::win32

#endif  // SKJK_WINDOWS_WIN32_FRAME_WINDOW_H_
