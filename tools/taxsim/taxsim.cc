#include "tools/taxsim/taxsim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "exchange/export_text.h"
#include "exchange/invoice_file.h"
#include "text/gbk.h"
#include "text/number_forms.h"

namespace skjk::taxsim {
namespace {

using namespace text::literals;

struct Line {
  std::string_view text;  // without its CR LF
  int number;             // from 1
};

// The lines of `bytes`, each ended by LF or CR LF; a break at the very end
// adds no line.
std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  while (!bytes.empty()) {
    size_t end = bytes.find('\n');
    std::string_view text = bytes.substr(0, end);
    if (end != std::string_view::npos && text.ends_with('\r')) {
      text.remove_suffix(1);
    }
    lines.push_back({text, static_cast<int>(lines.size()) + 1});
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

// The fields of an export line, separated by "~~" (left to right, not
// overlapping; the second byte of a GBK character is never a tilde).
std::vector<std::string_view> SplitTildes(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0, i = 0;
  while (i < line.size()) {
    if (text::IsGbkLeadByte(line[i]) && i + 1 < line.size()) {
      i += 2;
    } else if (line.substr(i, 2) == "~~") {
      fields.push_back(line.substr(start, i - start));
      i += 2;
      start = i;
    } else {
      ++i;
    }
  }
  fields.push_back(line.substr(start));
  return fields;
}

Status Malformed(int line, std::string_view what) {
  return Status::BadInput("line " + std::to_string(line) + ": " +
                          std::string(what));
}

// "YYYY年MM月DD日".
std::optional<text::Day> RangeDay(std::string_view text) {
  static const std::string year = "年"_gbk, month = "月"_gbk, day = "日"_gbk;
  if (text.size() != 14 || text.substr(4, 2) != year ||
      text.substr(8, 2) != month || text.substr(12, 2) != day) {
    return std::nullopt;
  }
  std::string digits(text.substr(0, 4));
  digits.append(text.substr(6, 2)).append(text.substr(10, 2));
  return exchange::ParseFileDay(digits);
}

// A number text of the export ("450", "137.5", "2E15"); empty counts as 0.
std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty()) return 0.0;
  if (text.find_first_not_of("0123456789.+-eE") != std::string_view::npos) {
    return std::nullopt;
  }
  std::string s(text);
  char* end = nullptr;
  double value = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// amount x rate, rounded to two decimals (halves away from zero) and written
// without trailing zeros.
std::string TaxText(double amount, double rate) {
  // Fifteen significant digits first, so that 137.5 x 0.17 (23.375 in
  // decimals, a little less or more in binary) rounds up all the same.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", amount * rate * 100);
  double cents = std::round(std::strtod(buf, nullptr));
  if (!(std::fabs(cents) < 1e15)) return text::ExchangeNumberText(cents / 100);
  int64_t whole = static_cast<int64_t>(cents);
  std::string out = whole < 0 ? "-" : "";
  whole = std::abs(whole);
  out += std::to_string(whole / 100);
  if (int rest = static_cast<int>(whole % 100); rest != 0) {
    out += '.';
    out += static_cast<char>('0' + rest / 10);
    if (rest % 10 != 0) out += static_cast<char>('0' + rest % 10);
  }
  return out;
}

bool NeedsQuotes(std::string_view value) {
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = value[i];
    if (text::IsGbkLeadByte(c) && i + 1 < value.size()) {
      ++i;
    } else if ((c >= 1 && c <= 32) || c == ',' || c == '~' || c == '"') {
      return true;
    }
  }
  return false;
}

void AppendValue(std::string_view value, bool last, std::string* out) {
  if (!NeedsQuotes(value) && !(last && value.empty())) {
    out->append(value);
    return;
  }
  *out += '"';
  for (size_t i = 0; i < value.size(); ++i) {
    if (text::IsGbkLeadByte(value[i]) && i + 1 < value.size()) {
      out->append(value.substr(i++, 2));
      continue;
    }
    if (value[i] == '"') *out += '"';
    *out += value[i];
  }
  *out += '"';
}

// One line of the answer, ended by CR LF.
void AppendLine(std::initializer_list<std::string_view> values,
                std::string* out) {
  size_t i = 0;
  for (std::string_view value : values) {
    if (i != 0) *out += "~~";
    AppendValue(value, ++i == values.size(), out);
  }
  *out += "\r\n";
}

// `text` with `piece` after its first character.
std::string Inserted(std::string_view text, std::string_view piece) {
  size_t first = !text.empty() && text::IsGbkLeadByte(text[0]) ? 2 : 1;
  first = std::min(first, text.size());
  return std::string(text.substr(0, first)) + std::string(piece) +
         std::string(text.substr(first));
}

struct Goods {
  std::string_view name, unit, packing, quantity, amount, rate;
  std::string tax;
};

struct Document {
  std::string_view number, customer, tax_number;
  text::Day date;
  std::string total;  // sales: the sum of the amounts
  std::vector<Goods> goods;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : lines_(SplitLines(bytes)) {}

  // Line 1: the kind of file and its date range.
  Status ReadHeader(bool* sales, std::optional<text::Day>* first,
                    std::optional<text::Day>* last) {
    if (lines_.empty()) return Malformed(1, "the file is empty");
    std::vector<std::string_view> fields = SplitTildes(lines_[0].text);
    if (fields[0] != "SJJK0101" && fields[0] != "SJJK0102") {
      return Malformed(1, "unknown header \"" + std::string(fields[0]) +
                              "\" (expected SJJK0101 or SJJK0102)");
    }
    *sales = fields[0] == "SJJK0101";
    next_ = 1;
    // "YYYY年MM月DD日至YYYY年MM月DD日"
    if (fields.size() >= 3 && fields[2].size() == 30 &&
        fields[2].substr(14, 2) == "至"_gbk) {
      *first = RangeDay(fields[2].substr(0, 14));
      *last = RangeDay(fields[2].substr(16));
    }
    return Status::OK();
  }

  bool AtEnd() const { return next_ >= lines_.size(); }
  int NextNumber() const { return static_cast<int>(next_) + 1; }

  // The marker line and the document after it.
  Status ReadDocument(bool sales, Document* document) {
    static const std::string marker = "//单据"_gbk;
    if (lines_[next_].text != marker) {
      return Malformed(NextNumber(), "expected the marker line \"//单据\"");
    }
    ++next_;
    const Line* line = Take();
    if (line == nullptr) {
      return Malformed(NextNumber(), "the file ends after a marker line");
    }
    if (!sales) {
      document->number = line->text;
      return Status::OK();
    }
    std::vector<std::string_view> fields = SplitTildes(line->text);
    if (fields.size() != 11) {
      return Malformed(line->number,
                       "a document line has 11 fields, this "
                       "one has " +
                           std::to_string(fields.size()));
    }
    document->number = fields[0];
    document->customer = fields[2];
    document->tax_number = fields[3];
    std::optional<int> count = exchange::ParseWholeNumber(fields[1]);
    if (!count || *count < 0) {
      return Malformed(line->number, "goods-line count (field 2) \"" +
                                         std::string(fields[1]) +
                                         "\" is no whole number of 0 or more");
    }
    std::optional<text::Day> date = exchange::ParseFileDay(fields[10]);
    if (!date) {
      return Malformed(line->number, "business date (field 11) \"" +
                                         std::string(fields[10]) +
                                         "\" names no day YYYYMMDD");
    }
    document->date = *date;
    double total = 0;
    for (int i = 0; i < *count; ++i) {
      Goods goods;
      SKJK_RETURN_IF_ERROR(ReadGoods(document->number, &goods, &total));
      document->goods.push_back(std::move(goods));
    }
    document->total = text::ExchangeNumberText(total);
    return Status::OK();
  }

 private:
  const Line* Take() { return AtEnd() ? nullptr : &lines_[next_++]; }

  Status ReadGoods(std::string_view number, Goods* goods, double* total) {
    const Line* line = Take();
    if (line == nullptr) {
      return Malformed(NextNumber(),
                       "the file ends before all goods lines "
                       "of document " +
                           std::string(number));
    }
    std::vector<std::string_view> fields = SplitTildes(line->text);
    if (fields.size() != 7) {
      return Malformed(line->number,
                       "a goods line has 7 fields, this one has " +
                           std::to_string(fields.size()));
    }
    *goods = {fields[0], fields[1], fields[2], fields[3],
              fields[4], fields[5], ""};
    std::optional<double> amount = ParseNumber(goods->amount);
    std::optional<double> rate = ParseNumber(goods->rate);
    if (!amount || !rate) {
      return Malformed(
          line->number,
          std::string(amount ? "rate (field 6) \"" : "amount (field 5) \"") +
              std::string(amount ? goods->rate : goods->amount) +
              "\" is no number");
    }
    goods->tax = goods->rate.empty() ? "0" : TaxText(*amount, *rate);
    *total += *amount;
    return Status::OK();
  }

  std::vector<Line> lines_;
  size_t next_ = 0;
};

}  // namespace

std::optional<Damage> ParseDamage(std::string_view name) {
  if (name == "header") return Damage::kHeader;
  if (name == "date") return Damage::kDate;
  if (name == "truncate") return Damage::kTruncate;
  if (name == "quote") return Damage::kQuote;
  if (name == "broken") return Damage::kBroken;
  return std::nullopt;
}

Result<std::string> Answer(std::string_view input, const Options& options) {
  Reader reader(input);
  bool sales = false;
  std::optional<text::Day> first, last;
  SKJK_RETURN_IF_ERROR(reader.ReadHeader(&sales, &first, &last));
  if (options.first) first = options.first;
  if (options.last) last = options.last;
  if (!first || !last) {
    return Malformed(1,
                     "no date range \"YYYY年MM月DD日至YYYY年MM月DD日\" in "
                     "field 3"_gbk);
  }
  std::vector<Document> documents;
  while (!reader.AtEnd()) {
    Document document;
    SKJK_RETURN_IF_ERROR(reader.ReadDocument(sales, &document));
    documents.push_back(std::move(document));
  }

  std::string out;
  AppendLine({options.damage == Damage::kHeader ? "SJJK0200" : "SJJK0201"},
             &out);
  std::string first_text = text::CompactDate(*first);
  if (options.damage == Damage::kDate) first_text.replace(4, 4, "0230");
  AppendLine(
      {std::to_string(documents.size()), first_text, text::CompactDate(*last)},
      &out);
  // kQuote and kBroken: what goes into the first invoice number and the
  // first product name.
  const std::string_view piece = options.damage == Damage::kQuote    ? "'"
                                 : options.damage == Damage::kBroken ? "\x81'"
                                                                     : "";
  bool numbered = piece.empty(), named = piece.empty();
  bool truncated = options.damage != Damage::kTruncate;
  for (size_t i = 0; i < documents.size(); ++i) {
    const Document& document = documents[i];
    std::string number = std::to_string(options.start + i);
    if (number.size() < 8) number.insert(0, 8 - number.size(), '0');
    if (!numbered) {
      number = Inserted(number, piece);
      numbered = true;
    }
    std::string date = text::CompactDate(options.date ? *options.date
                                         : sales      ? document.date
                                                      : *last);
    AppendLine(
        {sales ? "0" : "1", document.customer, document.tax_number,
         options.book, number, std::to_string(document.goods.size()), date,
         sales ? std::string_view(document.total) : "", document.number},
        &out);
    size_t goods_count = document.goods.size();
    const bool cut = !truncated && goods_count > 0;
    if (cut) goods_count /= 2;
    for (size_t g = 0; g < goods_count; ++g) {
      const Goods& goods = document.goods[g];
      std::string name(goods.name);
      if (!named) {
        name = Inserted(name, piece);
        named = true;
      }
      AppendLine({std::to_string(g + 1), name, goods.unit, goods.packing,
                  goods.quantity, goods.amount, goods.rate, goods.tax},
                 &out);
    }
    if (cut) {
      truncated = true;
      break;
    }
  }
  if (!numbered || !truncated) {
    return Status::BadInput(
        "the input has no document (or goods line) for that damage");
  }
  return out;
}

}  // namespace skjk::taxsim
