#include "exchange/invoice_writeback.h"

#include <string_view>

namespace skjk {

namespace {

// `text` between single quotes, its single quotes doubled.
Result<std::string> Quoted(std::string_view what, std::string_view text) {
  if (!exchange::IsQuotableText(text)) {
    return Status::BadInput(std::string(what) + " is no whole GBK text");
  }
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

Result<std::string> Number(std::string_view what, std::string_view text) {
  if (!exchange::IsPlainNumber(text)) {
    return Status::BadInput(std::string(what) + " \"" + std::string(text) +
                            "\" is no plain decimal number");
  }
  return std::string(text);
}

}  // namespace

Result<std::vector<std::string>> InvoiceWriteBack::Statements(
    const ImportRules& rules, const InvoiceRecord& record) {
  Result<std::string> book = Quoted("invoice book number", record.book);
  if (!book.ok()) return book.status();
  Result<std::string> number = Quoted("invoice number", record.number);
  if (!number.ok()) return number.status();
  Result<std::string> document = Number("document number", record.document);
  if (!document.ok()) return document.status();
  const std::string numbers = "FPBBH0=" + *book + ",FPHAO0=" + *number;

  std::vector<std::string> out;
  if (!record.is_sales()) {
    out.push_back("update " + std::string(rules.void_table) + " set " +
                  numbers + " where DHAO00=" + *document);
    return out;
  }
  std::string sales =
      "update " + std::string(rules.sales_table) + " set " + numbers;
  if (rules.sales_details) {
    if (!exchange::ParseFileDay(record.date)) {
      return Status::BadInput("invoice date \"" + record.date +
                              "\" is no YYYYMMDD day");
    }
    sales += ",KPRQ00=TO_DATE('" + record.date + "','YYYYMMDD')";
  }
  sales +=
      " where " + std::string(rules.sales_condition) + "DHAO00=" + *document;
  out.push_back(std::move(sales));
  if (!rules.sales_details) return out;
  for (const InvoiceDetail& detail : record.details) {
    Result<std::string> tax = Number("tax amount", detail.tax);
    if (!tax.ok()) return tax.status();
    Result<std::string> product = Quoted("product name", detail.product);
    if (!product.ok()) return product.status();
    out.push_back("update " + std::string(rules.detail_table) +
                  " set SE0000=" + *tax + " where DHAO00=" + *document +
                  " and SPMC00=" + *product);
  }
  return out;
}

Status InvoiceWriteBack::Begin() { return transaction_.Begin(); }

Status InvoiceWriteBack::Write(const InvoiceRecord& record) {
  Result<std::vector<std::string>> statements = Statements(rules_, record);
  if (!statements.ok()) {
    Abandon();
    return statements.status();
  }
  for (size_t i = 0; i < statements->size(); ++i) {
    int64_t changed = 0;
    if (Status s = transaction_.Execute((*statements)[i], &changed); !s.ok()) {
      return s;
    }
    // The first statement is the record's own.
    if (i == 0 && changed == 0) ++unmatched_;
  }
  return Status::OK();
}

Status InvoiceWriteBack::Finish() {
  if (!rules_.closing.empty()) {
    if (Status s = transaction_.Execute(rules_.closing); !s.ok()) return s;
  }
  return transaction_.Commit();
}

}  // namespace skjk
