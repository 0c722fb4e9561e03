#include "server/window_sets.h"

#include <string>
#include <utility>

#include "server/layouts.h"

namespace skjk {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

std::string SetName(int number) {
  return "ClientDataSet" + std::to_string(number);
}

}  // namespace

WindowSets::WindowSets(VariantKey variant,
                       DocumentSet::GetRecordsFn get_records,
                       CommandSet::ExecuteFn execute)
    : variant_(&GetVariant(variant)), cds_temp_(std::move(execute)) {
  Build(get_records);
}

WindowSets::~WindowSets() = default;

void WindowSets::Build(const DocumentSet::GetRecordsFn& get_records) {
  for (int v = 0; v < 4; ++v) {
    std::string provider(variant_->providers[v]);
    const layouts::Layout* layout = layouts::ProviderLayout(provider);
    int packet = Connection::kAllRecords;
    if (static_cast<View>(v) == View::kDoneSales &&
        variant_->done_sales_packet > 0) {
      packet = variant_->done_sales_packet;
    }
    masters_[v] = std::make_unique<DocumentSet>(SetName(2 * v + 1), get_records,
                                                std::move(provider), packet,
                                                layout, SetName(2 * v + 2));
  }
}

RecordSet* WindowSets::ByName(std::string_view name) {
  for (auto& master : masters_) {
    if (EqualsNoCase(master->name(), name)) return master.get();
    if (master->detail() != nullptr &&
        EqualsNoCase(master->detail()->name(), name)) {
      return master->detail();
    }
  }
  return nullptr;
}

DocumentSet* WindowSets::MasterByName(std::string_view name) {
  for (auto& master : masters_) {
    if (EqualsNoCase(master->name(), name)) return master.get();
  }
  return nullptr;
}

void WindowSets::CloseAll() {
  for (auto& master : masters_) master->Close();
}

}  // namespace skjk
