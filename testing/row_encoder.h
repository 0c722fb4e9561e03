// Record chunks made by tests: the rows a server would send, encoded as they
// travel, for the decoders and the sets that read them.
#ifndef SKJK_TESTING_ROW_ENCODER_H_
#define SKJK_TESTING_ROW_ENCODER_H_

#include <vector>

#include "wire/protocol.h"
#include "wire/records.h"

namespace skjk::testing {

// Appends `row` (texts in UTF-8) in `layout` to `w`, value by value as the
// server writes them: a missing or empty value as null, a number of a
// date-time field as a date-time, nested rows with their count first.
void EncodeRow(const std::vector<FieldDef>& layout, const Row& row,
               protocol::Writer* w);

}  // namespace skjk::testing

#endif  // SKJK_TESTING_ROW_ENCODER_H_
