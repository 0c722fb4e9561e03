// Realistic sample data for a fresh database: customers, goods, and
// head-office sales, void and visit-sales documents over six months.
#ifndef SKJK_APPSERVER_SAMPLE_H_
#define SKJK_APPSERVER_SAMPLE_H_

#include <cstdint>

#include "appserver/database.h"
#include "base/status.h"

namespace skjk::appserver {

struct SampleOptions {
  int64_t documents = 100;  // per kind: head-office, void, visit-sales
  uint64_t seed = 1;
  int lines = -1;  // lines per document; < 0: 0 to 10 at random
};

// Fills the (empty) tables in one transaction. The same options always give
// the same rows. Customers include one named "vediruza商贸有限公司" (the
// customer window's), some without tax registration number or bank; about
// a third of the documents are invoiced already.
Status GenerateSample(DbSession* db, const SampleOptions& options);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_SAMPLE_H_
