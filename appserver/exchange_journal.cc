#include "appserver/exchange_journal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <variant>
#include <vector>

#include "appserver/client_rule.h"
#include "appserver/journal_schema.h"

namespace skjk::appserver {
namespace {

using protocol::DocumentKind;
using protocol::DocumentNumbers;
using Text = std::optional<std::string>;

// Where a business line keeps its documents: the sales documents in
// `sales` (with `sales_filter`: the rows a write-back sets), the void ones
// in XSTBFFP1 for every line.
struct LineTables {
  std::string_view key;
  const char* sales;
  const char* sales_filter;
};
constexpr LineTables kLines[] = {
    {"Bbsk", "XSTXSFP1", ""},
    // A visit-sales document's numbers are on its lines with a quantity.
    {"Fxsk", "XSTFXPS2", " AND SL0000 <> 0"},
    {"Jqsk", "XSTJQSK1", ""},
};
constexpr char kVoidTable[] = "XSTBFFP1";

Result<const LineTables*> FindLine(std::string_view key) {
  for (const LineTables& l : kLines) {
    if (l.key == key) return &l;
  }
  return Status::Error("unknown business line '" + std::string(key) +
                       "' (Bbsk, Fxsk or Jqsk)");
}

const char* KindName(DocumentKind kind) {
  return kind == DocumentKind::kVoid ? "void" : "sales";
}

// Invoice numbers that differ: '' and NULL are alike.
bool Differ(const Text& a, const Text& b) {
  return a.value_or("") != b.value_or("");
}

// A document number as a query gives it (an integer, perhaps written as a
// real number); nullopt for NULL or what is no number.
std::optional<int64_t> Number(const Text& text) {
  if (!text) return std::nullopt;
  int64_t v = 0;
  const char* end = text->data() + text->size();
  if (std::from_chars(text->data(), end, v).ptr == end) return v;
  double d = 0;
  if (std::from_chars(text->data(), end, d).ptr == end && std::isfinite(d) &&
      std::abs(d) < 9e18) {
    return static_cast<int64_t>(std::llround(d));
  }
  return std::nullopt;
}

// At most this many rows go into one INSERT, this many numbers into one IN
// list: a few statements for ten thousand documents, and texts of a size
// every engine takes.
constexpr size_t kMaxParameters = 512;
constexpr size_t kBatch = 500;

// The placeholder of an IN list in the queries below.
constexpr std::string_view kInList = "(@)";

// The rows of `sql`, whose IN list kInList takes `numbers` in batches after
// the parameters `leading`: `row` is called for each. A batch short of
// kBatch repeats its last number, so that every batch is the same
// statement.
Status ForEachBatch(DbSession* db, std::string sql,
                    const std::vector<std::string>& leading,
                    const DocumentNumbers& numbers,
                    const std::function<void(Statement&)>& row) {
  std::string marks = "(";
  for (size_t i = 0; i < kBatch; ++i) marks += i == 0 ? "?" : ", ?";
  marks += ")";
  sql.replace(sql.find(kInList), kInList.size(), marks);
  for (size_t from = 0; from < numbers.size(); from += kBatch) {
    auto st = db->Prepare(sql);
    if (!st.ok()) return st.status();
    int index = 1;
    for (const std::string& text : leading) {
      SKJK_RETURN_IF_ERROR((*st)->BindText(index++, text));
    }
    for (size_t i = 0; i < kBatch; ++i) {
      const size_t at = std::min(from + i, numbers.size() - 1);
      SKJK_RETURN_IF_ERROR((*st)->BindInt(index++, numbers[at]));
    }
    for (;;) {
      auto more = (*st)->Step();
      if (!more.ok()) return more.status();
      if (!*more) break;
      row(**st);
    }
    (*st)->Reset();
  }
  return Status::OK();
}

// A value of a row to insert.
using Value = std::variant<std::monostate, int64_t, std::string>;

Status Bind(Statement* st, int index, const Value& v) {
  if (const int64_t* i = std::get_if<int64_t>(&v))
    return st->BindInt(index, *i);
  if (const std::string* t = std::get_if<std::string>(&v))
    return st->BindText(index, *t);
  return st->BindNull(index);
}

Value TextValue(const Text& t) {
  if (!t) return std::monostate();
  return *t;
}

// Adds rows of `columns` values each (`values`, row after row) with
// `insert` ("INSERT INTO T (A, B) VALUES "), as many rows a statement as
// the parameter limit allows: a power of two, so that few statements are
// prepared.
Status InsertRows(DbSession* db, const std::string& insert, size_t columns,
                  const std::vector<Value>& values) {
  const size_t rows = values.size() / columns;
  size_t most = 1;
  while (most * 2 * columns <= kMaxParameters) most *= 2;
  std::string one = "(";
  for (size_t c = 0; c < columns; ++c) one += c == 0 ? "?" : ", ?";
  one += ")";
  for (size_t done = 0; done < rows;) {
    size_t n = most;
    while (n > rows - done) n /= 2;
    std::string sql = insert;
    for (size_t r = 0; r < n; ++r) sql += (r == 0 ? "" : ", ") + one;
    auto st = db->Prepare(sql);
    if (!st.ok()) return st.status();
    for (size_t i = 0; i < n * columns; ++i) {
      SKJK_RETURN_IF_ERROR(
          Bind(*st, static_cast<int>(i + 1), values[done * columns + i]));
    }
    auto ran = (*st)->Step();
    (*st)->Reset();
    if (!ran.ok()) return ran.status();
    done += n;
  }
  return Status::OK();
}

// What the line's table `table` (rows restricted by `filter`) holds for
// `numbers`: the missing documents and the invoiced ones with the numbers
// of one of their invoiced rows (the least, for an answer that does not
// depend on the order of the rows).
Result<protocol::InvoicedDocuments> InvoiceNumbers(
    DbSession* db, const char* table, const char* filter,
    const DocumentNumbers& numbers) {
  // Present documents, with their invoice numbers when invoiced.
  std::map<int64_t, std::optional<std::pair<std::string, std::string>>> found;
  Status s = ForEachBatch(
      db,
      std::string("SELECT DHAO00, FPBBH0, FPHAO0 FROM ") + table +
          " WHERE DHAO00 IN " + std::string(kInList) + filter,
      {}, numbers, [&](Statement& row) {
        auto& numbers_of = found[row.Int(0)];
        if (row.IsNull(2) || row.Text(2).empty()) return;
        std::pair<std::string, std::string> pair(
            row.IsNull(1) ? "" : std::string(row.Text(1)), row.Text(2));
        if (!numbers_of || pair < *numbers_of) numbers_of = std::move(pair);
      });
  if (!s.ok()) return s;
  protocol::InvoicedDocuments out;
  for (int64_t n : numbers) {
    auto it = found.find(n);
    if (it == found.end()) {
      out.missing.push_back(n);
    } else if (it->second) {
      out.invoiced.push_back(n);
      out.numbers.push_back(*it->second);
    }
  }
  return out;
}

// The table and filter of a line's documents of `kind`.
std::pair<const char*, const char*> DocumentTable(const LineTables& line,
                                                  DocumentKind kind) {
  if (kind == DocumentKind::kVoid) return {kVoidTable, ""};
  return {line.sales, line.sales_filter};
}

// The longest start of `text` of at most `bytes` bytes that ends between
// UTF-8 characters.
std::string Clipped(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

// The widths of the journal's columns that a request fills from the wire.
constexpr size_t kFileNameBytes = 1024;
constexpr size_t kOutcomeBytes = 1024;
constexpr size_t kHashBytes = 64;

// A row the write-back changes, by what the journal keeps of it.
struct RowChange {
  std::optional<int64_t> document;
  Text old_book, old_number, new_book, new_number;
  bool operator<(const RowChange& o) const {
    return std::tie(document, old_book, old_number, new_book, new_number) <
           std::tie(o.document, o.old_book, o.old_number, o.new_book,
                    o.new_number);
  }
};

}  // namespace

void ExchangeJournal::TransactionBoundary() {
  entry_ = 0;
  statements_ = 0;
}

Result<int64_t> ExchangeJournal::Execute(std::string_view sql) {
  // What the backend refuses as any text (several statements, a NUL byte,
  // no statement at all), it refuses here too.
  const StatementShape shape = ShapeOf(sql);
  if (shape.empty || shape.several ||
      sql.find('\0') != std::string_view::npos) {
    return db_->Execute(sql);
  }
  const std::string kind =
      shape.keyword.empty() ? "" : " (" + shape.keyword + ")";
  if (MentionsJournalTable(sql)) {
    return Status::Error("statement refused" + kind + ": " + kJournalRefusal);
  }
  // A WITH clause may lead to any statement, an UPDATE among them; the
  // system sends none.
  if (shape.keyword == "WITH") {
    return Status::Error("statement refused" + kind + ": " +
                         kClientStatementKinds + ", without WITH");
  }
  if (shape.keyword != "UPDATE") return db_->Execute(sql);
  const std::optional<UpdateParts> parts = SplitUpdate(sql);
  if (!parts) {
    return Status::Error(
        "statement refused" + kind +
        ": the server reads an UPDATE only in the form UPDATE table [alias] "
        "SET column = value, ... [WHERE condition], to journal the invoice "
        "numbers it changes; without '#', '--' before anything but white "
        "space, or a value that reads a column set before it");
  }
  const bool sets_numbers =
      std::any_of(parts->assignments.begin(), parts->assignments.end(),
                  [](const UpdateParts::Assignment& a) {
                    return a.column == "FPBBH0" || a.column == "FPHAO0";
                  });
  if (!sets_numbers) {
    auto changed = db_->Execute(sql);
    if (changed.ok() && db_->in_transaction()) ++statements_;
    return changed;
  }
  if (db_->in_transaction()) return JournaledUpdate(sql, *parts, false);
  // On its own: in a transaction of its own, journaled as any.
  TransactionBoundary();
  SKJK_RETURN_IF_ERROR(db_->Begin());
  auto changed = JournaledUpdate(sql, *parts, true);
  Status ended = Status::OK();
  if (!changed.ok()) {
    if (db_->in_transaction()) ended = db_->Rollback();
  } else {
    ended = db_->Commit();
  }
  TransactionBoundary();
  if (!changed.ok()) return changed;
  if (!ended.ok()) return ended;
  return changed;
}

Result<int64_t> ExchangeJournal::JournaledUpdate(std::string_view sql,
                                                 const UpdateParts& parts,
                                                 bool own) {
  // The rows the statement is about to change, with their invoice numbers
  // now and as it sets them (the value of the last assignment of each).
  std::string book = "FPBBH0", number = "FPHAO0";
  for (const UpdateParts::Assignment& a : parts.assignments) {
    if (a.column == "FPBBH0") book = a.value;
    if (a.column == "FPHAO0") number = a.value;
  }
  std::string select = "SELECT DHAO00, FPBBH0, FPHAO0, " + book + ", " +
                       number + " FROM " + parts.table;
  if (!parts.alias.empty()) select += " " + parts.alias;
  if (!parts.rest.empty()) select += " " + parts.rest;
  auto read = db_->ReadForWrite(select, "UPDATE");
  if (!read.ok()) {
    if (!db_->in_transaction()) TransactionBoundary();
    return read.status();
  }
  std::map<RowChange, int64_t> groups;
  for (const DbSession::TextRow& row : *read) {
    if (row.size() != 5) {
      return Status::Error(
          "statement refused (UPDATE): the server cannot read which rows it "
          "changes");
    }
    if (!Differ(row[1], row[3]) && !Differ(row[2], row[4])) continue;
    ++groups[RowChange{Number(row[0]), row[1], row[2], row[3], row[4]}];
  }

  auto changed = db_->Execute(sql);
  if (!changed.ok()) {
    if (!db_->in_transaction()) TransactionBoundary();
    return changed;
  }
  const int64_t statement = ++statements_;
  if (*changed != static_cast<int64_t>(read->size())) {
    return Abandon("the UPDATE changed " + std::to_string(*changed) +
                       " rows where the server read " +
                       std::to_string(read->size()) +
                       " before it ran, so the exchange journal would not "
                       "say what it changed",
                   own);
  }
  if (entry_ == 0) {
    auto entry = NewEntry(kWriteBackEntry, nullptr);
    if (!entry.ok()) {
      return Abandon("the exchange journal could not be written: " +
                         entry.status().message(),
                     own);
    }
    entry_ = *entry;
  }
  std::vector<Value> values;
  for (const auto& [change, count] : groups) {
    values.insert(values.end(),
                  {entry_, statement, parts.table_name,
                   change.document ? Value(*change.document) : Value(), count,
                   TextValue(change.old_book), TextValue(change.old_number),
                   TextValue(change.new_book), TextValue(change.new_number)});
  }
  Status written = InsertRows(
      db_,
      "INSERT INTO SKJK_JOURNAL_ROW (ENTRY_ID, STATEMENT_NO, TABLE_NAME, "
      "DHAO00, ROW_COUNT, OLD_FPBBH0, OLD_FPHAO0, NEW_FPBBH0, NEW_FPHAO0) "
      "VALUES ",
      9, values);
  if (!written.ok()) {
    return Abandon(
        "the exchange journal could not be written: " + written.message(), own);
  }
  return changed;
}

Status ExchangeJournal::Abandon(const std::string& why, bool own) {
  Status r = db_->Rollback();
  TransactionBoundary();
  if (!r.ok()) {
    return Status::Error(why + "; rolling back failed: " + r.message());
  }
  return Status::Error(why + (own ? "; the statement was undone"
                                  : "; the transaction was rolled back"));
}

Result<int64_t> ExchangeJournal::NewEntry(
    const char* kind, const protocol::RecordExport* exported) {
  auto next = NextJournalEntry(db_);
  if (!next.ok()) return next.status();
  const int64_t id = *next;

  auto text = [](const std::string& t) -> Value {
    if (t.empty()) return std::monostate();
    return t;
  };
  std::vector<Value> values = {id, std::string(kind), JournalTime()};
  if (exported != nullptr) {
    const protocol::RecordExport& m = *exported;
    values.insert(
        values.end(),
        {m.line, std::string(KindName(m.kind)), text(m.first_date),
         text(m.last_date), m.file_name, static_cast<int64_t>(m.file_size),
         text(m.file_hash),
         m.completed ? std::string("completed")
                     : Clipped(m.failure.empty() ? "not completed" : m.failure,
                               kOutcomeBytes)});
  } else {
    values.insert(values.end(), {text(line_), Value(), Value(), Value(),
                                 text(file_name_), Value(), Value(), Value()});
  }
  values.insert(values.end(),
                {text(desk_.address), text(desk_.computer), text(desk_.user)});
  SKJK_RETURN_IF_ERROR(InsertRows(
      db_,
      "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME, LINE, DOC_KIND, "
      "FIRST_DATE, LAST_DATE, FILE_NAME, FILE_SIZE, FILE_HASH, OUTCOME, "
      "CLIENT_ADDR, COMPUTER, USER_NAME) VALUES ",
      values.size(), values));
  return id;
}

Result<int64_t> ExchangeJournal::RecordExport(const protocol::RecordExport& m) {
  auto line = FindLine(m.line);
  if (!line.ok()) return line.status();
  for (const std::string* date : {&m.first_date, &m.last_date}) {
    std::string next;
    if (!date->empty() && !ParseDateParam(*date, &next)) {
      return Status::Error("'" + *date + "' is not a date YYYY-MM-DD");
    }
  }
  if (m.file_name.size() > kFileNameBytes) {
    return Status::Error("the file name is longer than " +
                         std::to_string(kFileNameBytes) + " bytes");
  }
  if (m.file_hash.size() > kHashBytes) {
    return Status::Error("the file hash is longer than " +
                         std::to_string(kHashBytes) + " characters");
  }
  if (m.file_size > static_cast<uint64_t>(INT64_MAX)) {
    return Status::Error("the file size is out of range");
  }
  const bool own = !db_->in_transaction();
  if (own) SKJK_RETURN_IF_ERROR(db_->Begin());
  auto entry = NewEntry(kExportEntry, &m);
  Status s = entry.status();
  if (entry.ok()) {
    std::vector<Value> values;
    values.reserve(m.documents.size() * 2);
    for (int64_t d : m.documents) values.insert(values.end(), {*entry, d});
    s = InsertRows(db_,
                   "INSERT INTO SKJK_JOURNAL_DOC (ENTRY_ID, DHAO00) VALUES ", 2,
                   values);
  }
  if (!s.ok()) {
    // Half an entry must not stay in the client's transaction either.
    return Abandon("the exchange journal could not be written: " + s.message(),
                   own);
  }
  if (own) SKJK_RETURN_IF_ERROR(db_->Commit());
  return entry;
}

Result<protocol::ExportHistory> ExchangeJournal::CheckExport(
    const protocol::CheckExport& m) {
  auto line = FindLine(m.line);
  if (!line.ok()) return line.status();
  ReadScope read(db_);
  SKJK_RETURN_IF_ERROR(read.Begin());
  // The latest export entry of each document exported before.
  std::map<int64_t, int64_t> exported;
  SKJK_RETURN_IF_ERROR(ForEachBatch(
      db_,
      "SELECT D.DHAO00, MAX(J.ID) FROM SKJK_JOURNAL_DOC D, SKJK_JOURNAL J "
      "WHERE J.ID = D.ENTRY_ID AND J.KIND = ? AND J.LINE = ? AND "
      "J.DOC_KIND = ? AND D.DHAO00 IN " +
          std::string(kInList) + " GROUP BY D.DHAO00",
      {kExportEntry, m.line, KindName(m.kind)}, m.documents,
      [&](Statement& row) { exported[row.Int(0)] = row.Int(1); }));
  protocol::ExportHistory out;
  if (exported.empty()) return out;
  DocumentNumbers numbers;
  for (const auto& [document, entry] : exported) numbers.push_back(document);
  const auto [table, filter] = DocumentTable(**line, m.kind);
  auto state = InvoiceNumbers(db_, table, filter, numbers);
  if (!state.ok()) return state.status();
  for (int64_t invoiced : state->invoiced) exported.erase(invoiced);
  if (exported.empty()) return out;
  int64_t latest = 0;
  for (const auto& [document, entry] : exported) {
    latest = std::max(latest, entry);
  }
  out.documents = exported.size();
  auto st = db_->Prepare(
      "SELECT ENTRY_TIME, FILE_NAME FROM SKJK_JOURNAL WHERE ID = ?");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR((*st)->BindInt(1, latest));
  auto row = (*st)->Step();
  if (!row.ok()) return row.status();
  if (*row) {
    out.last_time = std::string((*st)->Text(0));
    out.last_file = std::string((*st)->Text(1));
  }
  (*st)->Reset();
  return out;
}

Result<protocol::InvoiceState> ExchangeJournal::CheckInvoices(
    const protocol::CheckInvoices& m) {
  auto line = FindLine(m.line);
  if (!line.ok()) return line.status();
  line_ = m.line;
  file_name_ = Clipped(m.file_name, kFileNameBytes);
  ReadScope read(db_);
  SKJK_RETURN_IF_ERROR(read.Begin());
  protocol::InvoiceState out;
  const struct {
    DocumentKind kind;
    const DocumentNumbers* numbers;
    protocol::InvoicedDocuments* answer;
  } kinds[] = {{DocumentKind::kSales, &m.sales, &out.sales},
               {DocumentKind::kVoid, &m.void_documents, &out.void_documents}};
  for (const auto& k : kinds) {
    const auto [table, filter] = DocumentTable(**line, k.kind);
    auto state = InvoiceNumbers(db_, table, filter, *k.numbers);
    if (!state.ok()) return state.status();
    *k.answer = std::move(state).value();
  }
  return out;
}

}  // namespace skjk::appserver
