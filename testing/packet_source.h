// Document sets fed from whole packets instead of a connection: a test or a
// benchmark answers each get-records request with a Packet (layout and
// decoded records, texts in GBK), and FromPackets() hands it to the set's
// receiver as a connection's stream would.
#ifndef SKJK_TESTING_PACKET_SOURCE_H_
#define SKJK_TESTING_PACKET_SOURCE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "documents/document_set.h"
#include "wire/records.h"

namespace skjk::testing {

// A get-records request answered with a whole packet.
using GetRecordsFn = std::function<Status(
    std::string_view provider, int packet_size, bool with_layout,
    const std::vector<std::string>& params, Packet* packet)>;

// The request function of a set fed by `get_records`: the receiver takes
// the packet's layout (when the packet has one, or when it was asked for)
// and then its records. A failure of `get_records` is returned as it is.
DocumentSet::ReceiveRecordsFn FromPackets(GetRecordsFn get_records);

}  // namespace skjk::testing

#endif  // SKJK_TESTING_PACKET_SOURCE_H_
