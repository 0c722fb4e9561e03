// The library-wide values that an entry-point call leaves behind: the five
// texts of the latest call per business line and the owner window.
//
// Plain values without locking: the host calls the entry points on its user
// interface thread, one call at a time. Portable (the window handle is held
// as an opaque integer), so that the rules are tested natively.
#ifndef SKJK_ENTRY_STORED_TEXTS_H_
#define SKJK_ENTRY_STORED_TEXTS_H_

#include <array>
#include <cstdint>
#include <string>

#include "windows/variant.h"

namespace skjk {

inline constexpr int kStoredTextCount = 5;
// Index of the server machine name among the five texts.
inline constexpr int kServerMachineText = 4;

using StoredTexts = std::array<std::string, kStoredTextCount>;

class EntryState {
 public:
  // Replaces the variant's texts with the call's string arguments 2 to 6
  // (GBK, zero-terminated); a null pointer gives an empty text. The other
  // variants' texts are left as they are.
  void StoreTexts(VariantKey variant,
                  const std::array<const char*, kStoredTextCount>& args);
  const StoredTexts& texts(VariantKey variant) const;
  // The server machine name (text 5) of the variant's latest call.
  const std::string& ServerMachine(VariantKey variant) const {
    return texts(variant)[kServerMachineText];
  }

  // The host window of the latest call owns every window and message box of
  // the library. Adopting the current handle again changes nothing; the
  // handle is not reset after a call.
  void AdoptOwner(std::uintptr_t window) { owner_ = window; }
  std::uintptr_t owner() const { return owner_; }

  // Releases every stored text (library unload).
  void Clear();

 private:
  std::array<StoredTexts, 3> texts_;
  std::uintptr_t owner_ = 0;
};

// The state of this library instance.
EntryState& GlobalEntryState();

}  // namespace skjk

#endif  // SKJK_ENTRY_STORED_TEXTS_H_
