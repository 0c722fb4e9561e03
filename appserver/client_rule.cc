#include "appserver/client_rule.h"

#include "text/forms.h"

namespace skjk::appserver {
namespace {

constexpr std::string_view kInvoiceNumbers[] = {"FPBBH0", "FPHAO0"};
constexpr std::string_view kCustomerDocument[] = {"FPBBH0", "FPHAO0", "KPRQ00"};
constexpr std::string_view kCustomerLine[] = {"SE0000"};

// The write-back sets the invoice numbers of head-office sales (XSTXSFP1),
// void (XSTBFFP1) and visit-sales (XSTFXPS2) documents, and of customer
// documents with their invoice date (XSTJQSK1) and the tax of their lines
// (XSTJQSK2); the customer closing statement sets XSTFXPS2.FPHAO0. The
// customer window copies documents and lines into XSTJQSK1 and XSTJQSK2.
constexpr WritableTable kWritable[] = {
    {"XSTXSFP1", false, kInvoiceNumbers}, {"XSTBFFP1", false, kInvoiceNumbers},
    {"XSTFXPS2", false, kInvoiceNumbers}, {"XSTJQSK1", true, kCustomerDocument},
    {"XSTJQSK2", true, kCustomerLine},
};

// The system's tables and view (appserver/schema.cc); the engine's own
// (sqlite_master and the like) are not among them.
constexpr std::string_view kReadable[] = {
    "GSTKHGL0", "GSTJYGL0", "XSTXSFP1", "XSTXSFP2", "XSTBFFP1", "XSTBFFP2",
    "XSTFXPS1", "XSTFXPS2", "XSVFXPS0", "XSTJQSK1", "XSTJQSK2",
};

// The Oracle functions the system's statements use, the operators that are
// functions to the engine (LIKE), and plain scalar and aggregate functions.
// Nothing that touches files, extensions or the engine's internals, and
// nothing that makes large values out of little text.
constexpr std::string_view kFunctions[] = {
    "NVL",    "TO_DATE", "LIKE", "NULLIF", "COALESCE", "IFNULL",
    "UPPER",  "LOWER",   "TRIM", "LTRIM",  "RTRIM",    "SUBSTR",
    "LENGTH", "INSTR",   "ABS",  "ROUND",  "COUNT",    "SUM",
    "TOTAL",  "MIN",     "MAX",  "AVG",
};

bool Same(std::string_view a, std::string_view b) {
  return text::EqualsIgnoringCase(a, b);
}

const WritableTable* Find(std::string_view table) {
  for (const WritableTable& t : kWritable) {
    if (Same(t.table, table)) return &t;
  }
  return nullptr;
}

bool Listed(std::span<const std::string_view> list, std::string_view name) {
  for (std::string_view n : list) {
    if (Same(n, name)) return true;
  }
  return false;
}

}  // namespace

std::span<const WritableTable> ClientWritableTables() { return kWritable; }
std::span<const std::string_view> ClientReadableTables() { return kReadable; }
std::span<const std::string_view> ClientFunctions() { return kFunctions; }

bool ClientMayUpdate(std::string_view table, std::string_view column) {
  const WritableTable* t = Find(table);
  return t != nullptr && Listed(t->columns, column);
}

bool ClientMayInsert(std::string_view table) {
  const WritableTable* t = Find(table);
  return t != nullptr && t->insert;
}

bool ClientMayRead(std::string_view table) { return Listed(kReadable, table); }

bool ClientMayCall(std::string_view function) {
  return Listed(kFunctions, function);
}

std::string ClientUpdatableColumns() {
  std::string out;
  for (const WritableTable& t : kWritable) {
    for (std::string_view c : t.columns) {
      if (!out.empty()) out += ", ";
      out.append(t.table).append(".").append(c);
    }
  }
  return out;
}

std::string ClientInsertableTables() {
  std::string out;
  for (const WritableTable& t : kWritable) {
    if (!t.insert) continue;
    if (!out.empty()) out += ", ";
    out.append(t.table);
  }
  return out;
}

std::string NulRefusal(size_t offset) {
  return "statement refused: it holds a NUL byte (at byte " +
         std::to_string(offset) + "), which no SQL text may";
}

}  // namespace skjk::appserver
