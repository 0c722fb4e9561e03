#include "entry/stored_texts.h"

namespace skjk {
namespace {

size_t Index(VariantKey variant) { return static_cast<size_t>(variant); }

}  // namespace

void EntryState::StoreTexts(
    VariantKey variant, const std::array<const char*, kStoredTextCount>& args) {
  StoredTexts& texts = texts_.at(Index(variant));
  for (size_t i = 0; i < args.size(); ++i) {
    texts[i] = args[i] != nullptr ? std::string(args[i]) : std::string();
  }
}

const StoredTexts& EntryState::texts(VariantKey variant) const {
  return texts_.at(Index(variant));
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
