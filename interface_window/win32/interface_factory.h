// The seam between the entry points and the interface windows: the entry
// points create a business line's window through CreateInterfaceWindow() and
// know nothing else of it.
#ifndef SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_FACTORY_H_
#define SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_FACTORY_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/status.h"
#include "interface_window/business_line.h"
#include "window_framework/modal.h"

namespace skjk::win32 {

// What an entry-point call hands to its window.
struct InterfaceContext {
  HWND owner = nullptr;        // owner window (may be null)
  std::string server_machine;  // text 5 of the call (GBK), "" = this computer
};

class InterfaceWindow : public ModalWindow {
 public:
  // Creates the window and runs its creation step (LoadSettings). An error of
  // the creation step is shown by the window (general error display) and the
  // window still exists; an error returned means that no window exists.
  virtual Status Create() = 0;
};

std::unique_ptr<InterfaceWindow> CreateInterfaceWindow(
    const BusinessLine& business_line, const InterfaceContext& context);

}  // namespace skjk::win32

#endif  // SKJK_INTERFACE_WINDOW_WIN32_INTERFACE_FACTORY_H_
