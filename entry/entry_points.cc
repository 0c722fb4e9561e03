// The three entry points: store the host's texts, adopt the owner window,
// create the business line's window, show it modally, release it.
#include "entry/entry_points.h"

#include <commctrl.h>

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "entry/library.h"
#include "entry/stored_texts.h"
#include "interface_window/business_line.h"
#include "interface_window/win32/interface_factory.h"
#include "text/error_text.h"
#include "window_framework/base_window.h"
#include "window_framework/error_display.h"
#include "window_framework/modal.h"

namespace skjk {
namespace {

void InitControls() {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES |
              ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&icc);
}

void ShowInterface(const BusinessLine& line, HWND host,
                   const std::array<const char*, kStoredTextCount>& texts) {
  EntryState& state = GlobalEntryState();
  state.StoreTexts(line.key, texts);
  // A handle that is no window (stale or garbage) would make the window's
  // creation fail: the library's windows then have no owner instead.
  win32::AdoptOwnerWindow(host);

  ScopedLibraryActivation activation;
  InitControls();

  win32::InterfaceContext context;
  context.owner = win32::OwnerWindow();
  context.server_machine = state.ServerMachine(line.key);
  std::unique_ptr<win32::InterfaceWindow> window =
      win32::CreateInterfaceWindow(line, context);
  Status status = window->Create();
  if (status.ok()) status = window->ShowModal(context.owner);
  if (!status.ok()) win32::ShowGeneralError(context.owner, status.message());
  win32::ReleaseLater(std::move(window));
}

void Entry(BusinessLineKey key, HWND host,
           const std::array<const char*, kStoredTextCount>& texts) noexcept {
  try {
    ShowInterface(GetBusinessLine(key), host, texts);
  } catch (const std::bad_alloc&) {
    win32::ShowGeneralError(win32::OwnerWindow(), OutOfMemoryErrorText());
  } catch (const std::exception& e) {
    win32::ShowGeneralError(win32::OwnerWindow(), e.what());
  } catch (...) {
    win32::ShowGeneralError(win32::OwnerWindow(), "Unexpected error");
  }
}

}  // namespace
}  // namespace skjk

extern "C" {

void __stdcall ShowDllJqsk(HWND host, const char* text1, const char* text2,
                           const char* text3, const char* text4,
                           const char* text5) noexcept {
  skjk::Entry(skjk::BusinessLineKey::kJqsk, host,
              {text1, text2, text3, text4, text5});
}

void __stdcall ShowDllFxsk(HWND host, const char* text1, const char* text2,
                           const char* text3, const char* text4,
                           const char* text5) noexcept {
  skjk::Entry(skjk::BusinessLineKey::kFxsk, host,
              {text1, text2, text3, text4, text5});
}

void __stdcall ShowDllBbsk(HWND host, const char* text1, const char* text2,
                           const char* text3, const char* text4,
                           const char* text5) noexcept {
  skjk::Entry(skjk::BusinessLineKey::kBbsk, host,
              {text1, text2, text3, text4, text5});
}

}  // extern "C"
