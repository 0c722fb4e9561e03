#include "exchange/export.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "exchange/export_text.h"
#include "platform/sha256.h"
#include "text/gbk.h"
#include "text/number_forms.h"

namespace skjk {

using namespace text::literals;
using exchange::BusinessDateText;
using exchange::DateRangeText;
using exchange::RateText;
using text::AppendExchangeNumberText;

namespace {

// Buffered writes are handed to the file in pieces of about this size.
constexpr size_t kFlushSize = 1 << 20;

using Notice = ExportHost::Notice;

// The reviewer, the payee or the tax item: a literal text, or "@NAME", the
// text of field NAME of the document being written.
struct Setting {
  explicit Setting(std::string_view value) {
    if (!value.empty() && value.front() == '@') {
      reference = true;
      field_name = value.substr(1);
    } else {
      literal = value;
    }
  }
  // The text shown in the confirmation.
  std::string DisplayText() const {
    return reference ? "字段"_gbk + std::string(field_name)
                     : std::string(literal);
  }

  bool reference = false;
  std::string_view field_name;
  std::string_view literal;
  int field = -1;  // index of the referenced field in the master layout
};

// The output file with its write buffer. What was appended reaches the file
// at the latest when it is closed, on success and failure alike. The bytes
// the file took are counted and hashed as they are handed to it.
class Output {
 public:
  Status Open(Env* env, std::string_view path) {
    buffer_.reserve(kFlushSize + 4096);
    return env->NewWritableFile(path, &file_);
  }
  std::string& buffer() { return buffer_; }
  // Passes the buffer to the file once it has grown large.
  Status Flush(bool always = false) {
    if (buffer_.empty() || (!always && buffer_.size() < kFlushSize)) {
      return Status::OK();
    }
    Status s = file_->Append(buffer_);
    if (s.ok()) {
      hash_.Update(buffer_);
      size_ += buffer_.size();
    }
    buffer_.clear();
    return s;
  }
  uint64_t size() const { return size_; }
  // The SHA-256 of the bytes the file took; once, after Close().
  Result<std::string> Hash() { return hash_.HexDigest(); }
  Status Close() {
    if (!file_) return Status::OK();
    Status s = Flush(/*always=*/true);
    Status closed = file_->Close();
    file_.reset();
    return s.ok() ? closed : s;
  }

 private:
  std::unique_ptr<WritableFile> file_;
  std::string buffer_;
  Sha256 hash_;
  uint64_t size_ = 0;
};

// The display of the master set is off for the life of this object.
class ControlsOff {
 public:
  explicit ControlsOff(DocumentSet* set) : set_(set) {
    set_->DisableControls();
  }
  ~ControlsOff() { set_->EnableControls(); }
  ControlsOff(const ControlsOff&) = delete;
  ControlsOff& operator=(const ControlsOff&) = delete;

 private:
  DocumentSet* set_;
};

Status MissingField(std::string_view name) {
  return Status::BadInput("Field '" + std::string(name) + "' not found");
}

// A field of a set's layout, found once for the whole walk.
struct Field {
  Field(const RecordSet& set, std::string_view name)
      : name(name), index(set.FieldIndex(name)) {}
  std::string_view name;
  int index;
};

// Appends the text of a value: a text as it stands, a number as its number
// text, nothing for an empty value.
void AppendValue(const CellValue& value, std::string* out) {
  if (const auto* s = std::get_if<std::string_view>(&value)) {
    out->append(*s);
  } else if (const double* d = std::get_if<double>(&value)) {
    AppendExchangeNumberText(*d, out);
  }
}

bool IsEmptyText(const CellValue& value) {
  const auto* s = std::get_if<std::string_view>(&value);
  return s == nullptr || s->empty();
}

std::optional<double> NumberOf(const CellValue& value) {
  if (const double* d = std::get_if<double>(&value)) return *d;
  return std::nullopt;
}

// A document number (DHAO00) as the journal takes it: a whole number; none
// for an empty value or one that is no whole number.
std::optional<int64_t> DocumentNumberOf(const CellValue& value) {
  const std::optional<double> d = NumberOf(value);
  // 2^63 is the first double beyond int64.
  if (!d || !std::isfinite(*d) || std::trunc(*d) != *d ||
      std::fabs(*d) >= 9223372036854775808.0) {
    return std::nullopt;
  }
  return static_cast<int64_t>(*d);
}

// The document numbers of the set's documents (those its filter lets
// through), without moving its cursor.
protocol::DocumentNumbers DocumentNumbersOf(const DocumentSet& set) {
  protocol::DocumentNumbers numbers;
  const int field = set.FieldIndex("DHAO00");
  if (field < 0) return numbers;
  for (int i = 0; i < set.RecordCount(); ++i) {
    if (auto n = DocumentNumberOf(set.Cell(i, field))) numbers.push_back(*n);
  }
  return numbers;
}

// Writes the lines of the file into `out` field by field: "~~" between two
// fields of a line, CR LF after its last one.
class FieldJoiner {
 public:
  explicit FieldJoiner(std::string* out) : out_(*out) {}

  // Starts the next field of the line and returns the text to append the
  // field to, in as many pieces as the caller likes.
  std::string& Next() {
    if (in_line_) out_ += "~~";
    in_line_ = true;
    return out_;
  }
  void Add(std::string_view field) { Next() += field; }
  // A whole line of the given fields.
  void Line(std::initializer_list<std::string_view> fields) {
    for (std::string_view field : fields) Add(field);
    Finish();
  }
  // Ends the line; the next field starts a new one.
  void Finish() {
    out_ += "\r\n";
    in_line_ = false;
  }

 private:
  std::string& out_;
  bool in_line_ = false;
};

class ExportRun {
 public:
  ExportRun(const ExportRules& rules, DocumentSet* documents, Setting reviewer,
            Setting payee, Setting tax_item, ExportHost* host)
      : rules_(rules),
        host_(host),
        set_(*documents),
        reviewer_(reviewer),
        payee_(payee),
        tax_item_(tax_item) {}

  // The walk over the documents into `out`; the first failure ends it.
  Status WriteSales(const std::string& range, Output* out);
  Status WriteVoid(const std::string& range, Output* out);

  int skipped() const { return skipped_; }
  // The documents written into the file (not those skipped).
  protocol::DocumentNumbers& written() { return written_; }

 private:
  // The value of `field` of document `record`.
  static CellValue Cell(const RecordRef& record, const Field& field) {
    return record[field.index];
  }
  Status Need(const Field& field) const {
    return field.index >= 0 ? Status::OK() : MissingField(field.name);
  }
  // Appends the value text of `setting` for document `record`.
  void AppendSetting(const Setting& setting, const RecordRef& record,
                     std::string* out);
  Status NextDocument(Output* out) {
    set_.Next();
    host_->StepWalk();
    return out->Flush();
  }

  const ExportRules& rules_;
  ExportHost* host_;
  DocumentSet& set_;
  Setting reviewer_, payee_, tax_item_;
  int skipped_ = 0;
  protocol::DocumentNumbers written_;
};

void ExportRun::AppendSetting(const Setting& setting, const RecordRef& record,
                              std::string* out) {
  if (!setting.reference) {
    out->append(setting.literal);
    return;
  }
  const CellValue value = record[setting.field];
  const auto type = set_.fields()[static_cast<size_t>(setting.field)].type;
  if (type == FieldType::kDateTime) {
    if (const double* d = std::get_if<double>(&value)) {
      out->append(host_->RegionalDateTime(*d));
    }
    return;
  }
  AppendValue(value, out);
}

Status ExportRun::WriteSales(const std::string& range, Output* out) {
  const Field number(set_, "DHAO00"), customer(set_, "DWMC00"),
      tax_number(set_, "SWDJH0"), address(set_, rules_.address_field),
      bank(set_, "KHYH00"), account(set_, "YHZH00"), remark(set_, "BEIZHU"),
      date(set_, "YWRQ00"), rate(set_, "ZZSL00");
  DetailSet* lines = set_.detail();
  if (lines == nullptr) return Status::BadInput("The documents have no lines");
  const Field name(*lines, "SPMC00"), unit(*lines, "JYDW00"),
      packing(*lines, "SPGG00"), quantity(*lines, "SL0000"),
      amount(*lines, "JE0000");
  for (Setting* s : {&reviewer_, &payee_, &tax_item_}) {
    if (s->reference) s->field = set_.FieldIndex(s->field_name);
  }
  const bool any_reference =
      reviewer_.reference || payee_.reference || tax_item_.reference;

  FieldJoiner fields(&out->buffer());
  fields.Line({"SJJK0101", "销售单据传入"_gbk, range});
  const std::string marker = "//单据"_gbk;
  std::string rate_text;
  for (set_.First(); !set_.Eof();) {
    // The cursor stays on this document until NextDocument().
    const RecordRef doc = set_.Record(set_.RecNo());
    for (const Field* f : {&tax_number, &bank}) {
      if (Status s = Need(*f); !s.ok()) return s;
    }
    const CellValue tax_number_value = Cell(doc, tax_number);
    const CellValue bank_value = Cell(doc, bank);
    if (IsEmptyText(tax_number_value) || IsEmptyText(bank_value)) {
      ++skipped_;
      if (Status s = NextDocument(out); !s.ok()) return s;
      continue;
    }
    fields.Add(marker);
    fields.Finish();
    for (const Setting* s : {&reviewer_, &payee_, &tax_item_}) {
      if (s->reference && s->field < 0) return MissingField(s->field_name);
    }
    for (const Field* f : {&number, &customer, &address, &account, &date}) {
      if (Status s = Need(*f); !s.ok()) return s;
    }
    if (rules_.remark) {
      if (Status s = Need(remark); !s.ok()) return s;
    }
    const int line_count = lines->RecordCount();
    if (auto n = DocumentNumberOf(Cell(doc, number))) written_.push_back(*n);
    AppendValue(Cell(doc, number), &fields.Next());
    fields.Add(std::to_string(line_count));
    AppendValue(Cell(doc, customer), &fields.Next());
    AppendValue(tax_number_value, &fields.Next());
    AppendValue(Cell(doc, address), &fields.Next());
    // Bank and account share one field.
    std::string& bank_and_account = fields.Next();
    AppendValue(bank_value, &bank_and_account);
    AppendValue(Cell(doc, account), &bank_and_account);
    std::string& remark_text = fields.Next();
    if (rules_.remark) AppendValue(Cell(doc, remark), &remark_text);
    AppendSetting(reviewer_, doc, &fields.Next());
    AppendSetting(payee_, doc, &fields.Next());
    fields.Add("");  // field 10 stays empty
    fields.Add(BusinessDateText(NumberOf(Cell(doc, date))));
    fields.Finish();

    switch (rules_.rate) {
      case ExportRules::Rate::kMasterRate:
        if (Status s = Need(rate); !s.ok()) return s;
        rate_text = RateText(NumberOf(Cell(doc, rate)));
        break;
      case ExportRules::Rate::kFixed:
        rate_text = "0.17";
        break;
      case ExportRules::Rate::kFixedUnlessReference:
        rate_text = any_reference ? "" : "0.17";
        break;
    }
    if (line_count > 0) {
      for (const Field* f : {&name, &unit, &packing, &quantity, &amount}) {
        if (Status s = Need(*f); !s.ok()) return s;
      }
    }
    for (int i = 0; i < line_count; ++i) {
      const RecordRef goods = lines->Record(i);
      AppendValue(goods[name.index], &fields.Next());
      AppendValue(goods[unit.index], &fields.Next());
      AppendValue(goods[packing.index], &fields.Next());
      AppendValue(goods[quantity.index], &fields.Next());
      AppendValue(goods[amount.index], &fields.Next());
      fields.Add(rate_text);
      AppendSetting(tax_item_, doc, &fields.Next());
      fields.Finish();
    }
    if (Status s = NextDocument(out); !s.ok()) return s;
  }
  return Status::OK();
}

Status ExportRun::WriteVoid(const std::string& range, Output* out) {
  const Field number(set_, "DHAO00");
  FieldJoiner fields(&out->buffer());
  fields.Line({"SJJK0102", "作废销售单据传入"_gbk, range});
  const std::string marker = "//单据"_gbk;
  for (set_.First(); !set_.Eof();) {
    fields.Add(marker);
    fields.Finish();
    if (Status s = Need(number); !s.ok()) return s;
    const CellValue value = Cell(set_.Record(set_.RecNo()), number);
    if (auto n = DocumentNumberOf(value)) written_.push_back(*n);
    AppendValue(value, &fields.Next());
    fields.Finish();
    if (Status s = NextDocument(out); !s.ok()) return s;
  }
  return Status::OK();
}

}  // namespace

namespace {

// The warning question about documents that went out before.
std::string RepeatQuestion(const protocol::ExportHistory& history) {
  return "本次导出的单据中有"_gbk + std::to_string(history.documents) +
         "张已经导出过，至今还没有开具发票（最近一次于"_gbk +
         history.last_time + "导出到文件"_gbk + history.last_file +
         "）。\r重复导出可能造成重复开票，是否仍然导出？"_gbk;
}

// Records the run in the exchange journal; the failure when it could not be.
Status Record(protocol::RecordExport record, Output* out,
              Connection* connection) {
  record.file_size = out->size();
  Result<std::string> hash = out->Hash();
  if (!hash.ok()) return hash.status();
  record.file_hash = std::move(hash).value();
  return connection->RecordExport(record).status();
}

}  // namespace

void RunExport(const ExportRules& rules, const ExportRequest& request, Env* env,
               Connection* connection, ExportHost* host) {
  const ExportSettings& settings = request.settings;
  if (settings.sales_file.empty() || settings.void_file.empty()) {
    host->Tell(Notice::kWarning, "请指定导出文件位置！"_gbk);
    host->OpenSettings();
    return;
  }
  if (request.document_count == 0) {
    host->Tell(Notice::kError, "没有要导出的记录！"_gbk);
    return;
  }
  if (!request.not_invoiced) {
    host->Tell(Notice::kError, "请先选择未开发票进行查询！"_gbk);
    return;
  }

  const std::string range = DateRangeText(request.start, request.end);
  // The kind of file is decided once: the view and its path belong
  // together for the whole run.
  const bool sales = request.list_text == "销售单据"_gbk;
  const std::string_view path =
      sales ? settings.sales_file : settings.void_file;
  const Setting reviewer(settings.reviewer), payee(settings.payee),
      tax_item(settings.tax_item);
  const std::string question =
      "是否导出日期为"_gbk + range + "的"_gbk + std::string(request.list_text) +
      "？\r发票的复核人是:“"_gbk + reviewer.DisplayText() + "”,收款人是:“"_gbk +
      payee.DisplayText() + "”,税目是:“"_gbk + tax_item.DisplayText() +
      "”，\r导出文件为："_gbk + std::string(path);
  if (!host->Confirm(question)) return;

  const std::string failed = "文件导出发生意外错误！"_gbk;
  protocol::RecordExport record;
  record.line = std::string(rules.line);
  record.kind =
      sales ? protocol::DocumentKind::kSales : protocol::DocumentKind::kVoid;
  {
    Result<protocol::ExportHistory> history = connection->CheckExport(
        {.line = record.line,
         .kind = record.kind,
         .documents = DocumentNumbersOf(*request.documents)});
    if (!history.ok()) {
      host->Tell(Notice::kError, failed);
      return;
    }
    if (history->documents > 0 &&
        !host->ConfirmWarning(RepeatQuestion(*history))) {
      return;
    }
  }

  Status status;
  int skipped = 0;
  Output out;
  {
    ControlsOff controls_off(request.documents);
    host->BeginWalk(request.document_count, "正在导出文件，请稍候……"_gbk);
    status = out.Open(env, path);
    if (status.ok()) {
      ExportRun run(rules, request.documents, reviewer, payee, tax_item, host);
      status = sales ? run.WriteSales(range, &out) : run.WriteVoid(range, &out);
      skipped = run.skipped();
      record.documents = std::move(run.written());
    }
    // Closing writes out what was buffered, also after a failure: the file
    // keeps every line written before it. A failure to close counts only
    // when the walk itself succeeded.
    Status closed = out.Close();
    if (status.ok()) status = closed;
  }
  record.first_date = text::IsoDate(request.start);
  record.last_date = text::IsoDate(request.end);
  record.file_name = std::string(path);
  record.completed = status.ok();
  record.failure = status.message();
  const Status recorded = Record(std::move(record), &out, connection);
  host->EndWalk();

  if (!status.ok()) {
    host->Tell(Notice::kError, failed);
  } else {
    std::string done = "导出成功！"_gbk;
    if (skipped > 0) {
      done += "\r其中有"_gbk + std::to_string(skipped) +
              "条记录因缺少税务登记号或开户银行而被忽略"_gbk;
    }
    host->Tell(Notice::kInfo, done);
  }
  if (!recorded.ok()) {
    host->Tell(Notice::kWarning,
               "本次导出未能记入导出日志："_gbk + recorded.message());
  }
}

}  // namespace skjk
