// Lifetime of the plug-in inside the host process.
#ifndef SKJK_ENTRY_LIBRARY_H_
#define SKJK_ENTRY_LIBRARY_H_

#include <windows.h>

namespace skjk {

// The plug-in's own module handle (from DllMain).
HINSTANCE LibraryModule();

// Activates the plug-in's manifest (common controls v6) on this thread for
// the object's lifetime; does nothing where that is impossible.
class ScopedLibraryActivation {
 public:
  ScopedLibraryActivation();
  ~ScopedLibraryActivation();
  ScopedLibraryActivation(const ScopedLibraryActivation&) = delete;
  ScopedLibraryActivation& operator=(const ScopedLibraryActivation&) = delete;

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

}  // namespace skjk

#endif  // SKJK_ENTRY_LIBRARY_H_
