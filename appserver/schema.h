// The tables of the management system that skjk-server serves
// (docs/schema.md describes them).
#ifndef SKJK_APPSERVER_SCHEMA_H_
#define SKJK_APPSERVER_SCHEMA_H_

#include <string>
#include <vector>

#include "appserver/database.h"
#include "base/status.h"

namespace skjk::appserver {

// Creates every table, view and index, then runs the engine's `extras`
// (Database::SchemaExtras), in one transaction where the engine's DDL is
// transactional (SQLite; on MariaDB each statement commits on its own).
Status CreateSchema(DbSession* db, const std::vector<std::string>& extras = {});

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SCHEMA_H_
