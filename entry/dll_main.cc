// Load and unload of the plug-in.
#include <windows.h>

#include "entry/library.h"
#include "entry/stored_texts.h"
#include "window_framework/base_window.h"
#include "window_framework/modal.h"

namespace skjk {
namespace {

HINSTANCE g_module = nullptr;
HANDLE g_activation_context = INVALID_HANDLE_VALUE;
bool g_activation_tried = false;

HANDLE ActivationContext() {
  if (!g_activation_tried) {
    g_activation_tried = true;
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return INVALID_HANDLE_VALUE;
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags =
        ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path;
    context.hModule = g_module;
    context.lpResourceName = MAKEINTRESOURCEW(2);
    g_activation_context = CreateActCtxW(&context);
  }
  return g_activation_context;
}

// Library unload (FreeLibrary): windows whose release is still pending are
// destroyed, the window classes unregistered and the stored texts released.
// At process exit (reserved != null) the system tears everything down itself.
void Unload() {
  win32::DestroyPendingWindows();
  win32::UnregisterWindowClasses();
  GlobalEntryState().Clear();
  win32::AdoptOwnerWindow(nullptr);
  if (g_activation_context != INVALID_HANDLE_VALUE) {
    ReleaseActCtx(g_activation_context);
    g_activation_context = INVALID_HANDLE_VALUE;
  }
}

}  // namespace

HINSTANCE LibraryModule() { return g_module; }

ScopedLibraryActivation::ScopedLibraryActivation() {
  HANDLE context = ActivationContext();
  if (context != INVALID_HANDLE_VALUE) {
    active_ = ActivateActCtx(context, &cookie_) != FALSE;
  }
}

ScopedLibraryActivation::~ScopedLibraryActivation() {
  if (active_) DeactivateActCtx(0, cookie_);
}

}  // namespace skjk

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason,
                               LPVOID reserved) {
  try {
    if (reason == DLL_PROCESS_ATTACH) {
      skjk::g_module = module;
      DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
      skjk::Unload();
    }
  } catch (...) {
    // Nothing may leave DllMain; an unload that failed half-way leaves at
    // worst a window that the host's exit destroys.
  }
  return TRUE;
}
