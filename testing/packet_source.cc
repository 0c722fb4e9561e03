#include "testing/packet_source.h"

#include <utility>

namespace skjk::testing {

DocumentSet::ReceiveRecordsFn FromPackets(GetRecordsFn get_records) {
  return [get_records = std::move(get_records)](
             std::string_view provider, int packet_size, bool with_layout,
             const std::vector<std::string>& params,
             RecordReceiver* receiver) -> Status {
    Packet packet;
    SKJK_RETURN_IF_ERROR(
        get_records(provider, packet_size, with_layout, params, &packet));
    if (with_layout || !packet.layout.empty()) {
      SKJK_RETURN_IF_ERROR(receiver->Layout(std::move(packet.layout)));
    }
    return receiver->Records(std::move(packet.rows));
  };
}

}  // namespace skjk::testing
