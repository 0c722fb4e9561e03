// The nine document sets of one interface window.
//
// Per view:
//   ClientDataSet1 / 2  not-invoiced sales   master / lines
//   ClientDataSet3 / 4  not-invoiced void    master / lines
//   ClientDataSet5 / 6  invoiced sales       master / lines
//   ClientDataSet7 / 8  invoiced void        master / lines
// The business line says which provider feeds each master set and in packets
// of how many documents (WindowSetsRules); each master set expects its
// provider's layout (wire/layouts.h).
//
// The sets only read. Writes to the database go through a Transaction
// (client/transaction.h) on the same connection, never statement by
// statement. The sets do not own the connection: the window owns
// DCOMConnection1 (it connects it at show time) and gives WindowSets
// requests over it (RequestsOver), so the sets must not outlive it. All sets
// start closed. Not thread-safe.
#ifndef SKJK_DOCUMENTS_WINDOW_SETS_H_
#define SKJK_DOCUMENTS_WINDOW_SETS_H_

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "client/connection.h"
#include "documents/document_set.h"

namespace skjk {

// The four views of a window, in the order of their master sets
// ClientDataSet1, 3, 5, 7.
enum class View {
  kOpenSales = 0,
  kOpenVoid = 1,
  kDoneSales = 2,
  kDoneVoid = 3
};

// What one view's master set takes from its business line.
struct MasterSetSource {
  std::string_view provider;  // "dsp_bbsk1"
  // Documents per request; Connection::kAllRecords for all at once.
  int packet_size = Connection::kAllRecords;
};

// The master sets of a business line, indexed by View.
using WindowSetsRules = std::array<MasterSetSource, 4>;

class WindowSets {
 public:
  // Sets whose requests go through `receive_records` (RequestsOver() for a
  // connection). The sets of a window share one memory budget
  // (MemoryBudget::kDefaultLimit unless `budget` is given).
  WindowSets(const WindowSetsRules& rules,
             DocumentSet::ReceiveRecordsFn receive_records,
             std::shared_ptr<MemoryBudget> budget = nullptr);
  WindowSets(const WindowSets&) = delete;
  WindowSets& operator=(const WindowSets&) = delete;
  ~WindowSets();

  // The master set of a view (ClientDataSet1/3/5/7) and its detail set
  // (ClientDataSet2/4/6/8).
  DocumentSet& master(View view) { return *masters_[static_cast<int>(view)]; }
  DetailSet& detail(View view) { return *master(view).detail(); }

  // A record set by component name ("ClientDataSet1" .. "ClientDataSet8",
  // any case); nullptr for any other name.
  RecordSet* ByName(std::string_view name);
  // The master set by component name, nullptr when `name` is not one.
  DocumentSet* MasterByName(std::string_view name);

  // Closes every master set (and so every detail set).
  void CloseAll();

 private:
  std::array<std::unique_ptr<DocumentSet>, 4> masters_;
};

}  // namespace skjk

#endif  // SKJK_DOCUMENTS_WINDOW_SETS_H_
