#include "appserver/journal_command.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "appserver/client_rule.h"
#include "appserver/journal_schema.h"

namespace skjk::appserver {
namespace {

// A text column's value; nullopt for NULL.
using Text = std::optional<std::string>;

Text ReadText(Statement* st, int column) {
  if (st->IsNull(column)) return std::nullopt;
  return std::string(st->Text(column));
}
std::optional<int64_t> ReadInt(Statement* st, int column) {
  if (st->IsNull(column)) return std::nullopt;
  return st->Int(column);
}

// Empty text and NULL are the same invoice number: none. The view of
// NULL points at an empty text, as a bound parameter it is '', not NULL.
std::string_view Plain(const Text& t) {
  return t ? std::string_view(*t) : std::string_view("");
}

// An invoice book and number as they were or became.
struct Numbers {
  Text book;    // FPBBH0
  Text number;  // FPHAO0
};
bool Same(const Numbers& a, const Numbers& b) {
  return Plain(a.book) == Plain(b.book) && Plain(a.number) == Plain(b.number);
}

constexpr char kEmpty[] = "(empty)";

// "BOOK/NUMBER", an empty part as "(empty)"; "(empty)" alone when both are.
std::string NumbersText(const Numbers& n) {
  if (Plain(n.book).empty() && Plain(n.number).empty()) return kEmpty;
  auto part = [](const Text& t) {
    return Plain(t).empty() ? std::string(kEmpty) : *t;
  };
  return part(n.book) + "/" + part(n.number);
}

std::string RowsText(int64_t n) {
  return std::to_string(n) + (n == 1 ? " row" : " rows");
}

std::string DocumentText(const std::optional<int64_t>& document) {
  return document ? std::to_string(*document) : std::string("(none)");
}

// A row group of SKJK_JOURNAL_ROW: the rows of one document in one table
// that one statement took from `before` to `after`.
struct RowGroup {
  int64_t statement = 0;
  std::string table;
  std::optional<int64_t> document;
  int64_t rows = 0;
  Numbers before;
  Numbers after;
};

// "statement 2, XSTFXPS2, document 3000001, 3 rows: (empty) -> 1100/0001".
std::string GroupText(const RowGroup& g) {
  return "statement " + std::to_string(g.statement) + ", " + g.table +
         ", document " + DocumentText(g.document) + ", " + RowsText(g.rows) +
         ": " + NumbersText(g.before) + " -> " + NumbersText(g.after);
}

constexpr char kRowColumns[] =
    "STATEMENT_NO, TABLE_NAME, DHAO00, ROW_COUNT, OLD_FPBBH0, OLD_FPHAO0, "
    "NEW_FPBBH0, NEW_FPHAO0";
// A row group from the columns of kRowColumns, the first at `at`.
RowGroup ReadGroup(Statement* st, int at) {
  RowGroup g;
  g.statement = st->Int(at);
  g.table = std::string(st->Text(at + 1));
  g.document = ReadInt(st, at + 2);
  g.rows = st->Int(at + 3);
  g.before = {ReadText(st, at + 4), ReadText(st, at + 5)};
  g.after = {ReadText(st, at + 6), ReadText(st, at + 7)};
  return g;
}

Status NeedJournal(DbSession* db) {
  auto has = HasJournalSchema(db);
  if (!has.ok()) return has.status();
  if (*has) return Status::OK();
  return Status::Error(
      "the database has no exchange journal (table SKJK_JOURNAL): "
      "skjk-server init adds it, and so does serve on an SQLite file");
}

// Runs a prepared query to its end, calling `row` for each row.
template <typename F>
Status ForEachRow(Statement* st, F&& row) {
  while (true) {
    auto more = st->Step();
    if (!more.ok()) return more.status();
    if (!*more) break;
    row(st);
  }
  st->Reset();
  return Status::OK();
}

// ---------------------------------------------------------------------------
// Reading the journal.

struct Entry {
  int64_t id = 0;
  std::string kind;
  std::string time;
  Text line, doc_kind, first_date, last_date, file_name;
  std::optional<int64_t> file_size;
  Text file_hash, outcome, client_addr, computer, user;
  std::optional<int64_t> undoes;
  std::optional<int64_t> undone_by;
  // Exports under a document filter: how many documents the file held.
  std::optional<int64_t> documents_in_file;
};

constexpr char kEntryColumns[] =
    "J.ID, J.KIND, J.ENTRY_TIME, J.LINE, J.DOC_KIND, J.FIRST_DATE, "
    "J.LAST_DATE, J.FILE_NAME, J.FILE_SIZE, J.FILE_HASH, J.OUTCOME, "
    "J.CLIENT_ADDR, J.COMPUTER, J.USER_NAME, J.UNDOES";

Entry ReadEntry(Statement* st) {
  Entry e;
  e.id = st->Int(0);
  e.kind = std::string(st->Text(1));
  e.time = std::string(st->Text(2));
  e.line = ReadText(st, 3);
  e.doc_kind = ReadText(st, 4);
  e.first_date = ReadText(st, 5);
  e.last_date = ReadText(st, 6);
  e.file_name = ReadText(st, 7);
  e.file_size = ReadInt(st, 8);
  e.file_hash = ReadText(st, 9);
  e.outcome = ReadText(st, 10);
  e.client_addr = ReadText(st, 11);
  e.computer = ReadText(st, 12);
  e.user = ReadText(st, 13);
  e.undoes = ReadInt(st, 14);
  return e;
}

// The items of one entry: its documents (an export) or its row groups.
struct Items {
  std::vector<int64_t> documents;
  std::vector<RowGroup> groups;
};

// One of a query's rows at a time, for queries ordered by entry.
class Cursor {
 public:
  explicit Cursor(Statement* st) : st_(st) {}
  ~Cursor() { st_->Reset(); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  Status Next() {
    auto more = st_->Step();
    if (!more.ok()) return more.status();
    at_end_ = !*more;
    return Status::OK();
  }
  // Whether the current row belongs to entry `id` (column 0), after
  // passing over rows of earlier entries.
  Result<bool> At(int64_t id) {
    while (!at_end_ && st_->Int(0) < id) SKJK_RETURN_IF_ERROR(Next());
    return !at_end_ && st_->Int(0) == id;
  }
  Statement* row() { return st_; }

 private:
  Statement* st_;
  bool at_end_ = true;
};

// The conditions of the filter on the entries J, appended to `sql`, and the
// values to bind in order (texts and numbers).
struct Conditions {
  std::string sql;
  std::vector<std::variant<std::string, int64_t>> values;
  void Add(std::string condition) { sql += " AND " + condition; }
};

Status Bind(Statement* st, const Conditions& c) {
  int i = 1;
  for (const auto& v : c.values) {
    if (const auto* s = std::get_if<std::string>(&v)) {
      SKJK_RETURN_IF_ERROR(st->BindText(i++, *s));
    } else {
      SKJK_RETURN_IF_ERROR(st->BindInt(i++, std::get<int64_t>(v)));
    }
  }
  return Status::OK();
}

std::string CsvField(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(field);
  }
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}
std::string CsvText(const Text& t) { return t ? CsvField(*t) : std::string(); }
std::string CsvInt(const std::optional<int64_t>& n) {
  return n ? std::to_string(*n) : std::string();
}

constexpr char kCsvHeader[] =
    "entry,time,kind,line,client_address,computer,user,undoes,undone_by,"
    "document_kind,first_date,last_date,file_name,file_size,file_hash,"
    "outcome,document,statement,table,rows,old_invoice_book,"
    "old_invoice_number,new_invoice_book,new_invoice_number\r\n";

// The columns of an entry before its item's, each followed by a comma.
std::string CsvEntry(const Entry& e) {
  std::string s;
  for (const std::string& f :
       {std::to_string(e.id), CsvField(e.time), CsvField(e.kind),
        CsvText(e.line), CsvText(e.client_addr), CsvText(e.computer),
        CsvText(e.user), CsvInt(e.undoes), CsvInt(e.undone_by),
        CsvText(e.doc_kind), CsvText(e.first_date), CsvText(e.last_date),
        CsvText(e.file_name), CsvInt(e.file_size), CsvText(e.file_hash),
        CsvText(e.outcome)}) {
    s += f + ",";
  }
  return s;
}

void WriteCsv(const Entry& e, const Items& items, std::ostream& out) {
  const std::string head = CsvEntry(e);
  for (int64_t d : items.documents) {
    out << head << d << ",,,,,,,\r\n";
  }
  for (const RowGroup& g : items.groups) {
    out << head << CsvInt(g.document) << "," << g.statement << ","
        << CsvField(g.table) << "," << g.rows << "," << CsvText(g.before.book)
        << "," << CsvText(g.before.number) << "," << CsvText(g.after.book)
        << "," << CsvText(g.after.number) << "\r\n";
  }
  if (items.documents.empty() && items.groups.empty()) {
    out << head << ",,,,,,,\r\n";
  }
}

std::string Known(const Text& t) {
  return t && !t->empty() ? *t : std::string("(unknown)");
}

// "1000001..1000003, 1000007": runs of consecutive numbers (sorted input).
std::string Ranges(const std::vector<int64_t>& documents) {
  std::string s;
  for (size_t i = 0; i < documents.size();) {
    size_t j = i;
    while (j + 1 < documents.size() && documents[j] != INT64_MAX &&
           documents[j + 1] == documents[j] + 1) {
      ++j;
    }
    if (!s.empty()) s += ", ";
    s += std::to_string(documents[i]);
    if (j > i) s += ".." + std::to_string(documents[j]);
    i = j + 1;
  }
  return s;
}

void WriteText(const Entry& e, const Items& items, std::ostream& out) {
  out << "#" << e.id << "  " << e.time << "  " << e.kind;
  if (e.line) out << "  " << *e.line;
  if (e.undoes) out << "  (undoes #" << *e.undoes << ")";
  if (e.undone_by) out << "  (undone by #" << *e.undone_by << ")";
  out << "\n  desk: address " << Known(e.client_addr) << ", computer "
      << Known(e.computer) << ", user " << Known(e.user) << "\n";
  if (e.kind == kExportEntry) {
    out << "  " << Known(e.doc_kind) << " documents, " << Known(e.first_date)
        << " to " << Known(e.last_date) << "\n";
    out << "  file: " << Known(e.file_name);
    if (e.file_size) out << ", " << *e.file_size << " bytes";
    if (e.file_hash) out << ", SHA-256 " << *e.file_hash;
    out << "\n  outcome: " << Known(e.outcome) << "\n";
    if (e.documents_in_file) {
      out << "  document " << Ranges(items.documents) << " (one of "
          << *e.documents_in_file << " in the file)\n";
    } else if (items.documents.empty()) {
      out << "  documents: none\n";
    } else {
      out << "  documents (" << items.documents.size()
          << "): " << Ranges(items.documents) << "\n";
    }
    return;
  }
  if (e.file_name) out << "  file: " << *e.file_name << "\n";
  if (items.groups.empty()) out << "  no invoice numbers changed\n";
  for (const RowGroup& g : items.groups) out << "  " << GroupText(g) << "\n";
}

// Rolls back a transaction that was not committed when it goes.
class TransactionScope {
 public:
  explicit TransactionScope(DbSession* db) : db_(db) {}
  ~TransactionScope() {
    if (db_->in_transaction()) {
      Status s = db_->Rollback();
      (void)s;  // the error that ended the transaction is the one reported
    }
  }
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;

 private:
  DbSession* db_;
};

}  // namespace

Status PrintJournal(DbSession* db, const JournalFilter& filter,
                    JournalFormat format, std::ostream& out) {
  SKJK_RETURN_IF_ERROR(NeedJournal(db));
  ReadScope read(db);
  SKJK_RETURN_IF_ERROR(read.Begin());

  // The undo of each write-back undone, from the whole journal: an undo may
  // lie outside the filter.
  std::map<int64_t, int64_t> undone_by;
  auto st = db->Prepare(
      "SELECT UNDOES, ID FROM SKJK_JOURNAL WHERE KIND = 'undo' AND UNDOES IS "
      "NOT NULL ORDER BY ID");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR(ForEachRow(
      *st, [&](Statement* r) { undone_by.emplace(r->Int(0), r->Int(1)); }));

  // The entries, and the conditions their documents and rows are read with.
  Conditions entries;
  Conditions items;
  if (filter.since) {
    entries.Add("J.ENTRY_TIME >= ?");
    entries.values.push_back(*filter.since);
    items = entries;
  }
  if (filter.document) {
    entries.Add(
        "(J.ID IN (SELECT ENTRY_ID FROM SKJK_JOURNAL_DOC WHERE DHAO00 = ?) OR "
        "J.ID IN (SELECT ENTRY_ID FROM SKJK_JOURNAL_ROW WHERE DHAO00 = ?))");
    entries.values.push_back(*filter.document);
    entries.values.push_back(*filter.document);
    items.Add("I.DHAO00 = ?");
    items.values.push_back(*filter.document);
  }
  std::vector<Entry> list;
  st = db->Prepare(std::string("SELECT ") + kEntryColumns +
                   " FROM SKJK_JOURNAL J WHERE 1 = 1" + entries.sql +
                   " ORDER BY J.ID");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR(Bind(*st, entries));
  SKJK_RETURN_IF_ERROR(
      ForEachRow(*st, [&](Statement* r) { list.push_back(ReadEntry(r)); }));
  for (Entry& e : list) {
    auto it = undone_by.find(e.id);
    if (it != undone_by.end()) e.undone_by = it->second;
  }
  if (filter.document && format == JournalFormat::kText) {
    std::map<int64_t, int64_t> counts;
    st = db->Prepare(
        "SELECT ENTRY_ID, COUNT(*) FROM SKJK_JOURNAL_DOC WHERE ENTRY_ID IN "
        "(SELECT ENTRY_ID FROM SKJK_JOURNAL_DOC WHERE DHAO00 = ?) GROUP BY "
        "ENTRY_ID");
    if (!st.ok()) return st.status();
    SKJK_RETURN_IF_ERROR((*st)->BindInt(1, *filter.document));
    SKJK_RETURN_IF_ERROR(ForEachRow(
        *st, [&](Statement* r) { counts.emplace(r->Int(0), r->Int(1)); }));
    for (Entry& e : list) {
      auto it = counts.find(e.id);
      if (it != counts.end()) e.documents_in_file = it->second;
    }
  }

  if (format == JournalFormat::kCsv) out << kCsvHeader;
  if (list.empty()) {
    if (format == JournalFormat::kText) {
      out << (filter.since || filter.document
                  ? "No entry of the journal matches.\n"
                  : "The journal is empty.\n");
    }
    return Status::OK();
  }

  auto docs = db->Prepare(
      "SELECT I.ENTRY_ID, I.DHAO00 FROM SKJK_JOURNAL_DOC I JOIN SKJK_JOURNAL J "
      "ON J.ID = I.ENTRY_ID WHERE 1 = 1" +
      items.sql + " ORDER BY I.ENTRY_ID, I.DHAO00");
  if (!docs.ok()) return docs.status();
  SKJK_RETURN_IF_ERROR(Bind(*docs, items));
  Cursor doc(*docs);
  SKJK_RETURN_IF_ERROR(doc.Next());
  auto rows = db->Prepare(
      std::string("SELECT I.ENTRY_ID, ") + kRowColumns +
      " FROM SKJK_JOURNAL_ROW I JOIN SKJK_JOURNAL J ON J.ID = I.ENTRY_ID "
      "WHERE 1 = 1" +
      items.sql +
      " ORDER BY I.ENTRY_ID, I.STATEMENT_NO, I.TABLE_NAME, I.DHAO00, "
      "I.OLD_FPBBH0, I.OLD_FPHAO0");
  if (!rows.ok()) return rows.status();
  SKJK_RETURN_IF_ERROR(Bind(*rows, items));
  Cursor row(*rows);
  SKJK_RETURN_IF_ERROR(row.Next());

  for (size_t i = 0; i < list.size(); ++i) {
    const Entry& e = list[i];
    Items of_entry;
    for (auto at = doc.At(e.id);; at = doc.At(e.id)) {
      if (!at.ok()) return at.status();
      if (!*at) break;
      of_entry.documents.push_back(doc.row()->Int(1));
      SKJK_RETURN_IF_ERROR(doc.Next());
    }
    for (auto at = row.At(e.id);; at = row.At(e.id)) {
      if (!at.ok()) return at.status();
      if (!*at) break;
      of_entry.groups.push_back(ReadGroup(row.row(), 1));
      SKJK_RETURN_IF_ERROR(row.Next());
    }
    if (format == JournalFormat::kCsv) {
      WriteCsv(e, of_entry, out);
    } else {
      if (i > 0) out << "\n";
      WriteText(e, of_entry, out);
    }
  }
  if (!out) return Status::IoError("cannot write the journal's output");
  return Status::OK();
}

UndoDesk LocalDesk() {
  UndoDesk desk;
  desk.time = JournalTime();
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) desk.computer = host;
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    desk.user = found->pw_name;
  } else {
    desk.user = "uid " + std::to_string(geteuid());
  }
  return desk;
}

namespace {

std::string Literal(const Text& t) {
  if (!t) return "NULL";
  std::string s = "'";
  for (char c : *t) {
    if (c == '\'') s += '\'';
    s += c;
  }
  return s + "'";
}

std::string DocumentCondition(const std::optional<int64_t>& document) {
  return document ? "DHAO00 = " + std::to_string(*document)
                  : std::string("DHAO00 IS NULL");
}

// The rows of one table and document.
struct DocumentRows {
  std::string table;
  std::optional<int64_t> document;
  auto operator<=>(const DocumentRows&) const = default;
};

// What the rows of `rows` carry now: "1100/0009 (1 row), (empty) (2 rows)".
Result<std::string> Carried(DbSession* db, const DocumentRows& rows) {
  auto st = db->Prepare(
      "SELECT COALESCE(FPBBH0, ''), COALESCE(FPHAO0, ''), COUNT(*) FROM " +
      rows.table + " WHERE " + DocumentCondition(rows.document) +
      " GROUP BY COALESCE(FPBBH0, ''), COALESCE(FPHAO0, '') ORDER BY 1, 2");
  if (!st.ok()) return st.status();
  std::string s;
  SKJK_RETURN_IF_ERROR(ForEachRow(*st, [&](Statement* r) {
    if (!s.empty()) s += ", ";
    s += NumbersText({ReadText(r, 0), ReadText(r, 1)}) + " (" +
         RowsText(r->Int(2)) + ")";
  }));
  return s.empty() ? std::string("no rows") : s;
}

// How many rows of `rows` carry `numbers` (an empty text and NULL alike).
Result<int64_t> Carrying(DbSession* db, const DocumentRows& rows,
                         const Numbers& numbers) {
  auto st = db->Prepare("SELECT COUNT(*) FROM " + rows.table + " WHERE " +
                        DocumentCondition(rows.document) +
                        " AND COALESCE(FPBBH0, '') = ? AND "
                        "COALESCE(FPHAO0, '') = ?");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR((*st)->BindText(1, Plain(numbers.book)));
  SKJK_RETURN_IF_ERROR((*st)->BindText(2, Plain(numbers.number)));
  auto more = (*st)->Step();
  if (!more.ok()) return more.status();
  int64_t n = *more ? (*st)->Int(0) : 0;
  (*st)->Reset();
  return n;
}

// The order in which one statement's groups of one document are undone:
// a group whose new numbers are another group's old ones goes first, so
// that the other's restored rows are not taken for its own. Empty when
// the groups change numbers in a circle, which cannot be undone row by row.
std::vector<const RowGroup*> UndoOrder(std::vector<const RowGroup*> groups) {
  std::vector<const RowGroup*> order;
  while (!groups.empty()) {
    auto free = std::find_if(groups.begin(), groups.end(), [&](auto* g) {
      return std::none_of(groups.begin(), groups.end(), [&](auto* other) {
        return other != g && Same(other->after, g->before);
      });
    });
    if (free == groups.end()) return {};
    order.push_back(*free);
    groups.erase(free);
  }
  return order;
}

}  // namespace

Status UndoWriteBack(DbSession* db, int64_t entry, const UndoDesk& desk,
                     std::ostream& out) {
  SKJK_RETURN_IF_ERROR(NeedJournal(db));
  SKJK_RETURN_IF_ERROR(db->Begin());
  TransactionScope transaction(db);
  const std::string name = "journal entry " + std::to_string(entry);

  auto st = db->Prepare(
      "SELECT KIND, LINE, FILE_NAME FROM SKJK_JOURNAL WHERE ID = ?");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR((*st)->BindInt(1, entry));
  std::optional<std::string> kind;
  Text line, file_name;
  SKJK_RETURN_IF_ERROR(ForEachRow(*st, [&](Statement* r) {
    kind = std::string(r->Text(0));
    line = ReadText(r, 1);
    file_name = ReadText(r, 2);
  }));
  if (!kind) return Status::Error("there is no " + name);
  if (*kind != kWriteBackEntry) {
    return Status::Error(name + " is " +
                         (*kind == kExportEntry ? std::string("an export")
                          : *kind == kUndoEntry ? std::string("an undo")
                                                : "of kind " + *kind) +
                         ": only a write-back can be undone");
  }
  st = db->Prepare(
      "SELECT MIN(ID) FROM SKJK_JOURNAL WHERE KIND = 'undo' AND UNDOES = ?");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR((*st)->BindInt(1, entry));
  std::optional<int64_t> undone;
  SKJK_RETURN_IF_ERROR(
      ForEachRow(*st, [&](Statement* r) { undone = ReadInt(r, 0); }));
  if (undone) {
    return Status::Error(name + " was undone already, by journal entry " +
                         std::to_string(*undone));
  }

  // The entry's groups, last statement first. Groups that differ only in
  // an empty text against a NULL are one.
  st = db->Prepare(std::string("SELECT ") + kRowColumns +
                   " FROM SKJK_JOURNAL_ROW WHERE ENTRY_ID = ? ORDER BY "
                   "STATEMENT_NO DESC, TABLE_NAME, DHAO00");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR((*st)->BindInt(1, entry));
  std::vector<RowGroup> groups;
  SKJK_RETURN_IF_ERROR(ForEachRow(*st, [&](Statement* r) {
    RowGroup g = ReadGroup(r, 0);
    for (RowGroup& h : groups) {
      if (h.statement == g.statement && h.table == g.table &&
          h.document == g.document && Same(h.before, g.before) &&
          Same(h.after, g.after)) {
        h.rows += g.rows;
        return;
      }
    }
    groups.push_back(std::move(g));
  }));
  int64_t last_statement = 0;
  for (const RowGroup& g : groups) {
    // The name goes into the statements: only the tables of invoice numbers.
    if (!ClientMayUpdate(g.table, "FPBBH0") ||
        !ClientMayUpdate(g.table, "FPHAO0")) {
      return Status::Error(name + " names the table " + g.table +
                           ", which holds no invoice numbers");
    }
    last_statement = std::max(last_statement, g.statement);
  }

  // Statement by statement, each document's groups: checked against what
  // the statement left, then restored.
  std::vector<std::string> refusals;
  std::set<DocumentRows> refused;
  std::vector<RowGroup> restored;
  for (size_t at = 0; at < groups.size();) {
    const int64_t statement = groups[at].statement;
    std::map<DocumentRows, std::vector<const RowGroup*>> of_statement;
    for (; at < groups.size() && groups[at].statement == statement; ++at) {
      of_statement[{groups[at].table, groups[at].document}].push_back(
          &groups[at]);
    }
    for (const auto& [rows, list] : of_statement) {
      if (refused.count(rows)) continue;
      const std::string where =
          "  " + rows.table + " document " + DocumentText(rows.document) + ": ";
      auto refuse = [&](const std::string& why) -> Status {
        auto now = Carried(db, rows);
        if (!now.ok()) return now.status();
        refusals.push_back(where + "now " + *now + "; " + why);
        refused.insert(rows);
        return Status::OK();
      };
      // Rows that came to the same numbers from different ones.
      const RowGroup* mixed = nullptr;
      for (const RowGroup* g : list) {
        for (const RowGroup* h : list) {
          if (g != h && Same(g->after, h->after)) mixed = g;
        }
      }
      if (mixed != nullptr) {
        std::string from;
        for (const RowGroup* g : list) {
          if (!Same(g->after, mixed->after)) continue;
          from += (from.empty() ? "" : ", ") + NumbersText(g->before);
        }
        SKJK_RETURN_IF_ERROR(refuse("statement " + std::to_string(statement) +
                                    " gave " + NumbersText(mixed->after) +
                                    " to rows that had different numbers (" +
                                    from + "), which cannot be told apart"));
        continue;
      }
      std::string changed;
      for (const RowGroup* g : list) {
        auto n = Carrying(db, rows, g->after);
        if (!n.ok()) return n.status();
        if (*n != g->rows) {
          changed += (changed.empty() ? "" : ", ") + NumbersText(g->after) +
                     " (" + RowsText(g->rows) + ")";
        }
      }
      if (!changed.empty()) {
        SKJK_RETURN_IF_ERROR(refuse("the write-back left " + changed +
                                    " (statement " + std::to_string(statement) +
                                    ")"));
        continue;
      }
      std::vector<const RowGroup*> order = UndoOrder(list);
      if (order.empty()) {
        SKJK_RETURN_IF_ERROR(refuse(
            "statement " + std::to_string(statement) +
            " exchanged numbers between its rows, which cannot be told apart"));
        continue;
      }
      for (const RowGroup* g : order) {
        auto n = db->Execute(
            "UPDATE " + g->table + " SET FPBBH0 = " + Literal(g->before.book) +
            ", FPHAO0 = " + Literal(g->before.number) + " WHERE " +
            DocumentCondition(g->document) + " AND COALESCE(FPBBH0, '') = " +
            Literal(std::string(Plain(g->after.book))) +
            " AND COALESCE(FPHAO0, '') = " +
            Literal(std::string(Plain(g->after.number))));
        if (!n.ok()) return n.status();
        if (*n != g->rows) {
          return Status::Error(where + "changed while it was being restored " +
                               "(nothing was written)");
        }
        restored.push_back(*g);
      }
    }
  }
  if (!refusals.empty()) {
    std::string message =
        name +
        " cannot be undone (nothing was written): these documents "
        "changed since, or the journal cannot tell their rows apart";
    for (const std::string& r : refusals) message += "\n" + r;
    return Status::Error(message);
  }

  // The undo's own entry and rows: statement k of the write-back becomes
  // statement last - k + 1 of the undo, the numbers the other way round.
  auto next = NextJournalEntry(db);
  if (!next.ok()) return next.status();
  const int64_t id = *next;
  st = db->Prepare(
      "INSERT INTO SKJK_JOURNAL (ID, KIND, ENTRY_TIME, LINE, FILE_NAME, "
      "COMPUTER, USER_NAME, UNDOES) VALUES (?, 'undo', ?, ?, ?, ?, ?, ?)");
  if (!st.ok()) return st.status();
  SKJK_RETURN_IF_ERROR((*st)->BindInt(1, id));
  SKJK_RETURN_IF_ERROR((*st)->BindText(2, desk.time));
  SKJK_RETURN_IF_ERROR(line ? (*st)->BindText(3, *line) : (*st)->BindNull(3));
  SKJK_RETURN_IF_ERROR(file_name ? (*st)->BindText(4, *file_name)
                                 : (*st)->BindNull(4));
  SKJK_RETURN_IF_ERROR((*st)->BindText(5, desk.computer));
  SKJK_RETURN_IF_ERROR((*st)->BindText(6, desk.user));
  SKJK_RETURN_IF_ERROR((*st)->BindInt(7, entry));
  SKJK_RETURN_IF_ERROR(ForEachRow(*st, [](Statement*) {}));
  auto bind_text = [](Statement* s, int i, const Text& t) {
    return t ? s->BindText(i, *t) : s->BindNull(i);
  };
  for (RowGroup& g : restored) {
    g.statement = last_statement - g.statement + 1;
    std::swap(g.before, g.after);
    st = db->Prepare(
        "INSERT INTO SKJK_JOURNAL_ROW (ENTRY_ID, STATEMENT_NO, TABLE_NAME, "
        "DHAO00, ROW_COUNT, OLD_FPBBH0, OLD_FPHAO0, NEW_FPBBH0, NEW_FPHAO0) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!st.ok()) return st.status();
    Statement* s = *st;
    SKJK_RETURN_IF_ERROR(s->BindInt(1, id));
    SKJK_RETURN_IF_ERROR(s->BindInt(2, g.statement));
    SKJK_RETURN_IF_ERROR(s->BindText(3, g.table));
    SKJK_RETURN_IF_ERROR(g.document ? s->BindInt(4, *g.document)
                                    : s->BindNull(4));
    SKJK_RETURN_IF_ERROR(s->BindInt(5, g.rows));
    SKJK_RETURN_IF_ERROR(bind_text(s, 6, g.before.book));
    SKJK_RETURN_IF_ERROR(bind_text(s, 7, g.before.number));
    SKJK_RETURN_IF_ERROR(bind_text(s, 8, g.after.book));
    SKJK_RETURN_IF_ERROR(bind_text(s, 9, g.after.number));
    SKJK_RETURN_IF_ERROR(ForEachRow(s, [](Statement*) {}));
  }
  SKJK_RETURN_IF_ERROR(db->Commit());

  std::set<DocumentRows> documents;
  for (const RowGroup& g : restored) documents.insert({g.table, g.document});
  out << "journal entry " << id << " undid " << name << ": ";
  if (restored.empty()) {
    out << "it had changed no invoice numbers\n";
  } else {
    out << "restored the invoice numbers of " << documents.size()
        << (documents.size() == 1 ? " document" : " documents") << "\n";
  }
  for (const RowGroup& g : restored) out << "  " << GroupText(g) << "\n";
  return Status::OK();
}

}  // namespace skjk::appserver
