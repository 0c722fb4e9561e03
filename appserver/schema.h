// The tables of the management system that skjk-server serves
// (docs/schema.md describes them).
#ifndef SKJK_APPSERVER_SCHEMA_H_
#define SKJK_APPSERVER_SCHEMA_H_

#include "appserver/database.h"
#include "base/status.h"

namespace skjk::appserver {

// Creates every table, view and index in one transaction.
Status CreateSchema(DbSession* db);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SCHEMA_H_
