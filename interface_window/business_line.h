// The three business lines of the plug-in, one descriptor each.
//
// Everything that differs between the head-office, visit-sales and customer
// windows is data here: the entry points and the window read the descriptor,
// and hand each module below them only the rules it defines for itself (the
// sets their WindowSetsRules, the export its ExportRules, the import its
// ImportRules, the settings dialog its SettingsRules). Code that behaves
// differently per line looks the difference up here instead of branching on
// the line.
#ifndef SKJK_INTERFACE_WINDOW_BUSINESS_LINE_H_
#define SKJK_INTERFACE_WINDOW_BUSINESS_LINE_H_

#include <span>
#include <string_view>

#include "documents/window_sets.h"
#include "exchange/export.h"
#include "exchange/invoice_file.h"
#include "interface_window/grid_columns.h"
#include "settings/settings_dialog.h"

namespace skjk {

enum class BusinessLineKey { kBbsk, kFxsk, kJqsk };

struct BusinessLine {
  BusinessLineKey key;
  std::string_view name;          // "Bbsk": settings section
  std::string_view window_class;  // "TFrmBbsk"
  // Texts below are UTF-8 here; convert with text::Utf8ToGbk (or the _gbk
  // literal) where a GBK text is needed.
  std::string_view caption;       // window caption
  std::string_view dialog_title;  // settings dialog title
  WindowSetsRules sets;           // master set of each view
  WindowLook look;                // geometry, fonts, grids, totals
  ExportRules exporting;          // what differs in the sales-document file
  ImportRules importing;          // how invoices are read and written back
  // Run in one transaction each time the window is shown (UTF-8 SQL texts):
  // the customer window copies its customer's new documents and lines.
  std::span<const std::string_view> show_sync = {};

  SettingsRules settings() const {
    return {.section = name, .title = dialog_title};
  }
};

const BusinessLine& GetBusinessLine(BusinessLineKey key);

}  // namespace skjk

#endif  // SKJK_INTERFACE_WINDOW_BUSINESS_LINE_H_
