// The invoice write-back of the customer line through a real skjk-server on
// loopback: an issued-invoice file of 10,000 sales records with 3 detail
// lines each imported by RunImport (reading, checking, one statement per
// record and per detail line, the closing statement, the commit), against
// the rate of the protocol's cheapest round trip (a Call of
// CustObjdbRollback with no transaction open) on a connection of the same
// kind.
//
//   skjk-write-back-bench [--records N] [--runs N]
//
// Starts its own server (testing/server_process.h) on an empty
// database, fills XSTJQSK1 and XSTJQSK2 with the documents and lines the
// file names, so that every statement changes rows. Prints the statement
// count, the rates and "ratio: writeback <round trips per second / statements
// per second>".
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/env.h"
#include "client/connection.h"
#include "exchange/import.h"
#include "interface_window/business_line.h"
#include "testing/server_process.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLinesPerRecord = 3;
constexpr int64_t kFirstDocument = 5000001;
// The detail lines' product names and their tax amounts' cents, per line.
const char* const kProducts[kLinesPerRecord] = {"卷烟甲", "卷烟乙", "卷烟丙"};
constexpr int kTaxCents[kLinesPerRecord] = {1250, 800, 333};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The customer window's documents and lines: one row per document, three
// lines each, nothing invoiced. Two statements, each making its rows with a
// recursive query.
std::vector<std::string> FillStatements(int records) {
  const std::string last = std::to_string(kFirstDocument + records - 1);
  const std::string numbers =
      "WITH RECURSIVE N(D) AS (SELECT " + std::to_string(kFirstDocument) +
      " UNION ALL SELECT D + 1 FROM N WHERE D < " + last + ") ";
  std::string lines = numbers +
                      "INSERT INTO XSTJQSK2 (DHAO00, SPDM00, SPMC00, JYDW00, "
                      "DJIA00, SL0000, JE0000, SE0000) ";
  for (int k = 0; k < kLinesPerRecord; ++k) {
    if (k > 0) lines += " UNION ALL ";
    lines += "SELECT D, 'S" + std::to_string(k) + "', '" + kProducts[k] +
             "', '条', 100, 1, 100, 0 FROM N";
  }
  return {numbers +
              "INSERT INTO XSTJQSK1 (DHAO00, FPLB00, YWRQ00, KHDM00, DWMC00) "
              "SELECT D, '1', '2024-03-15', 'K0000001', 'vediruza商贸有限公司' "
              "FROM N",
          lines};
}

// The issued-invoice file (GBK): one sales record per document with its
// three detail lines.
std::string InvoiceFile(int records) {
  std::string file =
      "SJJK0201\r\n" + std::to_string(records) + "~~20240315~~20240315\r\n";
  char buffer[128];
  for (int i = 0; i < records; ++i) {
    std::snprintf(buffer, sizeof buffer,
                  "0~~x~~x~~3200241130~~%08d~~%d~~20240316~~x~~%lld\r\n", i + 1,
                  kLinesPerRecord, static_cast<long long>(kFirstDocument + i));
    file += buffer;
    for (int k = 0; k < kLinesPerRecord; ++k) {
      std::snprintf(buffer, sizeof buffer,
                    "%d~~%s~~x~~x~~1~~100~~17~~%d.%02d\r\n", k + 1,
                    text::Utf8ToGbk(kProducts[k]).c_str(), kTaxCents[k] / 100,
                    kTaxCents[k] % 100);
      file += buffer;
    }
  }
  return file;
}

// A window that answers Yes (to the warning question too) and otherwise only
// notes how the import ended.
class YesHost : public ImportHost {
 public:
  void Tell(Notice kind, std::string_view text) override {
    told = kind;
    message = text::GbkToUtf8(text);
  }
  bool Confirm(std::string_view) override { return true; }
  bool ConfirmWarning(std::string_view) override { return true; }
  void OpenSettings() override {}
  void SetStatus(std::string_view) override {}
  void SetStartDate(text::Day) override {}
  void SetEndDate(text::Day) override {}
  void BeginWalk(int) override {}
  void StepWalk() override {}
  void EndWalk() override {}
  void ShowInvoiced() override { invoiced = true; }

  Notice told = Notice::kError;
  std::string message;
  bool invoiced = false;
};

// One text value of `sql` on the database file.
std::string Query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string value;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0)) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
  }
  if (value.empty()) value = std::string("(") + sqlite3_errmsg(db) + ")";
  sqlite3_close(db);
  return value;
}

// Every document holds its invoice numbers and every line its tax.
bool Written(const std::string& db, int records) {
  const std::string n = std::to_string(records);
  const std::string documents = Query(
      db,
      "SELECT COUNT(*) FROM XSTJQSK1 WHERE FPBBH0 = '3200241130' AND "
      "FPHAO0 = printf('%08d', DHAO00 - " +
          std::to_string(kFirstDocument - 1) + ") AND KPRQ00 = '2024-03-16'");
  bool ok = documents == n;
  if (!ok) {
    std::fprintf(stderr, "write-back-bench: %s of %s documents written\n",
                 documents.c_str(), n.c_str());
  }
  for (int k = 0; k < kLinesPerRecord; ++k) {
    const std::string lines =
        Query(db, "SELECT COUNT(*) FROM XSTJQSK2 WHERE SPMC00 = '" +
                      std::string(kProducts[k]) + "' AND ABS(SE0000 * 100 - " +
                      std::to_string(kTaxCents[k]) + ") < 0.001");
    if (lines != n) {
      std::fprintf(stderr, "write-back-bench: %s of %s lines %s written\n",
                   lines.c_str(), n.c_str(), kProducts[k]);
      ok = false;
    }
  }
  return ok;
}

int Main(int argc, char** argv) {
  int records = 10000;
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--records")) records = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
  }
  if (records < 1 || runs < 1) {
    std::fprintf(stderr,
                 "usage: skjk-write-back-bench [--records N] [--runs N]\n");
    return 2;
  }
  auto server = testing::ServerProcess::Start();
  if (!server.ok()) {
    std::fprintf(stderr, "write-back-bench: %s\n",
                 server.status().message().c_str());
    return 1;
  }
  if (Status s = (*server)->Fill(FillStatements(records)); !s.ok()) {
    std::fprintf(stderr, "write-back-bench: %s\n", s.message().c_str());
    return 1;
  }
  const std::string path = (*server)->directory() + "/issued.txt";
  if (Status s = Env::Default()->WriteFile(path, InvoiceFile(records));
      !s.ok()) {
    std::fprintf(stderr, "write-back-bench: %s\n", s.message().c_str());
    return 1;
  }

  const ImportRules& line = GetBusinessLine(BusinessLineKey::kJqsk).importing;
  const int64_t statements =
      int64_t{records} * (1 + kLinesPerRecord) + (line.closing.empty() ? 0 : 1);
  Connection c;
  c.set_machine_name((*server)->machine());
  // Each import is followed by as many of the cheapest request there is (a
  // rollback with no transaction open) on the session the import used, so
  // that both see the same load of the machine; the best of each counts.
  double import_best = 1e9, trip_best = 1e9;
  for (int r = 0; r < runs; ++r) {
    YesHost host;
    auto t = Clock::now();
    RunImport(line, path, Env::Default(), &c, &host);
    import_best = std::min(import_best, Seconds(t));
    if (host.told != ImportHost::Notice::kInfo || !host.invoiced) {
      std::fprintf(stderr, "write-back-bench: the import failed: %s\n%s",
                   host.message.c_str(), (*server)->log().c_str());
      return 1;
    }
    t = Clock::now();
    for (int64_t i = 0; i < statements; ++i) {
      if (Status s = c.Call("CustObjdbRollback"); !s.ok()) {
        std::fprintf(stderr, "write-back-bench: round trip: %s\n",
                     s.message().c_str());
        return 1;
      }
    }
    trip_best = std::min(trip_best, Seconds(t));
  }
  if (!Written((*server)->db_path(), records)) return 1;

  const double statement_rate = static_cast<double>(statements) / import_best;
  const double trip_rate = static_cast<double>(statements) / trip_best;
  std::printf(
      "write-back: %d records with %d lines each, %lld statements (best of "
      "%d runs)\n",
      records, kLinesPerRecord, static_cast<long long>(statements), runs);
  std::printf("import through skjk-server: %.3f s, %.0f statements/s\n",
              import_best, statement_rate);
  std::printf("bare round trip (Call, no transaction): %.0f/s\n", trip_rate);
  std::printf("ratio: writeback %.2f\n", trip_rate / statement_rate);
  return 0;
}

}  // namespace
}  // namespace skjk

int main(int argc, char** argv) { return skjk::Main(argc, argv); }
