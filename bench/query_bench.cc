// Loading head-office documents through skjk-server into document sets,
// against reading the same rows straight from SQLite in this process.
//
//   skjk-query-bench --db FILE --machine HOST:PORT [--runs N]
//
// The server must serve FILE. Prints the times, the line
// "ratio: query <through server / direct>" and the client's peak memory per
// 100,000 documents.
#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "appserver/dialect.h"
#include "appserver/providers.h"
#include "server/connection.h"
#include "server/document_set.h"
#include "server/layouts.h"

namespace skjk {
namespace {

const char* const kProviders[] = {"dsp_bbsk1", "dsp_bbsk3"};
const char kFrom[] = "2000-01-01";
const char kTo[] = "2099-12-31";
const char kToNext[] = "2100-01-01";

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

// One document set per provider, opened through the server; returns the
// number of documents and lines.
bool ThroughServer(Connection* c, int64_t* documents, int64_t* lines) {
  *documents = *lines = 0;
  for (const char* provider : kProviders) {
    DocumentSet set("ClientDataSet1", c, provider, Connection::kAllRecords,
                    layouts::ProviderLayout(provider), "ClientDataSet2");
    Status s = set.Open({kFrom, kTo});
    if (!s.ok()) {
      std::fprintf(stderr, "query-bench: %s: %s\n", provider,
                   s.message().c_str());
      return false;
    }
    *documents += set.RecordCount();
    for (set.First(); !set.Eof(); set.Next()) {
      *lines += set.detail()->RecordCount();
    }
  }
  return true;
}

// Steps `stmt` to its end, putting every row into `rows` as the layout says.
bool ReadRows(sqlite3* db, sqlite3_stmt* stmt,
              const std::vector<FieldDef>& layout, int columns, Rows* rows) {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    Row& row = rows->emplace_back();
    row.values.resize(layout.size());
    for (int i = 0; i < columns; ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_NULL) continue;
      switch (layout[i].type) {
        case FieldType::kText:
          row.values[i] = std::string(
              reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
              sqlite3_column_bytes(stmt, i));
          break;
        case FieldType::kNumber:
          row.values[i] = sqlite3_column_double(stmt, i);
          break;
        case FieldType::kDateTime:
          if (auto d = appserver::StoredDateToDays(
                  reinterpret_cast<const char*>(sqlite3_column_text(stmt, i))))
            row.values[i] = *d;
          break;
        case FieldType::kNested:
          break;
      }
    }
  }
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "query-bench: %s\n", sqlite3_errmsg(db));
    return false;
  }
  return true;
}

// The same two queries per provider run here, masters and lines read into
// rows and the lines put into their documents.
bool Direct(const std::string& path, int64_t* documents, int64_t* lines) {
  *documents = *lines = 0;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "query-bench: cannot open %s\n", path.c_str());
    return false;
  }
  bool ok = true;
  for (const char* provider : kProviders) {
    const appserver::ProviderDef* def = appserver::FindProvider(provider);
    Rows masters, line_rows;
    for (int pass = 0; pass < 2 && ok; ++pass) {
      std::string sql = pass == 0 ? def->master_sql + def->master_order
                                  : def->lines_sql + " ORDER BY L.DHAO00";
      const auto& layout = pass == 0 ? def->layout : def->layout.back().nested;
      int columns = static_cast<int>(layout.size()) - (pass == 0 ? 1 : 0);
      sqlite3_stmt* st = nullptr;
      ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
           sqlite3_bind_text(st, 1, kFrom, -1, SQLITE_STATIC) == SQLITE_OK &&
           sqlite3_bind_text(st, 2, kToNext, -1, SQLITE_STATIC) == SQLITE_OK &&
           ReadRows(db, st, layout, columns, pass == 0 ? &masters : &line_rows);
      sqlite3_finalize(st);
    }
    if (!ok) break;
    size_t l = 0;
    int key = def->key_column;
    for (Row& m : masters) {
      double k = std::get<double>(m.values[key]);
      Rows& nested = m.values.back().emplace<Rows>();
      while (l < line_rows.size() &&
             std::get<double>(line_rows[l].values[0]) < k)
        ++l;
      while (l < line_rows.size() &&
             std::get<double>(line_rows[l].values[0]) == k)
        nested.push_back(std::move(line_rows[l++]));
      *lines += static_cast<int64_t>(nested.size());
    }
    *documents += static_cast<int64_t>(masters.size());
  }
  sqlite3_close(db);
  return ok;
}

int Main(int argc, char** argv) {
  std::string db, machine;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--db")) db = argv[i + 1];
    if (!std::strcmp(argv[i], "--machine")) machine = argv[i + 1];
    if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
  }
  if (db.empty() || machine.empty() || runs < 1) {
    std::fprintf(stderr,
                 "usage: skjk-query-bench --db FILE --machine HOST:PORT "
                 "[--runs N]\n");
    return 2;
  }
  Connection c;
  c.set_machine_name(machine);
  double server_best = 1e9, direct_best = 1e9;
  int64_t docs = 0, lines = 0, direct_docs = 0, direct_lines = 0;
  long peak_kb = 0;
  // The client first, so that its peak memory is its own.
  for (int r = 0; r < runs; ++r) {
    auto t = std::chrono::steady_clock::now();
    if (!ThroughServer(&c, &docs, &lines)) return 1;
    server_best = std::min(server_best, Seconds(t));
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  peak_kb = ru.ru_maxrss;
  for (int r = 0; r < runs; ++r) {
    auto t = std::chrono::steady_clock::now();
    if (!Direct(db, &direct_docs, &direct_lines)) return 1;
    direct_best = std::min(direct_best, Seconds(t));
  }
  if (docs != direct_docs || lines != direct_lines) {
    std::fprintf(stderr,
                 "query-bench: server delivered %lld documents / %lld lines, "
                 "SQLite holds %lld / %lld\n",
                 static_cast<long long>(docs), static_cast<long long>(lines),
                 static_cast<long long>(direct_docs),
                 static_cast<long long>(direct_lines));
    return 1;
  }
  std::printf("documents: %lld, lines: %lld (best of %d runs)\n",
              static_cast<long long>(docs), static_cast<long long>(lines),
              runs);
  std::printf("through server into document sets: %.3f s\n", server_best);
  std::printf("straight from SQLite in one process: %.3f s\n", direct_best);
  std::printf("ratio: query %.2f\n", server_best / direct_best);
  if (docs > 0) {
    std::printf("client peak memory per 100,000 documents: %.1f MB\n",
                peak_kb / 1024.0 * 100000.0 / static_cast<double>(docs));
  }
  return 0;
}

}  // namespace
}  // namespace skjk

int main(int argc, char** argv) { return skjk::Main(argc, argv); }
