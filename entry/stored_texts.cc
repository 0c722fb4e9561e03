#include "entry/stored_texts.h"

namespace skjk {
namespace {

size_t Index(BusinessLineKey line) { return static_cast<size_t>(line); }

}  // namespace

void EntryState::StoreTexts(
    BusinessLineKey line,
    const std::array<const char*, kStoredTextCount>& args) {
  StoredTexts& texts = texts_.at(Index(line));
  for (size_t i = 0; i < args.size(); ++i) {
    texts[i] = args[i] != nullptr ? std::string(args[i]) : std::string();
  }
}

const StoredTexts& EntryState::texts(BusinessLineKey line) const {
  return texts_.at(Index(line));
}

void EntryState::Clear() {
  for (StoredTexts& texts : texts_) {
    for (std::string& text : texts) std::string().swap(text);
  }
}

EntryState& GlobalEntryState() {
  // Never destroyed: the library's unload clears it explicitly, and nothing
  // may depend on the order of static destructors at that point.
  static EntryState* state = new EntryState;
  return *state;
}

}  // namespace skjk
