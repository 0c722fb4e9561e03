// The library-wide texts that an entry-point call leaves behind: the five
// texts of the latest call per business line. (The owner window is kept by
// the window framework, window_framework/modal.h.)
//
// Plain values without locking: the host calls the entry points on its user
// interface thread, one call at a time. Portable, so that the rules are
// tested natively.
#ifndef SKJK_ENTRY_STORED_TEXTS_H_
#define SKJK_ENTRY_STORED_TEXTS_H_

#include <array>
#include <string>

#include "interface_window/business_line.h"

namespace skjk {

inline constexpr int kStoredTextCount = 5;
// Index of the server machine name among the five texts.
inline constexpr int kServerMachineText = 4;

using StoredTexts = std::array<std::string, kStoredTextCount>;

class EntryState {
 public:
  // Replaces the business line's texts with the call's string arguments 2 to 6
  // (GBK, zero-terminated); a null pointer gives an empty text. The other
  // business lines' texts are left as they are.
  void StoreTexts(BusinessLineKey line,
                  const std::array<const char*, kStoredTextCount>& args);
  const StoredTexts& texts(BusinessLineKey line) const;
  // The server machine name (text 5) of the business line's latest call.
  const std::string& ServerMachine(BusinessLineKey line) const {
    return texts(line)[kServerMachineText];
  }

  // Releases every stored text (library unload).
  void Clear();

 private:
  std::array<StoredTexts, 3> texts_;
};

// The state of this library instance.
EntryState& GlobalEntryState();

}  // namespace skjk

#endif  // SKJK_ENTRY_STORED_TEXTS_H_
