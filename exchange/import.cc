#include "exchange/import.h"

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "exchange/invoice_writeback.h"
#include "text/gbk.h"

namespace skjk {

using namespace text::literals;

namespace {

using Notice = ImportHost::Notice;

// How many document numbers the mismatch question lists of each kind.
constexpr size_t kListedDocuments = 5;

// A record's document field (a plain decimal number) as a whole number:
// digits with an optional sign, and optionally a point followed by zeros
// only. None for anything else, or beyond int64.
std::optional<int64_t> WholeDocumentNumber(std::string_view text) {
  const size_t point = text.find('.');
  if (point != std::string_view::npos) {
    if (text.find_first_not_of('0', point + 1) != std::string_view::npos) {
      return std::nullopt;
    }
    text = text.substr(0, point);
  }
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The documents of the file that do not fit the database, as the file
// writes their numbers.
struct Mismatch {
  std::vector<std::string> missing;   // not in the line's tables
  std::vector<std::string> numbered;  // invoiced with other numbers
  bool empty() const { return missing.empty() && numbered.empty(); }
};

// The records of one kind by document number, and the document fields that
// are no whole number (once each).
struct FileDocuments {
  std::map<int64_t, std::vector<const InvoiceRecord*>> records;
  std::set<std::string> odd;
  protocol::DocumentNumbers Numbers() const {
    protocol::DocumentNumbers numbers;
    for (const auto& entry : records) numbers.push_back(entry.first);
    return numbers;
  }
};

void Compare(const FileDocuments& file,
             const protocol::InvoicedDocuments& tables, Mismatch* mismatch) {
  for (int64_t n : tables.missing) {
    mismatch->missing.push_back(std::to_string(n));
  }
  mismatch->missing.insert(mismatch->missing.end(), file.odd.begin(),
                           file.odd.end());
  for (size_t i = 0; i < tables.invoiced.size() && i < tables.numbers.size();
       ++i) {
    auto it = file.records.find(tables.invoiced[i]);
    if (it == file.records.end()) continue;
    const auto& [book, number] = tables.numbers[i];
    for (const InvoiceRecord* record : it->second) {
      if (record->book != book || record->number != number) {
        mismatch->numbered.push_back(std::to_string(tables.invoiced[i]));
        break;
      }
    }
  }
}

// "N张（a、b、c、d、e等）", "N张" when there are none.
std::string Listed(const std::vector<std::string>& documents) {
  std::string text = std::to_string(documents.size()) + "张"_gbk;
  if (documents.empty()) return text;
  text += "（"_gbk;
  for (size_t i = 0; i < documents.size() && i < kListedDocuments; ++i) {
    if (i > 0) text += "、"_gbk;
    text += documents[i];
  }
  if (documents.size() > kListedDocuments) text += "等"_gbk;
  return text + "）"_gbk;
}

// Asks the server what the line's tables hold for the file's documents and,
// when some do not fit the file, the user whether to go on. Fails when the
// check fails or the user says No.
Status CheckAgainstDatabase(const ImportRules& rules,
                            std::string_view invoice_file,
                            const IssuedInvoices& invoices,
                            Connection* connection, ImportHost* host) {
  FileDocuments sales, voids;
  for (const InvoiceRecord& record : invoices.records) {
    FileDocuments& kind = record.is_sales() ? sales : voids;
    if (auto n = WholeDocumentNumber(record.document)) {
      kind.records[*n].push_back(&record);
    } else {
      kind.odd.insert(record.document);
    }
  }
  Result<protocol::InvoiceState> state =
      connection->CheckInvoices({.line = std::string(rules.line),
                                 .file_name = std::string(invoice_file),
                                 .sales = sales.Numbers(),
                                 .void_documents = voids.Numbers()});
  if (!state.ok()) return state.status();
  Mismatch mismatch;
  Compare(sales, state->sales, &mismatch);
  Compare(voids, state->void_documents, &mismatch);
  if (mismatch.empty()) return Status::OK();
  const std::string question =
      "发票文件与数据库中的单据不符：\r单据不存在："_gbk +
      Listed(mismatch.missing) + "\r已有发票号（与文件中的不同）："_gbk +
      Listed(mismatch.numbered) + "\r是否仍然读入？"_gbk;
  if (!host->ConfirmWarning(question)) {
    return Status::Error("the file does not fit the documents; not imported");
  }
  return Status::OK();
}

// Reads and writes back; the first failure ends it. `walking` tells whether
// the progress display was started.
Status ReadAndWrite(const ImportRules& rules, std::string_view invoice_file,
                    const IssuedInvoices& invoices, Connection* connection,
                    InvoiceWriteBack* write_back, ImportHost* host,
                    bool* walking) {
  if (invoices.outcome != IssuedInvoices::Outcome::kRead) {
    return invoices.status;
  }
  SKJK_RETURN_IF_ERROR(
      CheckAgainstDatabase(rules, invoice_file, invoices, connection, host));
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
  Status status = ReadAndWrite(rules, invoice_file, invoices, connection,
                               &write_back, host, &walking);
  invoices.records.clear();
  host->SetStatus("");
  if (walking) host->EndWalk();
  if (!status.ok()) {
    write_back.Abandon();
    host->Tell(Notice::kError, "文件读入发生意外错误！"_gbk);
    return;
  }
  host->Tell(Notice::kInfo, "读入成功！"_gbk);
  if (write_back.unmatched() > 0) {
    host->Tell(Notice::kInfo,
               "其中有"_gbk + std::to_string(write_back.unmatched()) +
                   "张发票找不到对应的单据，发票号没有写入。"_gbk);
  }
  host->ShowInvoiced();
}

}  // namespace skjk
