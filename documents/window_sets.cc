#include "documents/window_sets.h"

#include <string>
#include <utility>

#include "text/forms.h"
#include "wire/layouts.h"

namespace skjk {
namespace {

std::string SetName(size_t number) {
  return "ClientDataSet" + std::to_string(number);
}

}  // namespace

WindowSets::WindowSets(const WindowSetsRules& rules,
                       DocumentSet::ReceiveRecordsFn receive_records,
                       std::shared_ptr<MemoryBudget> budget) {
  if (budget == nullptr) {
    budget = std::make_shared<MemoryBudget>(MemoryBudget::kDefaultLimit);
  }
  for (size_t v = 0; v < rules.size(); ++v) {
    std::string provider(rules[v].provider);
    const layouts::Layout* layout = layouts::ProviderLayout(provider);
    masters_[v] = std::make_unique<DocumentSet>(
        SetName(2 * v + 1), receive_records, std::move(provider),
        rules[v].packet_size, layout, SetName(2 * v + 2));
    masters_[v]->set_memory_budget(budget);
  }
}

WindowSets::~WindowSets() = default;

RecordSet* WindowSets::ByName(std::string_view name) {
  for (auto& master : masters_) {
    if (text::EqualsIgnoringCase(master->name(), name)) return master.get();
    if (master->detail() != nullptr &&
        text::EqualsIgnoringCase(master->detail()->name(), name)) {
      return master->detail();
    }
  }
  return nullptr;
}

DocumentSet* WindowSets::MasterByName(std::string_view name) {
  for (auto& master : masters_) {
    if (text::EqualsIgnoringCase(master->name(), name)) return master.get();
  }
  return nullptr;
}

void WindowSets::CloseAll() {
  for (auto& master : masters_) master->Close();
}

}  // namespace skjk
