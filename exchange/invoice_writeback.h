// The invoice write-back: stores the invoice numbers of an issued-invoice
// file (exchange/invoice_file.h) on the documents they were issued for, in
// one transaction of the application server that is committed after the last
// record or rolled back whole.
//
//   InvoiceWriteBack w(rules, &connection);
//   Status s = w.Begin();
//   for (const InvoiceRecord& r : records) if (s.ok()) s = w.Write(r);
//   if (s.ok()) s = w.Finish();
//   if (!s.ok()) w.Abandon();
//
// Statements, one per record and, where the line reads them, one per detail
// line of a sales record; text values between single quotes with each
// single quote doubled, numbers bare, the invoice date inside TO_DATE:
//   sales   update <sales_table> set FPBBH0='B',FPHAO0='N'[,KPRQ00=
//           TO_DATE('YYYYMMDD','YYYYMMDD')] where <sales_condition>DHAO00=D
//   detail  update <detail_table> set SE0000=T where DHAO00=D and SPMC00='P'
//   void    update <void_table> set FPBBH0='B',FPHAO0='N' where DHAO00=D
// then the line's closing statement, if any, before the commit.
//
// A value that does not fit its place (a document number or tax amount that
// is no plain decimal number, an invoice date that is no real YYYYMMDD day,
// a text that is no whole GBK text) fails Write() with BadInput before
// anything is sent. Failures are those of Transaction (client/transaction.h):
// the first one ends the transaction and nothing of it is committed.
#ifndef SKJK_EXCHANGE_INVOICE_WRITEBACK_H_
#define SKJK_EXCHANGE_INVOICE_WRITEBACK_H_

#include <string>
#include <vector>

#include "base/status.h"
#include "client/connection.h"
#include "client/transaction.h"
#include "exchange/invoice_file.h"

namespace skjk {

class InvoiceWriteBack {
 public:
  // `rules` and `connection` must outlive the write-back.
  InvoiceWriteBack(const ImportRules& rules, Connection* connection)
      : rules_(rules), transaction_(connection) {}

  // Opens the transaction.
  Status Begin();
  // Runs the statements of `record`.
  Status Write(const InvoiceRecord& record);
  // Runs the closing statement, if any, and commits.
  Status Finish();
  // Rolls back what was written; does nothing when nothing is open.
  void Abandon() { transaction_.Rollback(); }

  // The records written so far whose own statement (the sales or void
  // statement, not a detail line's) changed no row: invoices that matched
  // no document.
  int unmatched() const { return unmatched_; }

  // The statements of `record` for `rules`, in the order they run.
  static Result<std::vector<std::string>> Statements(
      const ImportRules& rules, const InvoiceRecord& record);

 private:
  const ImportRules& rules_;
  Transaction transaction_;
  int unmatched_ = 0;
};

}  // namespace skjk

#endif  // SKJK_EXCHANGE_INVOICE_WRITEBACK_H_
