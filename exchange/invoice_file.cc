#include "exchange/invoice_file.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <utility>

#include "text/gbk.h"

namespace skjk {

namespace exchange {
namespace {

bool IsBlank(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The width in bytes of the character that starts at s[i].
size_t CharWidth(std::string_view s, size_t i) {
  return text::IsGbkLeadByte(static_cast<unsigned char>(s[i])) &&
                 i + 1 < s.size()
             ? 2
             : 1;
}

// Every "~~" replaced by ",", left to right, not overlapping, character by
// character.
std::string ReplaceTildes(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  size_t i = 0;
  while (i < line.size()) {
    size_t width = CharWidth(line, i);
    if (width == 1 && line[i] == '~' && i + 1 < line.size() &&
        line[i + 1] == '~') {
      out += ',';
      i += 2;
      continue;
    }
    out.append(line, i, width);
    i += width;
  }
  return out;
}

// "YYYYMMDD" at the start of `digits` (eight digits) as a day.
std::optional<text::Day> DayOfDigits(std::string_view digits) {
  int value[3] = {0, 0, 0};
  constexpr size_t kFrom[3] = {0, 4, 6}, kCount[3] = {4, 2, 2};
  for (int part = 0; part < 3; ++part) {
    for (size_t i = kFrom[part]; i < kFrom[part] + kCount[part]; ++i) {
      if (!IsDigit(digits[i])) return std::nullopt;
      value[part] = value[part] * 10 + (digits[i] - '0');
    }
  }
  if (value[0] < 1) return std::nullopt;
  text::Day day{std::chrono::year{value[0]},
                std::chrono::month{static_cast<unsigned>(value[1])},
                std::chrono::day{static_cast<unsigned>(value[2])}};
  if (!day.ok()) return std::nullopt;
  return day;
}

}  // namespace

std::vector<FileLine> SplitFileLines(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::vector<FileLine> lines;
  size_t i = 0;
  int file_line = 1;
  while (i < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(i, end - i);
    if (!line.starts_with("//")) lines.push_back({line, file_line});
    ++file_line;
    i = end;
    if (i < bytes.size()) {
      // CR LF, or a CR or LF alone.
      i += bytes.substr(i, 2) == "\r\n" ? 2 : 1;
    }
  }
  return lines;
}

std::vector<std::string> SplitFields(std::string_view line) {
  const std::string s = ReplaceTildes(line);
  const size_t n = s.size();
  std::vector<std::string> fields;
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < n && IsBlank(s[i])) ++i;
  };
  skip_blanks();
  while (i < n) {
    std::string field;
    if (s[i] == '"') {
      ++i;
      while (i < n) {
        if (s[i] == '"') {
          ++i;
          if (i < n && s[i] == '"') {
            field += '"';
            ++i;
            continue;
          }
          break;  // the closing quote
        }
        size_t width = CharWidth(s, i);
        field.append(s, i, width);
        i += width;
      }
    } else {
      while (i < n && !IsBlank(s[i]) && s[i] != ',') {
        size_t width = CharWidth(s, i);
        field.append(s, i, width);
        i += width;
      }
    }
    fields.push_back(std::move(field));
    skip_blanks();
    if (i < n && s[i] == ',') {
      ++i;
      skip_blanks();
    }
  }
  return fields;
}

std::optional<int> ParseWholeNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int>::max()} + 1) {
      return std::nullopt;
    }
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() ||
      value < std::numeric_limits<int>::min()) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<text::Day> ParseFileDay(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  return DayOfDigits(text);
}

bool IsPlainNumber(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    text.remove_prefix(1);
  }
  auto digits = [&] {
    size_t count = 0;
    while (count < text.size() && IsDigit(text[count])) ++count;
    text.remove_prefix(count);
    return count > 0;
  };
  if (!digits()) return false;
  if (text.empty()) return true;
  if (text[0] != '.') return false;
  text.remove_prefix(1);
  return digits() && text.empty();
}

bool IsQuotableText(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0) return false;
    if (c < 0x81 || c == 0xFF) continue;
    if (i + 1 == text.size()) return false;
    const auto trail = static_cast<unsigned char>(text[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  }
  return true;
}

}  // namespace exchange

namespace {

using exchange::FileLine;

constexpr std::string_view kHeader = "SJJK0201";

std::string At(const FileLine& line) {
  return "line " + std::to_string(line.file_line) + ": ";
}

// Field `index` of the fields of `line`.
Result<std::string> Field(const std::vector<std::string>& fields, size_t index,
                          const FileLine& line) {
  if (index >= fields.size()) {
    return Status::BadInput(At(line) + "field " + std::to_string(index) +
                            " missing (the line has " +
                            std::to_string(fields.size()) + " fields)");
  }
  return fields[index];
}

Result<int> WholeNumberField(const std::vector<std::string>& fields,
                             size_t index, const FileLine& line,
                             std::string_view what) {
  Result<std::string> field = Field(fields, index, line);
  if (!field.ok()) return field.status();
  std::optional<int> value = exchange::ParseWholeNumber(*field);
  if (!value) {
    return Status::BadInput(At(line) + std::string(what) + " (field " +
                            std::to_string(index) + ") \"" + *field +
                            "\" is no whole number");
  }
  if (*value < 0) {
    return Status::BadInput(At(line) + std::string(what) + " (field " +
                            std::to_string(index) + ") " + *field +
                            " is below 0");
  }
  return *value;
}

// A summary date: the first eight characters of the field.
Result<text::Day> SummaryDayField(const std::vector<std::string>& fields,
                                  size_t index, const FileLine& line) {
  Result<std::string> field = Field(fields, index, line);
  if (!field.ok()) return field.status();
  std::optional<text::Day> day;
  if (field->size() >= 8) {
    day = exchange::ParseFileDay(std::string_view(*field).substr(0, 8));
  }
  if (!day) {
    return Status::BadInput(At(line) + "date (field " + std::to_string(index) +
                            ") \"" + *field + "\" names no day YYYYMMDD");
  }
  return *day;
}

// A field that goes into a statement: `fit` tells whether it may.
Result<std::string> ValueField(const std::vector<std::string>& fields,
                               size_t index, const FileLine& line,
                               std::string_view what,
                               bool (*fit)(std::string_view),
                               std::string_view unfit) {
  Result<std::string> field = Field(fields, index, line);
  if (!field.ok()) return field;
  if (!fit(*field)) {
    return Status::BadInput(At(line) + std::string(what) + " (field " +
                            std::to_string(index) + ") \"" + *field + "\" " +
                            std::string(unfit));
  }
  return field;
}

bool IsFileDay(std::string_view text) {
  return exchange::ParseFileDay(text).has_value();
}

constexpr std::string_view kNoNumber = "is no plain decimal number";
constexpr std::string_view kQuote = "is no whole GBK text";

Status ReadDetail(const FileLine& line, InvoiceDetail* detail) {
  std::vector<std::string> fields = exchange::SplitFields(line.text);
  Result<std::string> product = ValueField(fields, 1, line, "product name",
                                           exchange::IsQuotableText, kQuote);
  if (!product.ok()) return product.status();
  Result<std::string> tax = ValueField(fields, 7, line, "tax amount",
                                       exchange::IsPlainNumber, kNoNumber);
  if (!tax.ok()) return tax.status();
  detail->product = std::move(*product);
  detail->tax = std::move(*tax);
  detail->file_line = line.file_line;
  return Status::OK();
}

// The record at lines[at]; *next is where the next record starts.
Status ReadRecord(const ImportRules& rules, const std::vector<FileLine>& lines,
                  size_t at, InvoiceRecord* record, uint64_t* next) {
  const FileLine& line = lines[at];
  std::vector<std::string> fields = exchange::SplitFields(line.text);
  if (fields.empty()) {
    return Status::BadInput(At(line) + "empty line where a record is expected");
  }
  Result<int> count = WholeNumberField(fields, 5, line, "detail-line count");
  if (!count.ok()) return count.status();
  record->detail_count = *count;
  record->file_line = line.file_line;
  record->kind = fields[0] == "0" ? InvoiceRecord::Kind::kSales
                                  : InvoiceRecord::Kind::kVoid;
  Result<std::string> book = ValueField(fields, 3, line, "invoice book number",
                                        exchange::IsQuotableText, kQuote);
  if (!book.ok()) return book.status();
  record->book = std::move(*book);
  Result<std::string> number = ValueField(fields, 4, line, "invoice number",
                                          exchange::IsQuotableText, kQuote);
  if (!number.ok()) return number.status();
  record->number = std::move(*number);
  const bool details = rules.sales_details && record->is_sales();
  if (details) {
    Result<std::string> date = ValueField(fields, 6, line, "invoice date",
                                          IsFileDay, "names no day YYYYMMDD");
    if (!date.ok()) return date.status();
    record->date = std::move(*date);
  }
  Result<std::string> document = ValueField(fields, 8, line, "document number",
                                            exchange::IsPlainNumber, kNoNumber);
  if (!document.ok()) return document.status();
  record->document = std::move(*document);
  *next = uint64_t{at} + uint64_t(*count) + 1;
  if (!details) return Status::OK();
  for (size_t k = 0; k < size_t(*count); ++k) {
    if (at + 1 + k >= lines.size()) {
      return Status::BadInput(
          At(line) + "the record has " + std::to_string(*count) +
          " detail lines, the file ends after " + std::to_string(k));
    }
    SKJK_RETURN_IF_ERROR(
        ReadDetail(lines[at + 1 + k], &record->details.emplace_back()));
  }
  return Status::OK();
}

}  // namespace

IssuedInvoices ReadIssuedInvoices(const ImportRules& rules,
                                  std::string_view bytes) {
  IssuedInvoices result;
  auto fail = [&](Status status) {
    result.outcome = IssuedInvoices::Outcome::kFailed;
    result.status = std::move(status);
    result.records.clear();
    return std::move(result);
  };
  const std::vector<FileLine> lines = exchange::SplitFileLines(bytes);
  if (lines.empty()) {
    return fail(Status::BadInput("the file has no line but comment lines"));
  }
  const std::vector<std::string> header = exchange::SplitFields(lines[0].text);
  if (header.empty()) {
    return fail(Status::BadInput(At(lines[0]) + "the header line is empty"));
  }
  if (header[0] != kHeader) {
    result.outcome = IssuedInvoices::Outcome::kNotInvoiceFile;
    result.status =
        Status::BadInput(At(lines[0]) + "the header is \"" + header[0] +
                         "\", not " + std::string(kHeader));
    return result;
  }
  if (lines.size() < 2) {
    return fail(
        Status::BadInput(At(lines[0]) + "the file ends after the header line"));
  }
  const FileLine& summary_line = lines[1];
  const std::vector<std::string> summary =
      exchange::SplitFields(summary_line.text);
  Result<std::string> count_field = Field(summary, 0, summary_line);
  if (!count_field.ok()) return fail(count_field.status());
  std::optional<int> count = exchange::ParseWholeNumber(*count_field);
  if (!count) {
    return fail(Status::BadInput(At(summary_line) + "record count \"" +
                                 *count_field + "\" is no whole number"));
  }
  Result<text::Day> first = SummaryDayField(summary, 1, summary_line);
  if (!first.ok()) return fail(first.status());
  result.first_day = *first;
  Result<text::Day> last = SummaryDayField(summary, 2, summary_line);
  if (!last.ok()) return fail(last.status());
  result.last_day = *last;
  if (*count < 0) {
    return fail(Status::BadInput(At(summary_line) + "record count " +
                                 *count_field + " is below 0"));
  }
  result.record_count = *count;

  uint64_t at = 2;
  while (at < lines.size()) {
    InvoiceRecord record;
    uint64_t next = 0;
    Status status =
        ReadRecord(rules, lines, static_cast<size_t>(at), &record, &next);
    if (!status.ok()) return fail(std::move(status));
    result.records.push_back(std::move(record));
    at = next;
  }
  result.outcome = IssuedInvoices::Outcome::kRead;
  return result;
}

}  // namespace skjk
