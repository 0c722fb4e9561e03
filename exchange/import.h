// The import of the tax-control machine's issued-invoice file: reads the
// file named by the window's invoice_file setting (exchange/invoice_file.h),
// takes its date range into the window and writes the invoice numbers of its
// records back into the database in one transaction
// (exchange/invoice_writeback.h), committed only when every record was
// written.
//
// RunImport() is the whole action of the window's import button: guards,
// confirmation, reading, the check against the database, write-back, the end
// of the run and the failure path. It talks to the window only through
// ImportHost.
//
// The check. Once the file is read, before anything is written, the server
// is told the file's name and asked what the line's tables hold for the
// file's documents, sales and void apart (CheckInvoices, on the session the
// write-back then runs on). A document the tables lack, and one that carries
// an invoice number other than the file's, do not fit the file (a document
// field that is no whole number cannot be in the tables at all); when some
// do not, a warning question gives both counts and the first few document
// numbers, and No ends the import through its failure path with nothing
// written. A failing check ends it the same way. After a successful
// write-back in which some records changed no row, an information box after
// "读入成功！" says how many invoices matched no document.
#ifndef SKJK_EXCHANGE_IMPORT_H_
#define SKJK_EXCHANGE_IMPORT_H_

#include <string>
#include <string_view>

#include "base/env.h"
#include "client/connection.h"
#include "exchange/exchange_host.h"
#include "exchange/invoice_file.h"
#include "text/forms.h"

namespace skjk {

// What the import needs of the window besides messages and the settings
// dialog. The calls that process pending messages may re-enter the window.
class ImportHost : public ExchangeHost {
 public:
  // `text` in the status bar (empty clears it); pending messages processed.
  virtual void SetStatus(std::string_view text) = 0;
  // The date pickers take the file's range; no query runs.
  virtual void SetStartDate(text::Day day) = 0;
  virtual void SetEndDate(text::Day day) = 0;
  // The write-back starts: hourglass, progress bar 0..count with step 1;
  // pending messages processed.
  virtual void BeginWalk(int count) = 0;
  // One record written: the progress bar steps; pending messages processed.
  virtual void StepWalk() = 0;
  // Progress bar removed (when BeginWalk made one), normal cursor.
  virtual void EndWalk() = 0;
  // After success: the invoiced view is selected ("已开发票" on), as a click
  // on it does.
  virtual void ShowInvoiced() = 0;
};

// Runs the import of the file at `invoice_file` (GBK) for `rules`, writing
// through `connection`.
void RunImport(const ImportRules& rules, std::string_view invoice_file,
               Env* env, Connection* connection, ImportHost* host);

}  // namespace skjk

#endif  // SKJK_EXCHANGE_IMPORT_H_
