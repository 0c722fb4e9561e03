// The export of the window's not-invoiced documents into the file the
// tax-control machine reads: the sales-document file ("SJJK0101": a marker
// line, a document line and its goods lines per document) or the
// void-document file ("SJJK0102": a marker line and the document number per
// document).
//
// RunExport() is the whole action of the window's export button: guards,
// confirmation, the check against earlier exports, the walk over the master
// set, the end of the run and the failure path. It talks to the window only
// through ExportHost, to the file system through Env, and to the exchange
// journal of the application server through the window's Connection.
//
// The exchange journal. After the confirmation, before the file is touched,
// the server is asked which documents of the view went out in an earlier
// export of the line and kind and are still not invoiced (CheckExport). When
// some did, a warning question says how many, when and into which file; No
// ends the run there. When the check itself fails, the run ends with the
// export's failure message. Once the file is closed, whether the run
// completed or failed, the run is recorded (RecordExport): the line, the
// kind, the window's dates, the file's path, size and SHA-256 of the bytes
// the file took, the outcome, and the documents written into it. A run that
// could not be recorded stays as it ended; after the run's own message the
// user is told that it was not recorded and why.
//
// The file is GBK; every line, the last one included, ends in CR LF; fields
// are separated by "~~" and written without quoting, so a field text that
// holds "~~" or a line break is written as it stands. A run that fails
// part-way keeps what it wrote; the user is told that the export failed.
#ifndef SKJK_EXCHANGE_EXPORT_H_
#define SKJK_EXCHANGE_EXPORT_H_

#include <string>
#include <string_view>

#include "base/env.h"
#include "client/connection.h"
#include "documents/document_set.h"
#include "exchange/exchange_host.h"
#include "text/forms.h"

namespace skjk {

// How one business line's sales-document file differs from the others'.
struct ExportRules {
  // The line's key in the exchange journal: "Bbsk", "Fxsk" or "Jqsk".
  std::string_view line;
  enum class Rate {
    kMasterRate,  // ZZSL00 of the document, per cent, as a fraction
    kFixed,       // always "0.17"
    // "0.17", or empty when the reviewer, the payee or the tax item is
    // a field reference
    kFixedUnlessReference,
  };
  std::string_view address_field;  // document line field 5
  bool remark;                     // field 7 is BEIZHU (else always empty)
  Rate rate;                       // goods line field 6
};

// What the export needs of the window besides messages and the settings
// dialog. The calls that process pending messages may re-enter the window.
class ExportHost : public ExchangeHost {
 public:
  // The walk starts: progress bar 0..count with step 1, `status` in the
  // status bar, hourglass; pending messages processed.
  virtual void BeginWalk(int count, std::string_view status) = 0;
  // One document done: the progress bar steps; pending messages processed.
  virtual void StepWalk() = 0;
  // The walk ended: progress bar removed, status text cleared, normal
  // cursor.
  virtual void EndWalk() = 0;
  // A date-time value in the user's regional short date form, followed by a
  // blank and the long time form when it has a time of day.
  virtual std::string RegionalDateTime(double value) = 0;
};

// What the export takes of the window's settings, all texts GBK. The three
// invoice texts are each a literal text or "@NAME", the text of field NAME of
// the document being written.
struct ExportSettings {
  std::string_view sales_file;  // the sales-document file
  std::string_view void_file;   // the void-document file
  std::string_view reviewer;    // named on the invoices
  std::string_view payee;       // named on the invoices
  std::string_view tax_item;    // of the goods
};

// The window's state at the click, all texts GBK.
struct ExportRequest {
  ExportSettings settings;
  int document_count = 0;      // "记录数=" of the window
  bool not_invoiced = false;   // "未开发票" is on
  std::string_view list_text;  // "销售单据", "报废单据" or empty
  text::Day start, end;        // the date pickers
  // The master set of the view (its detail set gives the lines). Left on
  // the last document after a completed walk.
  DocumentSet* documents = nullptr;
};

void RunExport(const ExportRules& rules, const ExportRequest& request, Env* env,
               Connection* connection, ExportHost* host);

}  // namespace skjk

#endif  // SKJK_EXCHANGE_EXPORT_H_
