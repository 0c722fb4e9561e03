#include "exchange/import.h"

#include <utility>

#include "exchange/invoice_writeback.h"
#include "text/gbk.h"

namespace skjk {

using namespace text::literals;

namespace {

using Notice = ImportHost::Notice;

// Reads and writes back; the first failure ends it. `walking` tells whether
// the progress display was started.
Status ReadAndWrite(const ImportRules& rules, const IssuedInvoices& invoices,
                    InvoiceWriteBack* write_back, ImportHost* host,
                    bool* walking) {
  if (invoices.outcome != IssuedInvoices::Outcome::kRead) {
    return invoices.status;
  }
  host->BeginWalk(invoices.record_count);
  *walking = true;
  if (Status s = write_back->Begin(); !s.ok()) return s;
  for (const InvoiceRecord& record : invoices.records) {
    if (Status s = write_back->Write(record); !s.ok()) return s;
    host->StepWalk();
  }
  if (!rules.closing.empty()) {
    host->SetStatus("文件读入完毕，正在更新访销配送数据，请稍候……"_gbk);
  }
  return write_back->Finish();
}

}  // namespace

void RunImport(const ImportRules& rules, std::string_view invoice_file,
               Env* env, Connection* connection, ImportHost* host) {
  if (invoice_file.empty()) {
    host->Tell(Notice::kWarning, "请指定读入文件位置！"_gbk);
    host->OpenSettings();
    return;
  }
  if (!host->Confirm("是否读入销售发票文件"_gbk + std::string(invoice_file))) {
    return;
  }
  if (!env->FileExists(invoice_file)) {
    host->Tell(Notice::kError, "指定文件不存在！"_gbk);
    return;
  }

  host->SetStatus("正在读入文件，请稍候……"_gbk);
  IssuedInvoices invoices;
  {
    std::string bytes;
    Status read = env->ReadFile(invoice_file, &bytes);
    if (read.ok()) {
      invoices = ReadIssuedInvoices(rules, bytes);
    } else {
      invoices.outcome = IssuedInvoices::Outcome::kFailed;
      invoices.status = std::move(read);
    }
  }
  if (invoices.outcome == IssuedInvoices::Outcome::kNotInvoiceFile) {
    host->SetStatus("");
    host->Tell(Notice::kError, "指定的文件不是正确的税控机传出文件！"_gbk);
    return;
  }
  // The dates stay set also when the import fails afterwards.
  if (invoices.first_day) host->SetStartDate(*invoices.first_day);
  if (invoices.last_day) host->SetEndDate(*invoices.last_day);

  InvoiceWriteBack write_back(rules, connection);
  bool walking = false;
  Status status = ReadAndWrite(rules, invoices, &write_back, host, &walking);
  invoices.records.clear();
  host->SetStatus("");
  if (walking) host->EndWalk();
  if (!status.ok()) {
    write_back.Abandon();
    host->Tell(Notice::kError, "文件读入发生意外错误！"_gbk);
    return;
  }
  host->Tell(Notice::kInfo, "读入成功！"_gbk);
  host->ShowInvoiced();
}

}  // namespace skjk
