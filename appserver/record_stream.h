// The streaming engine of skjk-server: runs a provider's queries (see
// provider_catalogue.h) for a packet of its documents and sends the rows to
// a RecordSink in chunks as they are read, keeping the provider's place
// between packets in a ProviderCursor.
#ifndef SKJK_APPSERVER_RECORD_STREAM_H_
#define SKJK_APPSERVER_RECORD_STREAM_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "appserver/database.h"
#include "appserver/provider_catalogue.h"
#include "base/status.h"
#include "wire/records.h"

namespace skjk::appserver {

// Receives the frames of a record stream.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual Status Header(const std::vector<FieldDef>& layout) = 0;
  // `body` holds `count` encoded rows.
  virtual Status Chunk(uint64_t count, std::string_view body) = 0;
  virtual Status End(uint64_t total, bool exhausted) = 0;
};

// One column of an order key: NULL, a number or a stored text.
struct KeyValue {
  bool null = true;
  bool number = false;
  double n = 0;
  std::string text;
};

// A provider's place within its documents, kept by the session between a
// get-records request and its next-packet requests: the order key of the
// last document delivered, so that a next packet continues after it however
// documents have entered or left the view in between.
struct ProviderCursor {
  const ProviderDef* def = nullptr;
  std::string from;      // QSRQ
  std::string to_next;   // the day after ZZRQ
  bool started = false;  // a document has been delivered; `last` holds it
  std::vector<KeyValue> last;
  bool exhausted = false;
};

// Checks QSRQ and ZZRQ and starts a cursor at the first document.
Status StartCursor(const ProviderDef& def,
                   const std::vector<std::string>& params,
                   ProviderCursor* cursor);

// How many master rows StreamPacket reads from MariaDB at a time.
inline constexpr int kReadBatch = 5000;

// Streams the next `packet_size` documents (all when < 0) of the cursor to
// `sink` (header, chunks, end) and advances it. An error before the header
// leaves the sink untouched; after it, the caller ends the stream with an
// error frame. All its queries read one state of the database
// (DbSession::BeginRead).
//
// The memory this takes does not grow with the answer. With `read_batch` 0
// the masters' query and the lines' query are read in turn in one pass,
// which a backend whose queries step in turn (DbSession::steps_in_turn:
// SQLite) does row by row. With `read_batch` > 0 the masters are read that
// many rows at a time, in their order, each batch but the last ending with
// a whole document where it holds more than one (a document with more rows
// goes on in the next batch at the row where it stopped), and each batch's
// lines are then read by its range of DHAO00. Where a document may have
// several rows (an order of several columns, which no index gives), a
// batch's masters are first bounded by the DHAO00 their last row can have
// at most, so that the engine sorts the batch's rows, not all the rest: the
// session never reads two queries at once, so a backend need not hold one in
// memory (MariaDB). Either way the answer is the same. `read_batch` < 0: the
// backend's way, 0 or kReadBatch.
Status StreamPacket(DbSession* db, ProviderCursor* cursor, int packet_size,
                    RecordSink* sink, int read_batch = -1);

}  // namespace skjk::appserver

#endif  // SKJK_APPSERVER_RECORD_STREAM_H_
