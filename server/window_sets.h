// The nine document sets of one interface window.
//
// Per variant (windows/variant.h) and view:
//   ClientDataSet1 / 2  not-invoiced sales   master / lines
//   ClientDataSet3 / 4  not-invoiced void    master / lines
//   ClientDataSet5 / 6  invoiced sales       master / lines (packets of
//                       Variant::done_sales_packet documents when non-zero)
//   ClientDataSet7 / 8  invoiced void        master / lines
//   cds_temp            command set: SQL through provider dsp_temp
// Each master set has its provider's layout (server/layouts.h); every other
// master set receives all its records in one request.
//
// The sets do not own the connection: the window owns DCOMConnection1 (it
// connects it at show time and the write-back calls its transaction methods)
// and gives it to WindowSets, which must not outlive it. All sets start
// closed. Not thread-safe.
#ifndef SKJK_SERVER_WINDOW_SETS_H_
#define SKJK_SERVER_WINDOW_SETS_H_

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "server/connection.h"
#include "server/document_set.h"
#include "windows/variant.h"

namespace skjk {

// cds_temp: never opened, holds no records; carries one SQL statement at a
// time to the server.
class CommandSet {
 public:
  using ExecuteFn = std::function<Status(std::string_view sql)>;
  explicit CommandSet(ExecuteFn execute) : execute_(std::move(execute)) {}

  static constexpr std::string_view kName = "cds_temp";
  static constexpr std::string_view kProvider = "dsp_temp";

  // Runs one complete SQL statement (GBK) on the server through dsp_temp;
  // the server's or the system's error when it fails.
  Status Execute(std::string_view sql) { return execute_(sql); }

 private:
  ExecuteFn execute_;
};

class WindowSets {
 public:
  // Sets whose requests go through `connection` (not owned).
  WindowSets(VariantKey variant, Connection* connection)
      : WindowSets(
            variant,
            [connection](
                std::string_view provider, int packet_size, bool with_layout,
                const std::vector<std::string>& params, Packet* packet) {
              return connection->GetRecords(provider, packet_size, with_layout,
                                            params, packet);
            },
            [connection](std::string_view sql) {
              return connection->Execute(sql);
            }) {}
  // Sets on other request functions (tests).
  WindowSets(VariantKey variant, DocumentSet::GetRecordsFn get_records,
             CommandSet::ExecuteFn execute);
  WindowSets(const WindowSets&) = delete;
  WindowSets& operator=(const WindowSets&) = delete;
  ~WindowSets();

  const Variant& variant() const { return *variant_; }

  // The master set of a view (ClientDataSet1/3/5/7) and its detail set
  // (ClientDataSet2/4/6/8).
  DocumentSet& master(View view) { return *masters_[static_cast<int>(view)]; }
  DetailSet& detail(View view) { return *master(view).detail(); }
  CommandSet& cds_temp() { return cds_temp_; }

  // A record set by component name ("ClientDataSet1" .. "ClientDataSet8",
  // any case); nullptr for any other name (cds_temp holds no records).
  RecordSet* ByName(std::string_view name);
  // The master set by component name, nullptr when `name` is not one.
  DocumentSet* MasterByName(std::string_view name);

  // Closes every master set (and so every detail set).
  void CloseAll();

 private:
  void Build(const DocumentSet::GetRecordsFn& get_records);

  const Variant* variant_;
  std::array<std::unique_ptr<DocumentSet>, 4> masters_;
  CommandSet cds_temp_;
};

}  // namespace skjk

#endif  // SKJK_SERVER_WINDOW_SETS_H_
