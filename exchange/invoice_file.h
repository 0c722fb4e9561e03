// Reading the issued-invoice file the tax-control machine writes ("SJJK0201")
// into a plain structure: its date range, its record count and its records in
// file order, each with the values the invoice write-back puts into its
// statements.
//
// The file is GBK text, held whole in memory as lines:
//  - A line ends at CR LF, at a CR alone or at an LF alone; a line break at
//    the very end adds no empty line. A NUL byte ends the text.
//  - Every line whose first two bytes are "//" is a comment line and is
//    removed before anything else is read; a line with anything before the
//    "//", even a blank, is none. Line numbers count the remaining lines from
//    0: line 0 is the header, line 1 the summary line, records start at 2.
//  - A line is split into fields only when it is read (SplitFields): every
//    "~~" becomes "," (left to right, not overlapping), blanks (bytes 1..32)
//    and commas separate fields, a field opened by a double quote runs to
//    the next double quote not directly followed by a second one, each
//    doubled quote inside standing for one.
//
// GBK characters. Matching and splitting go by characters, not bytes: a byte
// 0x81..0xFE and the byte after it on the same line are one two-byte
// character, whatever that second byte is (as the system's own double-byte
// code page reads them, and as text::TruncateGbk does). So the second byte of
// such a character is never a tilde, a comma, a blank or a double quote, even
// in a damaged text where it is 0x2C, 0x22 or a control byte. A byte
// 0x81..0xFE that ends the line is a character of its own. Line breaks and
// NUL are found byte by byte: they end the line or the text even right after
// a byte 0x81..0xFE.
//
// Quotes. A field opened by a double quote that is never closed holds the
// rest of the line, every byte of it (doubled quotes still standing for one);
// nothing is dropped at its end. Right after a closing quote the next field
// begins unless a blank, a comma or the end of the line follows, so "ab"cd
// gives the two fields ab and cd.
//
// Numbers and dates (the choices left open by the file's rules):
//  - A whole number (record count, detail-line count) is an optional "+" or
//    "-" and one or more decimal digits, within the range of an int; nothing
//    else (no blanks, no hexadecimal, no point).
//  - A negative record count or detail-line count fails the reading.
//  - A summary date field must start with eight digits YYYYMMDD naming a real
//    day in the years 1 to 9999; further characters are ignored, a shorter
//    field fails.
//
// Values that go into SQL statements. The write-back puts values into its
// statements as the fields hold them, so the reading refuses (fails on) any
// record whose value could change the form of its statement, rather than
// flagging it: the database would refuse such a statement and the import
// fail all the same, with nothing written.
//  - document number (record field 8) and tax amount (detail field 7) must be
//    plain decimal numbers (IsPlainNumber);
//  - invoice book number, invoice number (record fields 3, 4) and product name
//    (detail field 1) must be whole GBK text (IsQuotableText): the
//    write-back doubles their single quotes, which is safe only when no
//    quote can be the second byte of a two-byte character;
//  - the invoice date (record field 6, read only where detail lines are read
//    and only for sales records) must be exactly eight digits naming a real
//    day (ParseFileDay).
// A value of a record that is read is therefore always fit to be put into
// its statement, text values with their single quotes doubled.
//
// Failures carry a message that says what is wrong and at which line of the
// file (counted from 1, comment lines included, as an editor shows it); the
// user sees only the import's fixed failure text.
#ifndef SKJK_EXCHANGE_INVOICE_FILE_H_
#define SKJK_EXCHANGE_INVOICE_FILE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "text/forms.h"

namespace skjk {

// How one business line reads the issued-invoice file.
struct ImportRules {
  // The line's key in the exchange journal: "Bbsk", "Fxsk" or "Jqsk".
  std::string_view line = {};
  // The detail lines of a sales record are read (fields 1 and 7) and each
  // one must exist; the record's invoice date (field 6) is read too. Else
  // every detail line is passed over unread.
  bool sales_details = false;
  // How the write-back stores a record (exchange/invoice_writeback.h): the
  // table that takes a sales record's invoice numbers, and what its
  // statement's condition holds before the document number ("" or
  // "SL0000<>0 AND ");
  std::string_view sales_table = {};
  std::string_view sales_condition = {};
  // the table that takes the tax amounts of a sales record's detail lines
  // (read only where sales_details);
  std::string_view detail_table = {};
  // the table that takes a void record's invoice numbers.
  std::string_view void_table = {};
  // The statement run before the commit; empty for none.
  std::string_view closing = {};
};

// A detail line of a sales record, read only where ImportRules::sales_details.
struct InvoiceDetail {
  std::string product;  // field 1, SPMC00: no single quote
  std::string tax;      // field 7, SE0000: a plain decimal number
  int file_line = 0;    // line of the file, from 1
};

// One record: an invoice issued for a sales or a void document.
struct InvoiceRecord {
  enum class Kind { kSales, kVoid };  // field 0 exactly "0": sales

  Kind kind = Kind::kSales;
  std::string book;      // field 3, FPBBH0: no single quote
  std::string number;    // field 4, FPHAO0: no single quote
  int detail_count = 0;  // field 5: the lines after this one that belong
                         // to it, 0 or more
  std::string date;      // field 6, KPRQ00, "YYYYMMDD" of a real day: read
                         // only for a sales record where sales_details;
                         // else empty
  std::string document;  // field 8, DHAO00: a plain decimal number
  std::vector<InvoiceDetail> details;  // read only for a sales record where
                                       // sales_details: detail_count lines
  int file_line = 0;                   // line of the file, from 1

  bool is_sales() const { return kind == Kind::kSales; }
};

// What ReadIssuedInvoices found. The import runs on it as follows:
//  - kNotInvoiceFile: the file is refused ("not a file of the machine"); no
//    date is set and no write-back operation is called.
//  - otherwise the dates that were read are set into the window, first_day
//    before last_day; they stay set even when the reading failed after them.
//  - kFailed: the failure path.
//  - kRead: progress range 0..record_count; the records are handed to the
//    write-back in order, one progress step each.
// The whole file is read before anything is written: a record that fails
// the reading fails the import before the write-back begins, with the same
// result as when its statement failed (the failure message, nothing of the
// file in the database). Only the lines the walk reaches are split; detail
// lines that are passed over are never split, so they may hold anything.
struct IssuedInvoices {
  enum class Outcome { kRead, kNotInvoiceFile, kFailed };

  Outcome outcome = Outcome::kFailed;
  // OK for kRead; else what is wrong and where.
  Status status;
  // The summary line's dates, each as soon as it was read: on failure, those
  // read before it.
  std::optional<text::Day> first_day, last_day;
  // The summary line's record count, 0 or more (for kRead). It limits
  // nothing: records holds every record of the file.
  int record_count = 0;
  std::vector<InvoiceRecord> records;  // kRead only
};

// Reads the whole file's bytes.
IssuedInvoices ReadIssuedInvoices(const ImportRules& rules,
                                  std::string_view bytes);

namespace exchange {

// One line of the file left after the comment lines were removed.
struct FileLine {
  std::string_view text;  // without its line break
  int file_line;          // line of the file, from 1
};

// The lines of `bytes` (a view into it), comment lines removed.
std::vector<FileLine> SplitFileLines(std::string_view bytes);

// The fields of one line, split by the file's rules (see above).
std::vector<std::string> SplitFields(std::string_view line);

// An optional "+" or "-" and one or more decimal digits, within int.
std::optional<int> ParseWholeNumber(std::string_view text);

// Exactly eight digits YYYYMMDD naming a real day in the years 1 to 9999.
std::optional<text::Day> ParseFileDay(std::string_view text);

// An optional "+" or "-", one or more decimal digits and, optionally, a point
// followed by one or more digits: a text that can stand bare in a statement
// as a number ("101", "12.5", "-3") and nothing else.
bool IsPlainNumber(std::string_view text);

// A text that stays one text between single quotes once each of its single
// quotes is doubled: every byte 0x81..0xFE in it starts a two-byte GBK
// character whose second byte is 0x40..0xFE other than 0x7F, so that no
// reading of the bytes takes a quote for half of a character, and it holds
// no NUL.
bool IsQuotableText(std::string_view text);

}  // namespace exchange
}  // namespace skjk

#endif  // SKJK_EXCHANGE_INVOICE_FILE_H_
