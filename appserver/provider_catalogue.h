// The catalogue of skjk-server's data providers: which providers exist,
// which documents each delivers and in which record layout, and the SQL that
// reads them. Built once, read-only after; record_stream.h runs the queries.
#ifndef SKJK_APPSERVER_PROVIDER_CATALOGUE_H_
#define SKJK_APPSERVER_PROVIDER_CATALOGUE_H_

#include <string>
#include <string_view>
#include <vector>

#include "wire/records.h"

namespace skjk::appserver {

struct ProviderDef {
  std::string name;              // "dsp_bbsk1"
  std::vector<FieldDef> layout;  // master fields, the nested lines last
  // SELECT of the master fields (all but the nested one, in layout order)
  // with a WHERE clause taking QSRQ and the day after ZZRQ as its two '?'.
  std::string master_sql;
  std::string master_order;  // " ORDER BY ..." of order_columns
  // SELECT A.DHAO00 with master_sql's FROM and WHERE (the same two '?').
  std::string keys_sql;
  // The view's order key: master columns of A, DHAO00 first (not NULL), the
  // others (NULL first) only where a document may have several rows.
  std::vector<std::string> order_columns;
  std::vector<int> order_fields;  // where each stands among the master fields
  // " AND (...)" keeping the masters that come after a key in the order; its
  // '?' follow the range's two, one or two per key column as after_params
  // lists them (a column that may be NULL takes its value twice).
  std::string after_sql;
  std::vector<int> after_params;  // the key column each of its '?' takes
  // SELECT of the line fields (DHAO00 first) of the masters master_sql
  // selects, with the same two '?', no ORDER BY.
  std::string lines_sql;
  // The same for the masters whose DHAO00 lies between two bounds: its
  // '?' are the lowest and the highest DHAO00, QSRQ, the day after ZZRQ,
  // and the two bounds again (a backend gets the range both on the lines
  // and on the masters they belong to, so that a batch of masters costs
  // its own lines, not the view's).
  std::string batch_lines_sql;
  int key_column = 0;  // DHAO00 among the master fields
};

// All providers, and one by name (nullptr when unknown).
const std::vector<ProviderDef>& Providers();
const ProviderDef* FindProvider(std::string_view name);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_PROVIDER_CATALOGUE_H_
