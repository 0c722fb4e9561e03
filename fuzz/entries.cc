#include "fuzz/entries.h"

#include <cstdint>
#include <vector>

#include "appserver/dialect.h"
#include "exchange/invoice_file.h"
#include "server/document_set.h"
#include "server/protocol.h"
#include "settings/profile.h"
#include "settings/settings.h"

namespace skjk::fuzz {
namespace {

// Takes a length-prefixed piece (one byte of length) off the front of *data.
std::string_view Take(std::string_view* data) {
  if (data->empty()) return {};
  size_t n = static_cast<uint8_t>(data->front());
  data->remove_prefix(1);
  n = std::min(n, data->size());
  std::string_view piece = data->substr(0, n);
  data->remove_prefix(n);
  return piece;
}

// A layout to decode chunks against when the input brings none: every
// field type, one nested level.
const std::vector<FieldDef>& FixedLayout() {
  static const std::vector<FieldDef> layout = {
      {"DHAO00", FieldType::kNumber, 0, {}},
      {"BEIZHU", FieldType::kText, 40, {}},
      {"RIQI00", FieldType::kDateTime, 0, {}},
      {"qry_bbsk2",
       FieldType::kNested,
       0,
       {{"SPBH00", FieldType::kText, 20, {}},
        {"SHULIA", FieldType::kNumber, 0, {}}}},
  };
  return layout;
}

// Decodes a chunk into rows and, as a document set stores it on arrival,
// into a set expecting FixedLayout(): both must agree on what is well
// formed and on the number of records.
std::string DecodeRows(std::string_view payload,
                       const std::vector<FieldDef>& layout) {
  protocol::RowDecoder decoder;
  decoder.Limit(1u << 20);
  Rows rows;
  Status s = decoder.DecodeChunk(payload, layout, &rows);
  if (!s.ok() && !rows.empty()) return "a failed chunk left rows behind";
  if (rows.size() > payload.size()) return "more rows than payload bytes";

  bool layout_matched = false;
  DocumentSet set(
      "ClientDataSet1",
      [&](std::string_view, int, bool, const std::vector<std::string>&,
          RecordReceiver* receiver) {
        SKJK_RETURN_IF_ERROR(receiver->Layout(layout));
        layout_matched = true;
        return receiver->Chunk(payload);
      },
      "dsp_fuzz", Connection::kAllRecords, &FixedLayout(), "ClientDataSet2");
  set.set_memory_budget(std::make_shared<MemoryBudget>(size_t{64} << 20));
  Status stored = set.Open({"a", "b"});
  if (!layout_matched || decoder.exceeded()) return {};
  if (s.ok() != stored.ok()) {
    return "the set and the row decoder disagree on a chunk: " +
           (s.ok() ? stored.message() : s.message());
  }
  if (stored.ok() && static_cast<size_t>(set.RecordCount()) != rows.size()) {
    return "the set holds another number of records than were decoded";
  }
  return {};
}

}  // namespace

std::string ProtocolCodec(std::string_view data) {
  if (data.empty()) return {};
  uint8_t pick = static_cast<uint8_t>(data.front());
  std::string_view payload = data.substr(1);
  switch (pick % 13) {
    case 0: {
      if (payload.size() < protocol::kHeaderSize) return {};
      protocol::Header h;
      if (protocol::ParseHeader(payload.data(), protocol::kMaxRequestPayload,
                                &h)
              .ok() &&
          h.size > protocol::kMaxRequestPayload) {
        return "a header beyond the limit was accepted";
      }
      return {};
    }
    case 1: {
      protocol::Hello m;
      if (!protocol::DecodeHello(payload, &m).ok()) return {};
      if (protocol::EncodeHello(m) != payload)
        return "Hello does not round-trip";
      return {};
    }
    case 2: {
      protocol::GetRecords m, again;
      if (!protocol::DecodeGetRecords(payload, &m).ok()) return {};
      if (!protocol::DecodeGetRecords(protocol::EncodeGetRecords(m), &again)
               .ok() ||
          again.provider != m.provider || again.packet_size != m.packet_size ||
          again.with_layout != m.with_layout || again.params != m.params) {
        return "GetRecords does not round-trip";
      }
      return {};
    }
    case 3: {
      protocol::NextPacket m, again;
      if (!protocol::DecodeNextPacket(payload, &m).ok()) return {};
      if (!protocol::DecodeNextPacket(protocol::EncodeNextPacket(m), &again)
               .ok() ||
          again.provider != m.provider || again.packet_size != m.packet_size) {
        return "NextPacket does not round-trip";
      }
      return {};
    }
    case 4: {
      protocol::Execute m, again;
      if (!protocol::DecodeExecute(payload, &m).ok()) return {};
      if (!protocol::DecodeExecute(protocol::EncodeExecute(m), &again).ok() ||
          again.provider != m.provider || again.sql != m.sql) {
        return "Execute does not round-trip";
      }
      return {};
    }
    case 5: {
      protocol::Call m, again;
      if (!protocol::DecodeCall(payload, &m).ok()) return {};
      if (!protocol::DecodeCall(protocol::EncodeCall(m), &again).ok() ||
          again.method != m.method) {
        return "Call does not round-trip";
      }
      return {};
    }
    case 6: {
      uint16_t version;
      std::string server;
      (void)protocol::DecodeHelloOk(payload, &version, &server);
      return {};
    }
    case 7: {
      int64_t rows;
      if (protocol::DecodeOk(payload, &rows).ok() &&
          protocol::EncodeOk(rows) != payload) {
        return "Ok does not round-trip";
      }
      return {};
    }
    case 8: {
      std::string message;
      (void)protocol::DecodeError(payload, &message);
      return {};
    }
    case 9: {
      uint64_t total;
      bool exhausted;
      (void)protocol::DecodeRecordsEnd(payload, &total, &exhausted);
      return {};
    }
    case 10: {
      std::vector<FieldDef> layout;
      (void)protocol::DecodeLayout(payload, &layout);
      return {};
    }
    case 11:
      return DecodeRows(payload, FixedLayout());
    default: {
      // A layout of the input's own, then a chunk against it.
      std::string_view rest = payload;
      std::string_view layout_bytes = Take(&rest);
      std::vector<FieldDef> layout;
      if (!protocol::DecodeLayout(layout_bytes, &layout).ok()) return {};
      return DecodeRows(rest, layout);
    }
  }
}

std::string SettingsParser(std::string_view data) {
  std::string_view section = Take(&data);
  std::string_view key = Take(&data);
  std::string_view value = Take(&data);
  std::string content(data);
  (void)ParseFlag(value);
  std::string read = GetProfileValue(content, section, key);
  if (read.size() > kMaxProfileValue) return "a value read beyond the limit";

  // A value of plain letters and digits (nothing trimmed or unquoted) that
  // the entry check accepts reads back as written, and writing it again
  // changes nothing.
  for (char c : value) {
    bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                 (c >= 'a' && c <= 'z');
    if (!plain) return {};
  }
  if (!CheckProfileEntry(section, key, value).ok()) return {};
  SetProfileValue(&content, section, key, value);
  if (GetProfileValue(content, section, key) != value) {
    return "a value written does not read back";
  }
  if (SetProfileValue(&content, section, key, value)) {
    return "writing the value it holds changed the profile";
  }
  return {};
}

std::string DialectAdaptation(std::string_view data) {
  (void)appserver::AdaptUpdateAlias(data);
  return {};
}

std::string ImportLineSplitter(std::string_view data) {
  std::vector<exchange::FileLine> lines = exchange::SplitFileLines(data);
  int previous = 0;
  for (const exchange::FileLine& line : lines) {
    if (line.file_line <= previous) return "line numbers do not grow";
    previous = line.file_line;
    if (line.text.data() < data.data() ||
        line.text.data() + line.text.size() > data.data() + data.size()) {
      return "a line lies outside the file's bytes";
    }
    for (const std::string& field : exchange::SplitFields(line.text)) {
      if (field.size() > line.text.size())
        return "a field longer than its line";
      (void)exchange::ParseWholeNumber(field);
      (void)exchange::ParseFileDay(field);
    }
  }
  return {};
}

}  // namespace skjk::fuzz
