// The SQLite backend: one connection per session, WAL, Oracle's NVL and
// TO_DATE, case-sensitive LIKE, and the UPDATE-alias form adapted. Client
// statements are held to the client rule by SQLite's authorizer.
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "appserver/client_rule.h"
#include "appserver/database.h"
#include "appserver/dialect.h"
#include "appserver/journal_schema.h"

namespace skjk::appserver {
namespace {

constexpr int kBusyTimeoutMs = 5000;
// The largest text or blob a statement may make (SQLITE_LIMIT_LENGTH): no
// value of the schema comes near it, and nothing larger fits into a frame.
constexpr int kMaxValueBytes = 16 << 20;
// All connections of the process together: allocations beyond it fail
// (SQLITE_NOMEM) instead of growing the server without bound.
constexpr int64_t kHeapLimitBytes = int64_t{1} << 30;
// Virtual machine steps between two calls of a session's interrupt check.
constexpr int kProgressSteps = 1000;

Status SqliteError(sqlite3* db, std::string_view what) {
  return Status::Error(std::string(what) + ": " + sqlite3_errmsg(db));
}

bool IsEmptyOrNull(sqlite3_value* v) {
  int type = sqlite3_value_type(v);
  if (type == SQLITE_NULL) return true;
  if (type == SQLITE_TEXT) return sqlite3_value_bytes(v) == 0;
  return false;
}

// NVL(a, b): b when a is NULL or an empty text (Oracle holds '' as NULL).
void NvlFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_value(ctx, IsEmptyOrNull(argv[0]) ? argv[1] : argv[0]);
}

// TO_DATE(text, format): the stored date text; NULL for NULL or ''; an
// error for a text that is not a date of the format.
void ToDateFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsEmptyOrNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  std::string format = "YYYY-MM-DD HH24:MI:SS";
  if (argc > 1) {
    const unsigned char* f = sqlite3_value_text(argv[1]);
    format = f != nullptr ? reinterpret_cast<const char*>(f) : "";
  }
  std::string error;
  auto date = OracleToDate(text != nullptr ? text : "", format, &error);
  if (!date) {
    sqlite3_result_error(ctx, error.c_str(), -1);
    return;
  }
  sqlite3_result_text(ctx, date->c_str(), static_cast<int>(date->size()),
                      SQLITE_TRANSIENT);
}

// What the authorizer of a client connection lets through while a
// statement is prepared (and re-prepared while it runs).
struct Guard {
  enum class Rule {
    kServer,  // the server's own queries and transaction control: reads,
              // and rows added to the exchange journal
    kClient,  // a client's statement: the client rule
  };
  Rule rule = Rule::kServer;
  // Why the statement was refused: the first reason naming the statement
  // kind (DROP TABLE), else the first one (the schema write it makes).
  std::string refusal;
  bool refusal_names_kind = false;
  int writes = 0;  // UPDATE and INSERT actions the rule allowed
};

std::string_view Str(const char* p) {
  return p != nullptr ? std::string_view(p) : std::string_view();
}

// The statement kinds the authorizer names, for refusals.
std::string ActionName(int action, const char* arg3) {
  switch (action) {
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TEMP_INDEX:
      return "CREATE INDEX";
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_TABLE:
      return "CREATE TABLE";
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
      return "CREATE TRIGGER";
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
      return "CREATE VIEW";
    case SQLITE_CREATE_VTABLE:
      return "CREATE VIRTUAL TABLE";
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TEMP_INDEX:
      return "DROP INDEX";
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
      return "DROP TABLE";
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_TEMP_TRIGGER:
      return "DROP TRIGGER";
    case SQLITE_DROP_VIEW:
    case SQLITE_DROP_TEMP_VIEW:
      return "DROP VIEW";
    case SQLITE_DROP_VTABLE:
      return "DROP VIRTUAL TABLE";
    case SQLITE_ALTER_TABLE:
      return "ALTER TABLE";
    case SQLITE_REINDEX:
      return "REINDEX";
    case SQLITE_ANALYZE:
      return "ANALYZE";
    case SQLITE_ATTACH:
      return "ATTACH";
    case SQLITE_DETACH:
      return "DETACH";
    case SQLITE_PRAGMA:
      return "PRAGMA " + std::string(Str(arg3));
    case SQLITE_SAVEPOINT:
      return "SAVEPOINT/RELEASE";
    case SQLITE_RECURSIVE:
      return "a recursive query";
    default:
      return "action " + std::to_string(action);
  }
}

// sqlite3_set_authorizer callback on connections opened for clients.
int Authorize(void* arg, int action, const char* arg3, const char* arg4,
              const char* database, const char* /*inner*/) {
  Guard* guard = static_cast<Guard*>(arg);
  const bool client = guard->rule == Guard::Rule::kClient;
  auto refuse = [guard](std::string why, bool names_kind = false) {
    if (guard->refusal.empty() || (names_kind && !guard->refusal_names_kind)) {
      guard->refusal = std::move(why);
      guard->refusal_names_kind = names_kind;
    }
    return SQLITE_DENY;
  };
  // Writes to the engine's own tables come with DDL, ANALYZE and the like.
  auto schema_write = [&](std::string_view table) {
    return table.substr(0, 7) == "sqlite_"
               ? refuse("writing the database schema (" + std::string(table) +
                        ") is not allowed")
               : SQLITE_OK;
  };
  // The exchange journal: the server's own statements may add rows to it,
  // a client's may not touch it at all.
  const bool journal = (action == SQLITE_READ || action == SQLITE_INSERT ||
                        action == SQLITE_UPDATE || action == SQLITE_DELETE) &&
                       IsJournalTable(Str(arg3));
  if (journal && client) return refuse(kJournalRefusal, true);
  if (journal && action == SQLITE_INSERT && Str(database) == "main") {
    return SQLITE_OK;
  }
  switch (action) {
    case SQLITE_SELECT:
      return SQLITE_OK;
    case SQLITE_READ:
      // By table name alone: SQLite names no database for some reads, and
      // a client connection has none but the main one (no ATTACH, no
      // temporary tables).
      if (!client || ClientMayRead(Str(arg3))) return SQLITE_OK;
      return refuse("reading " + std::string(Str(arg3)) +
                    " is not allowed (statements read the system's tables "
                    "only)");
    case SQLITE_FUNCTION:
      if (!client || ClientMayCall(Str(arg4))) return SQLITE_OK;
      return refuse("function " + std::string(Str(arg4)) + " is not allowed");
    case SQLITE_TRANSACTION:
      if (!client) return SQLITE_OK;
      return refuse(std::string(Str(arg3)) +
                        " in SQL text is not allowed (a transaction is begun "
                        "and ended with the calls CustObjdbTranStart, "
                        "CustObjdbCommit and CustObjdbRollback)",
                    true);
    case SQLITE_UPDATE:
      if (schema_write(Str(arg3)) != SQLITE_OK) return SQLITE_DENY;
      if (client && Str(database) == "main" &&
          ClientMayUpdate(Str(arg3), Str(arg4))) {
        ++guard->writes;
        return SQLITE_OK;
      }
      return refuse("UPDATE of " + std::string(Str(arg3)) + "." +
                    std::string(Str(arg4)) +
                    " is not allowed (UPDATE may set only " +
                    ClientUpdatableColumns() + ")");
    case SQLITE_INSERT:
      if (schema_write(Str(arg3)) != SQLITE_OK) return SQLITE_DENY;
      if (client && Str(database) == "main" && ClientMayInsert(Str(arg3))) {
        ++guard->writes;
        return SQLITE_OK;
      }
      return refuse("INSERT into " + std::string(Str(arg3)) +
                    " is not allowed (INSERT may add rows only to " +
                    ClientInsertableTables() + ")");
    case SQLITE_DELETE:
      if (schema_write(Str(arg3)) != SQLITE_OK) return SQLITE_DENY;
      return refuse(
          "DELETE (from " + std::string(Str(arg3)) + ") is not allowed", true);
    default:
      return refuse(ActionName(action, arg3) + " is not allowed", true);
  }
}

class SqliteStatement final : public Statement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }

  Status BindText(int index, std::string_view value) override {
    return Check(sqlite3_bind_text(stmt_, index, value.data(),
                                   static_cast<int>(value.size()),
                                   SQLITE_TRANSIENT));
  }
  Status BindInt(int index, int64_t value) override {
    return Check(sqlite3_bind_int64(stmt_, index, value));
  }
  Status BindDouble(int index, double value) override {
    return Check(sqlite3_bind_double(stmt_, index, value));
  }
  Status BindNull(int index) override {
    return Check(sqlite3_bind_null(stmt_, index));
  }
  Result<bool> Step() override {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return SqliteError(db_, "query failed");
  }
  void Reset() override { sqlite3_reset(stmt_); }
  bool IsNull(int column) override {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
  }
  std::string_view Text(int column) override {
    const char* p =
        reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (p == nullptr) return {};
    return std::string_view(p, sqlite3_column_bytes(stmt_, column));
  }
  double Double(int column) override {
    return sqlite3_column_double(stmt_, column);
  }
  int64_t Int(int column) override {
    return sqlite3_column_int64(stmt_, column);
  }

 private:
  Status Check(int rc) {
    if (rc == SQLITE_OK) return Status::OK();
    return SqliteError(db_, "cannot bind a parameter");
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_;
};

class SqliteSession final : public DbSession {
 public:
  SqliteSession(sqlite3* db, Access access) : db_(db), access_(access) {
    if (access_ == Access::kClient) {
      sqlite3_set_authorizer(db_, Authorize, &guard_);
    }
  }
  ~SqliteSession() override {
    if (!sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    cache_.clear();
    sqlite3_close_v2(db_);
  }

  Status Begin() override {
    if (in_transaction()) {
      return Status::Error("a transaction is already open in this session");
    }
    return Exec("BEGIN IMMEDIATE", "cannot begin a transaction");
  }
  Status Commit() override {
    if (!in_transaction()) {
      return Status::Error("no transaction is open in this session");
    }
    return Exec("COMMIT", "commit failed");
  }
  Status Rollback() override {
    if (!in_transaction()) return Status::OK();
    return Exec("ROLLBACK", "rollback failed");
  }
  bool in_transaction() override {
    return !sqlite3_get_autocommit(db_) && !reading_;
  }

  bool steps_in_turn() const override { return true; }

  // Outside a transaction, a deferred one: its first query fixes the
  // state it reads (a snapshot of the log in WAL mode) for the rest.
  Status BeginRead() override {
    if (reading_ || !sqlite3_get_autocommit(db_)) return Status::OK();
    SKJK_RETURN_IF_ERROR(Exec("BEGIN", "cannot begin a read"));
    reading_ = true;
    return Status::OK();
  }
  void EndRead() override {
    if (!reading_) return;
    reading_ = false;
    // An interrupted query may have ended the transaction already. Its end
    // is not interrupted: the session must not keep its read.
    if (sqlite3_get_autocommit(db_)) return;
    if (stop_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    if (!Exec("COMMIT", "").ok()) (void)Exec("ROLLBACK", "");
    if (stop_) {
      sqlite3_progress_handler(db_, kProgressSteps, &SqliteSession::Progress,
                               this);
    }
  }

  void SetInterruptCheck(std::function<bool()> stop) override {
    stop_ = std::move(stop);
    sqlite3_progress_handler(db_, kProgressSteps, &SqliteSession::Progress,
                             this);
    // Replaces the plain busy timeout: the same wait, but it ends early.
    sqlite3_busy_handler(db_, &SqliteSession::Busy, this);
  }

  Result<int64_t> Execute(std::string_view sql) override {
    if (size_t nul = sql.find('\0'); nul != std::string_view::npos) {
      return Status::Error(NulRefusal(nul));
    }
    std::string text = AdaptUpdateAlias(sql);
    // The client rule holds while the statement is prepared and while it
    // runs (SQLite prepares it again if the schema changes meanwhile).
    ClientScope scope(this);
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()),
                           &stmt, &tail) != SQLITE_OK) {
      if (!guard_.refusal.empty()) return Refused(FirstKeyword(text));
      return SqliteError(db_, "SQL error");
    }
    if (stmt == nullptr) return Status::Error("SQL error: empty statement");
    for (const char* p = tail; p != nullptr && *p != '\0'; ++p) {
      if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') {
        sqlite3_finalize(stmt);
        return Status::Error("SQL error: more than one statement in one text");
      }
    }
    if (access_ == Access::kClient &&
        (guard_.writes == 0 || sqlite3_stmt_isexplain(stmt) != 0)) {
      // VACUUM, SELECT, EXPLAIN and the like: nothing the authorizer would
      // refuse, and nothing the system sends.
      sqlite3_finalize(stmt);
      guard_.refusal = kClientStatementKinds;
      return Refused(FirstKeyword(text));
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    Status status;
    if (rc != SQLITE_DONE) {
      status = guard_.refusal.empty() ? SqliteError(db_, "SQL error")
                                      : Refused(FirstKeyword(text));
    }
    sqlite3_finalize(stmt);
    if (!status.ok()) return status;
    return static_cast<int64_t>(sqlite3_changes64(db_));
  }

  // A SELECT needs none of the adaptation of an UPDATE.
  Result<std::vector<TextRow>> ReadForWrite(std::string_view sql,
                                            std::string_view kind) override {
    bool interrupted = false;
    auto rows = ClientRead(sql, kind, &interrupted);
    if (interrupted && !sqlite3_get_autocommit(db_) && !reading_) {
      // The check that interrupted the read would interrupt the rollback.
      sqlite3_progress_handler(db_, 0, nullptr, nullptr);
      Status r = Exec("ROLLBACK", "rollback failed");
      (void)r;  // the interruption is what to report
      if (stop_) {
        sqlite3_progress_handler(db_, kProgressSteps, &SqliteSession::Progress,
                                 this);
      }
    }
    return rows;
  }

  Result<Statement*> Prepare(const std::string& sql) override {
    auto it = cache_.find(sql);
    if (it != cache_.end()) {
      it->second->Reset();
      return it->second.get();
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK) {
      return SqliteError(db_, "cannot prepare a query");
    }
    auto owned = std::make_unique<SqliteStatement>(db_, stmt);
    Statement* s = owned.get();
    cache_.emplace(sql, std::move(owned));
    return s;
  }

 private:
  // ReadForWrite's query under the client rule: the authorizer holds it
  // to the rule's reads; that it writes nothing is the engine's word
  // (sqlite3_stmt_readonly). *interrupted says whether the interrupt check
  // ended it.
  Result<std::vector<TextRow>> ClientRead(std::string_view sql,
                                          std::string_view kind,
                                          bool* interrupted) {
    if (size_t nul = sql.find('\0'); nul != std::string_view::npos) {
      return Status::Error(NulRefusal(nul));
    }
    ClientScope scope(this);
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw,
                           &tail) != SQLITE_OK) {
      if (!guard_.refusal.empty()) return Refused(kind);
      return SqliteError(db_, "SQL error");
    }
    if (raw == nullptr) return Status::Error("SQL error: empty statement");
    const std::unique_ptr<SqliteStatement> stmt(new SqliteStatement(db_, raw));
    for (const char* p = tail; p != nullptr && p < sql.data() + sql.size();
         ++p) {
      if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') {
        return Status::Error("SQL error: more than one statement in one text");
      }
    }
    if (access_ == Access::kClient &&
        (guard_.writes != 0 || !sqlite3_stmt_readonly(raw))) {
      guard_.refusal = kClientStatementKinds;
      return Refused(kind);
    }
    const int columns = sqlite3_column_count(raw);
    std::vector<TextRow> rows;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      TextRow& row = rows.emplace_back();
      for (int c = 0; c < columns; ++c) {
        if (stmt->IsNull(c)) {
          row.emplace_back();
        } else {
          row.emplace_back(std::string(stmt->Text(c)));
        }
      }
    }
    if (rc == SQLITE_DONE) return rows;
    *interrupted = (rc & 0xff) == SQLITE_INTERRUPT;
    if (!guard_.refusal.empty()) return Refused(kind);
    return SqliteError(db_, "SQL error");
  }

  // The refusal of a client statement of `kind` by the client rule.
  Status Refused(std::string_view kind) {
    return Status::Error("statement refused" +
                         (kind.empty() ? "" : " (" + std::string(kind) + ")") +
                         ": " + guard_.refusal);
  }

  // Puts a client statement under the client rule for its lifetime.
  class ClientScope {
   public:
    explicit ClientScope(SqliteSession* s) : guard_(&s->guard_) {
      guard_->rule = Guard::Rule::kClient;
      guard_->refusal.clear();
      guard_->writes = 0;
    }
    ~ClientScope() { guard_->rule = Guard::Rule::kServer; }
    ClientScope(const ClientScope&) = delete;
    ClientScope& operator=(const ClientScope&) = delete;

   private:
    Guard* guard_;
  };

  Status Exec(const char* sql, std::string_view what) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string message = std::string(what) + ": " +
                            (err != nullptr ? err : sqlite3_errmsg(db_));
      sqlite3_free(err);
      return Status::Error(message);
    }
    return Status::OK();
  }

  static int Progress(void* self) {
    return static_cast<SqliteSession*>(self)->stop_() ? 1 : 0;
  }
  // Waits for another session's lock in steps of 10 ms up to the busy
  // timeout, unless the check says stop.
  static int Busy(void* self, int count) {
    constexpr int kStepMs = 10;
    if (count * kStepMs >= kBusyTimeoutMs) return 0;
    if (static_cast<SqliteSession*>(self)->stop_()) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    return 1;
  }

  sqlite3* db_;
  const Access access_;
  Guard guard_;
  std::map<std::string, std::unique_ptr<SqliteStatement>> cache_;
  std::function<bool()> stop_;
  bool reading_ = false;  // inside BeginRead's transaction
};

// Opens a connection with everything a session relies on, and without what
// none needs: no extensions, no functions run from the schema but harmless
// ones, no writes to the schema tables, double quotes for identifiers only,
// and (for clients) no attached databases. Triggers stay enabled: only the
// local administration can create one, and the authorizer holds their
// statements to the rule of the statement that fires them.
Result<sqlite3*> OpenConnection(const std::string& path, int flags,
                                Access access) {
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message =
        "cannot open database " + path + ": " +
        (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return Status::Error(message);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  const struct {
    int option;
    int value;
    const char* name;
  } configs[] = {
      {SQLITE_DBCONFIG_DEFENSIVE, 1, "DEFENSIVE"},
      {SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, "ENABLE_LOAD_EXTENSION"},
      {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, "TRUSTED_SCHEMA"},
      {SQLITE_DBCONFIG_DQS_DML, 0, "DQS_DML"},
      {SQLITE_DBCONFIG_DQS_DDL, 0, "DQS_DDL"},
  };
  for (const auto& c : configs) {
    int now = -1;
    if (sqlite3_db_config(db, c.option, c.value, &now) != SQLITE_OK ||
        now != c.value) {
      std::string message = "cannot set up database " + path +
                            ": SQLITE_DBCONFIG_" + c.name + " refused";
      sqlite3_close_v2(db);
      return Status::Error(message);
    }
  }
  if (access == Access::kClient) sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  const char* setup =
      "PRAGMA case_sensitive_like=ON;"
      "PRAGMA synchronous=NORMAL;"
      "PRAGMA foreign_keys=OFF;";
  char* err = nullptr;
  if (sqlite3_exec(db, setup, nullptr, nullptr, &err) != SQLITE_OK ||
      sqlite3_create_function_v2(
          db, "NVL", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
          nullptr, NvlFunction, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(
          db, "TO_DATE", 2,
          SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
          ToDateFunction, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(
          db, "TO_DATE", 1,
          SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
          ToDateFunction, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string message = "cannot set up database " + path + ": " +
                          (err != nullptr ? err : sqlite3_errmsg(db));
    sqlite3_free(err);
    sqlite3_close_v2(db);
    return Status::Error(message);
  }
  return db;
}

class SqliteDatabase final : public Database {
 public:
  SqliteDatabase(std::string path, Access access)
      : path_(std::move(path)), access_(access) {}

  Result<std::unique_ptr<DbSession>> OpenSession() override {
    auto db = OpenConnection(path_, SQLITE_OPEN_READWRITE, access_);
    if (!db.ok()) return db.status();
    sqlite3_limit(*db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
    return std::unique_ptr<DbSession>(new SqliteSession(*db, access_));
  }
  std::string engine() const override {
    return std::string("SQLite ") + sqlite3_libversion();
  }

 private:
  std::string path_;
  Access access_;
};

}  // namespace

Status CreateSqliteFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    return Status::Error("database " + path + " exists already");
  }
  auto db = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           Access::kAdmin);
  if (!db.ok()) return db.status();
  char* err = nullptr;
  int rc = sqlite3_exec(*db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &err);
  std::string message = err != nullptr ? err : "";
  sqlite3_free(err);
  sqlite3_close_v2(*db);
  if (rc != SQLITE_OK) {
    return Status::Error("cannot create database " + path + ": " + message);
  }
  return Status::OK();
}

Result<std::unique_ptr<Database>> OpenSqliteDatabase(const std::string& path,
                                                     Access access) {
  // Check once that the file opens, so that a bad path fails at start-up.
  auto db = OpenConnection(path, SQLITE_OPEN_READWRITE, Access::kAdmin);
  if (!db.ok()) return db.status();
  char* err = nullptr;
  int rc = sqlite3_exec(*db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &err);
  std::string message = err != nullptr ? err : sqlite3_errmsg(*db);
  sqlite3_free(err);
  sqlite3_close_v2(*db);
  if (rc != SQLITE_OK) {
    return Status::Error("cannot open database " + path + ": " + message);
  }
  sqlite3_hard_heap_limit64(kHeapLimitBytes);
  return std::unique_ptr<Database>(new SqliteDatabase(path, access));
}

}  // namespace skjk::appserver
