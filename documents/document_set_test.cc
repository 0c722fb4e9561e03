#include "documents/document_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "testing/packet_source.h"
#include "testing/row_encoder.h"
#include "text/gbk.h"
#include "wire/layouts.h"
#include "wire/protocol.h"

namespace skjk {
namespace {

using ::testing::ElementsAre;
using text::literals::operator""_gbk;

// A record of `layout` with every field filled: texts "t<doc>", numbers and
// dates = doc, the nested field with `lines` lines of `line_layout`.
Row MakeRow(const layouts::Layout& layout, int doc, int lines) {
  Row row;
  for (const FieldDef& f : layout) {
    switch (f.type) {
      case FieldType::kText:
        row.values.emplace_back("t" + std::to_string(doc));
        break;
      case FieldType::kNumber:
      case FieldType::kDateTime:
        row.values.emplace_back(static_cast<double>(doc));
        break;
      case FieldType::kNested: {
        Rows nested;
        for (int l = 0; l < lines; ++l) {
          nested.push_back(MakeRow(f.nested, doc * 100 + l, 0));
        }
        row.values.emplace_back(std::move(nested));
        break;
      }
    }
  }
  return row;
}

// Stands in for the application server's get-records at the unit level:
// serves a fixed list of records per provider in packets and counts
// requests.
class FakeServer {
 public:
  explicit FakeServer(const layouts::Layout& layout) : layout_(layout) {}

  void AddDocuments(int count, int lines = 2) {
    for (int i = 0; i < count; ++i) {
      rows_.push_back(
          MakeRow(layout_, static_cast<int>(rows_.size()) + 1, lines));
    }
  }
  Rows& rows() { return rows_; }
  layouts::Layout& layout() { return layout_; }
  void Fail(std::string message) { error_ = std::move(message); }
  // Sends the layout along with every packet, also when not asked for it.
  void SendLayoutAlways() { layout_always_ = true; }

  testing::GetRecordsFn Fn() {
    return [this](std::string_view provider, int packet_size, bool with_layout,
                  const std::vector<std::string>& params, Packet* packet) {
      ++requests;
      last_provider = std::string(provider);
      last_packet_size = packet_size;
      last_with_layout = with_layout;
      last_params = params;
      if (!error_.empty()) return Status::Error(error_);
      if (!params.empty() || with_layout) position_ = 0;
      if (with_layout || layout_always_) packet->layout = layout_;
      size_t n = rows_.size() - position_;
      if (packet_size != Connection::kAllRecords) {
        n = std::min(n, static_cast<size_t>(packet_size));
      }
      packet->rows.assign(rows_.begin() + position_,
                          rows_.begin() + position_ + n);
      position_ += n;
      return Status::OK();
    };
  }

  // Fn() as a set takes it: the whole packet at once.
  DocumentSet::ReceiveRecordsFn Packets() { return testing::FromPackets(Fn()); }

  // The same records as the connection delivers them: the layout, then
  // chunks of `chunk_rows` records encoded as they travel (UTF-8 texts).
  DocumentSet::ReceiveRecordsFn Streamed(size_t chunk_rows = 3) {
    return [this, chunk_rows, fn = Fn()](std::string_view provider,
                                         int packet_size, bool with_layout,
                                         const std::vector<std::string>& params,
                                         RecordReceiver* receiver) -> Status {
      Packet packet;
      SKJK_RETURN_IF_ERROR(
          fn(provider, packet_size, with_layout, params, &packet));
      std::vector<FieldDef> layout = layout_;
      SKJK_RETURN_IF_ERROR(receiver->Layout(std::move(layout)));
      for (size_t first = 0; first < packet.rows.size(); first += chunk_rows) {
        const size_t n = std::min(chunk_rows, packet.rows.size() - first);
        std::string payload;
        protocol::Writer w(&payload);
        w.Varint(n);
        for (size_t i = first; i < first + n; ++i) {
          testing::EncodeRow(layout_, Utf8Row(packet.rows[i]), &w);
        }
        SKJK_RETURN_IF_ERROR(receiver->Chunk(payload));
      }
      return Status::OK();
    };
  }

  static Row Utf8Row(const Row& row) {
    Row out;
    for (const Value& v : row.values) {
      if (const auto* s = std::get_if<std::string>(&v)) {
        out.values.emplace_back(text::GbkToUtf8(*s));
      } else if (const auto* nested = std::get_if<Rows>(&v)) {
        Rows lines;
        for (const Row& line : *nested) lines.push_back(Utf8Row(line));
        out.values.emplace_back(std::move(lines));
      } else {
        out.values.push_back(v);
      }
    }
    return out;
  }

  int requests = 0;
  std::string last_provider;
  int last_packet_size = 0;
  bool last_with_layout = false;
  std::vector<std::string> last_params;

 private:
  layouts::Layout layout_;
  Rows rows_;
  size_t position_ = 0;
  std::string error_;
  bool layout_always_ = false;
};

const layouts::Layout& BbskSales() {
  return *layouts::ProviderLayout("dsp_bbsk1");
}

class DocumentSetTest : public ::testing::Test {
 protected:
  DocumentSetTest()
      : server_(BbskSales()),
        set_("ClientDataSet1", server_.Packets(), "dsp_bbsk1",
             Connection::kAllRecords, &BbskSales(), "ClientDataSet2") {}

  Status OpenRange() { return set_.Open({"2002-05-01", "2002-08-01"}); }

  FakeServer server_;
  DocumentSet set_;
};

TEST_F(DocumentSetTest, OpenSendsOneRequestAndStandsOnFirstRecord) {
  server_.AddDocuments(3);
  ASSERT_TRUE(OpenRange().ok());
  EXPECT_EQ(server_.requests, 1);
  EXPECT_EQ(server_.last_provider, "dsp_bbsk1");
  EXPECT_EQ(server_.last_packet_size, Connection::kAllRecords);
  EXPECT_TRUE(server_.last_with_layout);
  EXPECT_THAT(server_.last_params, ElementsAre("2002-05-01", "2002-08-01"));
  EXPECT_TRUE(set_.active());
  EXPECT_EQ(set_.RecordCount(), 3);
  EXPECT_EQ(set_.RecNo(), 0);
  EXPECT_FALSE(set_.Eof());
  EXPECT_EQ(*set_.AsFloat("DHAO00"), 1);
}

TEST_F(DocumentSetTest, EmptyResultOpensWithNoRecordsAndEmptyDetail) {
  ASSERT_TRUE(OpenRange().ok());
  EXPECT_TRUE(set_.active());
  EXPECT_EQ(set_.RecordCount(), 0);
  EXPECT_TRUE(set_.Eof());
  EXPECT_EQ(set_.RecNo(), -1);
  EXPECT_TRUE(set_.detail()->active());
  EXPECT_EQ(set_.detail()->RecordCount(), 0);
  EXPECT_TRUE(set_.detail()->Eof());
  // Field access on no record: empty values, not an error.
  EXPECT_EQ(*set_.AsString("DWMC00"), "");
  EXPECT_EQ(*set_.AsFloat("ZZSL00"), 0);
}

TEST_F(DocumentSetTest, LayoutCheckRefusesAndLeavesSetClosed) {
  struct Case {
    const char* label;
    void (*damage)(layouts::Layout*);
    const char* message;
  };
  const Case cases[] = {
      {"missing master field",
       [](layouts::Layout* l) { l->erase(l->begin() + 24); },  // SWDJH0
       "Field 'SWDJH0' not found"},
      {"number delivered as text",
       [](layouts::Layout* l) { (*l)[1].type = FieldType::kText; },
       "Type mismatch for field 'DHAO00', expecting: Float actual: String"},
      {"date delivered as number",
       [](layouts::Layout* l) { (*l)[2].type = FieldType::kNumber; },
       "Type mismatch for field 'YWRQ00', expecting: DateTime actual: Float"},
      {"nested delivered as text",
       [](layouts::Layout* l) { l->back().type = FieldType::kText; },
       "Type mismatch for field 'qry_bbsk2', expecting: DataSet actual: "
       "String"},
      {"nested field under another name",
       [](layouts::Layout* l) { l->back().name = "qry_bbsk4"; },
       "Field 'qry_bbsk2' not found"},
      {"missing line field",
       [](layouts::Layout* l) {
         auto& lines = l->back().nested;
         lines.erase(lines.begin() + 5);  // SPMC00
       },
       "Field 'SPMC00' not found"},
      {"line number delivered as text",
       [](layouts::Layout* l) {
         l->back().nested[3].type = FieldType::kText;  // SL0000
       },
       "Type mismatch for field 'SL0000', expecting: Float actual: String"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeServer server(BbskSales());
    server.AddDocuments(2);
    DocumentSet set("ClientDataSet1", server.Packets(), "dsp_bbsk1",
                    Connection::kAllRecords, &BbskSales(), "ClientDataSet2");
    ASSERT_TRUE(set.Open({"a", "b"}).ok());  // was open with records
    c.damage(&server.layout());
    Status s = set.Open({"a", "b"});
    EXPECT_EQ(s.message(), c.message);
    EXPECT_FALSE(set.active());
    EXPECT_EQ(set.RecordCount(), 0);
    EXPECT_FALSE(set.detail()->active());
    EXPECT_EQ(set.detail()->RecordCount(), 0);
  }
}

TEST_F(DocumentSetTest, LayoutMatchedByNameInAnyCaseAndOrder) {
  // The server sends the fields reversed, in lower case, with one extra.
  layouts::Layout& l = server_.layout();
  std::reverse(l.begin(), l.end());
  for (FieldDef& f : l) {
    std::transform(f.name.begin(), f.name.end(), f.name.begin(), ::tolower);
  }
  l.push_back({"EXTRA0", FieldType::kText, 5, {}});
  Row row = MakeRow(BbskSales(), 7, 1);
  std::reverse(row.values.begin(), row.values.end());
  row.values.emplace_back(std::string("x"));
  server_.rows().push_back(row);
  ASSERT_TRUE(OpenRange().ok());
  EXPECT_EQ(*set_.AsFloat("DHAO00"), 7);
  EXPECT_EQ(*set_.AsString("gsdw00"), "t7");
  EXPECT_EQ(set_.FieldCount(), 35);
  EXPECT_EQ(set_.FieldIndex("EXTRA0"), -1);
  EXPECT_EQ(set_.detail()->RecordCount(), 1);
  EXPECT_EQ(*set_.detail()->AsFloat("DHAO00"), 700);
}

TEST_F(DocumentSetTest, RecordNotMatchingLayoutIsRefused) {
  server_.AddDocuments(2);
  server_.rows()[1].values[1] = std::string("12");  // DHAO00 as a text
  EXPECT_EQ(OpenRange().message(),
            "Type mismatch for field 'DHAO00', expecting: Float actual: "
            "String");
  EXPECT_FALSE(set_.active());

  server_.rows()[1] = MakeRow(BbskSales(), 2, 1);
  server_.rows()[1].values.pop_back();
  EXPECT_FALSE(OpenRange().ok());
  EXPECT_FALSE(set_.active());

  server_.rows()[1] = MakeRow(BbskSales(), 2, 1);
  std::get<Rows>(server_.rows()[1].values.back())[0].values[0] =
      std::string("x");
  EXPECT_FALSE(OpenRange().ok());
  EXPECT_FALSE(set_.active());
}

TEST_F(DocumentSetTest, ServerErrorPassesThroughAndSetStaysClosed) {
  server_.AddDocuments(2);
  ASSERT_TRUE(OpenRange().ok());
  server_.Fail("connection refused");
  EXPECT_EQ(OpenRange().message(), "connection refused");
  EXPECT_FALSE(set_.active());
  EXPECT_EQ(set_.RecordCount(), 0);
  EXPECT_EQ(set_.AsString("DWMC00").status().message(),
            "ClientDataSet1: Cannot perform this operation on a closed "
            "dataset");
}

TEST_F(DocumentSetTest, TextsAreCutToWidthNeverInsideACharacter) {
  struct Case {
    const char* field;  // width
    std::string delivered;
    std::string kept;
  };
  const std::string name50 = std::string(49, 'a') + "单"_gbk;  // 51 bytes
  const Case cases[] = {
      {"CKDM00", "12", "12"},                    // 2: exact width
      {"CKDM00", "123", "12"},                   // 2: ASCII cut
      {"CKDM00", "单"_gbk, "单"_gbk},            // 2: one character
      {"DWXZ00", "单"_gbk, ""},                  // 1: would split it
      {"XSFSDM", "a单位"_gbk, "a单"_gbk},        // 4: 5 bytes -> 3
      {"DWMC00", name50, std::string(49, 'a')},  // 50
      {"FPBBH0", std::string(12, '9'), std::string(11, '9')},  // 11
  };
  for (const Case& c : cases) {
    server_.AddDocuments(1);
    int field = set_.FieldIndex(c.field);
    ASSERT_GE(field, 0);
    server_.rows().back().values[field] = c.delivered;
  }
  ASSERT_TRUE(OpenRange().ok());
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].field + std::string(" #") + std::to_string(i));
    EXPECT_EQ(std::get<std::string_view>(set_.Cell(
                  static_cast<int>(i), set_.FieldIndex(cases[i].field))),
              cases[i].kept);
  }
}

TEST_F(DocumentSetTest, LineTextsAreCutToTheirWidth) {
  server_.AddDocuments(1);
  Rows& lines = std::get<Rows>(server_.rows()[0].values.back());
  lines[0].values[1] = "卷烟一"_gbk;          // SPDM00 text 8: 6 bytes kept
  lines[0].values[5] = std::string(31, 'x');  // SPMC00 text 30
  ASSERT_TRUE(OpenRange().ok());
  EXPECT_EQ(*set_.detail()->AsString("SPDM00"), "卷烟一"_gbk);
  EXPECT_EQ(set_.detail()->AsString("SPMC00")->size(), 30u);
}

TEST_F(DocumentSetTest, EofIsSetOnlyByMovingPastTheLastRecord) {
  server_.AddDocuments(3);
  ASSERT_TRUE(OpenRange().ok());
  std::vector<double> seen;
  for (set_.First(); !set_.Eof(); set_.Next())
    seen.push_back(*set_.AsFloat("DHAO00"));
  EXPECT_THAT(seen, ElementsAre(1, 2, 3));
  // At Eof the cursor still stands on the last record.
  EXPECT_EQ(set_.RecNo(), 2);
  EXPECT_EQ(*set_.AsFloat("DHAO00"), 3);
  set_.Next();
  EXPECT_TRUE(set_.Eof());
  EXPECT_EQ(set_.RecNo(), 2);
  set_.MoveTo(1);
  EXPECT_FALSE(set_.Eof());
  EXPECT_EQ(*set_.AsFloat("DHAO00"), 2);
  set_.MoveTo(2);  // on the last record, not past it
  EXPECT_FALSE(set_.Eof());
  set_.MoveTo(99);  // clamped
  EXPECT_EQ(set_.RecNo(), 2);
  set_.First();
  EXPECT_EQ(set_.RecNo(), 0);
  EXPECT_FALSE(set_.Eof());
}

TEST_F(DocumentSetTest, FieldAccessByNameInAnyCase) {
  server_.AddDocuments(1);
  ASSERT_TRUE(OpenRange().ok());
  EXPECT_EQ(set_.FieldIndex("dwmc00"), set_.FieldIndex("DWMC00"));
  EXPECT_EQ(set_.FieldIndex("Qry_BBSK2"), 34);
  EXPECT_EQ(set_.FieldIndex("KHDM00"), -1);
  EXPECT_EQ(*set_.AsString("dWmC00"), "t1");
  EXPECT_EQ(set_.AsString("KHDM00").status().message(),
            "Field 'KHDM00' not found");
  EXPECT_EQ(set_.AsFloat("nosuch").status().message(),
            "Field 'nosuch' not found");
  EXPECT_EQ(set_.detail()->AsString("SE0000").status().message(),
            "Field 'SE0000' not found");
}

TEST_F(DocumentSetTest, ValuesAsTextAndNumbers) {
  server_.AddDocuments(1);
  Row& r = server_.rows()[0];
  auto at = [&](const char* name) -> Value& {
    return r.values[set_.FieldIndex(name)];
  };
  at("DHAO00") = 20020823.0;
  at("ZZSL00") = 17.5;
  at("SLHJ00") = -0.0;
  at("JEHJ00") = 1234.56;
  at("YWRQ00") = 36526.0;  // 2000-01-01
  at("CKRQ00") = 37491.5;  // 2002-08-23 12:00
  at("CWRQ00") = Value();
  at("PZNY00") = std::string(" 42.5 ");
  at("FKDM00") = std::string("x1");
  ASSERT_TRUE(OpenRange().ok());
  EXPECT_EQ(*set_.AsString("DHAO00"), "20020823");
  EXPECT_EQ(*set_.AsInteger("DHAO00"), 20020823);
  EXPECT_EQ(*set_.AsString("ZZSL00"), "17.5");
  EXPECT_EQ(*set_.AsInteger("ZZSL00"), 18);
  EXPECT_EQ(*set_.AsString("SLHJ00"), "0");
  EXPECT_EQ(*set_.AsString("JEHJ00"), "1234.56");
  EXPECT_EQ(*set_.AsString("YWRQ00"), "2000-01-01");
  EXPECT_EQ(*set_.AsDateTime("YWRQ00"), 36526.0);
  EXPECT_EQ(*set_.AsString("CKRQ00"), "2002-08-23 12:00:00");
  EXPECT_EQ(*set_.AsString("CWRQ00"), "");
  EXPECT_TRUE(*set_.IsNull("CWRQ00"));
  EXPECT_FALSE(*set_.IsNull("YWRQ00"));
  EXPECT_EQ(*set_.AsDateTime("CWRQ00"), 0);
  EXPECT_EQ(*set_.AsFloat("PZNY00"), 42.5);
  EXPECT_EQ(set_.AsFloat("FKDM00").status().message(),
            "'x1' is not a valid floating point value");
  EXPECT_EQ(*set_.AsString("qry_bbsk2"), "(DataSet)");
  EXPECT_FALSE(set_.AsFloat("qry_bbsk2").ok());
}

TEST_F(DocumentSetTest, DetailFollowsEveryMasterMove) {
  server_.AddDocuments(1, 2);
  server_.AddDocuments(1, 0);  // a document without lines
  server_.AddDocuments(1, 3);
  std::get<Rows>(server_.rows()[1].values.back()).clear();
  server_.rows()[2].values.back() = Value();  // lines missing altogether
  server_.AddDocuments(1, 1);
  ASSERT_TRUE(OpenRange().ok());
  DetailSet& lines = *set_.detail();
  EXPECT_EQ(lines.name(), "ClientDataSet2");
  EXPECT_EQ(lines.line_field(), "qry_bbsk2");

  std::vector<int> counts;
  for (set_.First(); !set_.Eof(); set_.Next()) {
    counts.push_back(lines.RecordCount());
    EXPECT_EQ(lines.RecNo(), lines.RecordCount() ? 0 : -1);
  }
  EXPECT_THAT(counts, ElementsAre(2, 0, 0, 1));

  set_.MoveTo(0);
  lines.Next();
  EXPECT_EQ(*lines.AsFloat("DHAO00"), 101);
  set_.MoveTo(1);
  EXPECT_TRUE(lines.Eof());
  EXPECT_EQ(*lines.AsString("SPMC00"), "");
  set_.MoveTo(0);  // back on the first line of the document
  EXPECT_EQ(*lines.AsFloat("DHAO00"), 100);
  EXPECT_EQ(lines.CellText(1, lines.FieldIndex("DHAO00")), "101");

  set_.Close();
  EXPECT_FALSE(lines.active());
  EXPECT_EQ(lines.RecordCount(), 0);
  EXPECT_FALSE(lines.AsString("SPMC00").ok());
}

// A set of packets of 10, as ClientDataSet5 of the visit-sales window.
class PacketSetTest : public ::testing::Test {
 protected:
  PacketSetTest()
      : layout_(layouts::ProviderLayout("dsp_fxsk3")),
        server_(*layout_),
        set_("ClientDataSet5", server_.Packets(), "dsp_fxsk3", 10, layout_,
             "ClientDataSet6") {}

  const layouts::Layout* layout_;
  FakeServer server_;
  DocumentSet set_;
};

TEST_F(PacketSetTest, TwentyFiveDocumentsArriveAsTenTenFive) {
  server_.AddDocuments(25);
  ASSERT_TRUE(set_.Open({"2002-05-01", "2002-08-05"}).ok());
  EXPECT_EQ(set_.RecordCount(), 10);
  EXPECT_EQ(server_.last_packet_size, 10);
  EXPECT_FALSE(set_.exhausted());

  EXPECT_EQ(*set_.NextPacket(), 10);
  EXPECT_FALSE(server_.last_with_layout);
  EXPECT_TRUE(server_.last_params.empty());
  EXPECT_EQ(*set_.NextPacket(), 5);
  EXPECT_TRUE(set_.exhausted());
  EXPECT_EQ(set_.RecordCount(), 25);
  EXPECT_EQ(server_.requests, 3);
  EXPECT_EQ(*set_.NextPacket(), 0);
  EXPECT_EQ(*set_.NextPacket(), 0);
  EXPECT_EQ(server_.requests, 3);

  std::vector<double> numbers;
  for (set_.First(); !set_.Eof(); set_.Next()) {
    numbers.push_back(*set_.AsFloat("DHAO00"));
  }
  ASSERT_EQ(numbers.size(), 25u);
  EXPECT_EQ(numbers.front(), 1);
  EXPECT_EQ(numbers.back(), 25);
}

TEST_F(PacketSetTest, ExactlyTwentyNeedsAnEmptyRequestToKnow) {
  server_.AddDocuments(20);
  ASSERT_TRUE(set_.Open({"a", "b"}).ok());
  EXPECT_EQ(*set_.NextPacket(), 10);
  EXPECT_FALSE(set_.exhausted());
  EXPECT_EQ(*set_.NextPacket(), 0);
  EXPECT_EQ(server_.requests, 3);
  EXPECT_TRUE(set_.exhausted());
  EXPECT_EQ(*set_.NextPacket(), 0);
  EXPECT_EQ(server_.requests, 3);
  EXPECT_EQ(set_.RecordCount(), 20);
}

TEST_F(PacketSetTest, ReopeningStartsOverAndFewerThanAPacketIsExhausted) {
  server_.AddDocuments(4);
  ASSERT_TRUE(set_.Open({"a", "b"}).ok());
  EXPECT_TRUE(set_.exhausted());
  EXPECT_EQ(*set_.NextPacket(), 0);
  EXPECT_EQ(server_.requests, 1);
  server_.AddDocuments(10);
  ASSERT_TRUE(set_.Open({"a", "b"}).ok());
  EXPECT_FALSE(set_.exhausted());
  EXPECT_EQ(set_.RecordCount(), 10);
}

TEST_F(PacketSetTest, NextPacketKeepsPositionAndClearsEof) {
  server_.AddDocuments(15);
  ASSERT_TRUE(set_.Open({"a", "b"}).ok());
  set_.MoveTo(9);
  set_.Next();
  ASSERT_TRUE(set_.Eof());
  EXPECT_EQ(*set_.NextPacket(), 5);
  EXPECT_EQ(set_.RecNo(), 9);
  EXPECT_FALSE(set_.Eof());
  set_.Next();
  EXPECT_EQ(*set_.AsFloat("DHAO00"), 11);
}

TEST_F(PacketSetTest, FailedNextPacketKeepsRecordsAndCanBeRetried) {
  server_.AddDocuments(15);
  ASSERT_TRUE(set_.Open({"a", "b"}).ok());
  server_.Fail("server gone");
  EXPECT_EQ(set_.NextPacket().status().message(), "server gone");
  EXPECT_TRUE(set_.active());
  EXPECT_EQ(set_.RecordCount(), 10);
  EXPECT_FALSE(set_.exhausted());
  server_.Fail("");
  EXPECT_EQ(*set_.NextPacket(), 5);
}

TEST_F(PacketSetTest, NextPacketWithAnotherLayoutIsRefused) {
  // Each change keeps every value's type where the first packet's layout
  // expects it: only the comparison of the layouts can tell.
  using Change = void (*)(layouts::Layout*, Rows*);
  struct Case {
    const char* label;
    Change change;
    const char* message;  // nullptr: accepted
  };
  const char* const kChanged = "dsp_fxsk3: the layout changed between packets";
  const Case cases[] = {
      {"the same layout sent along", [](layouts::Layout*, Rows*) {}, nullptr},
      {"two master texts swapped",
       [](layouts::Layout* l, Rows* rows) {
         std::swap((*l)[6], (*l)[7]);  // DWMC00, DZ0000
         for (Row& r : *rows) std::swap(r.values[6], r.values[7]);
       },
       kChanged},
      {"two line numbers swapped",
       [](layouts::Layout* l, Rows* rows) {
         auto& lines = l->back().nested;
         std::swap(lines[3], lines[4]);  // SL0000, JE0000
         for (Row& r : *rows) {
           for (Row& line : std::get<Rows>(r.values.back())) {
             std::swap(line.values[3], line.values[4]);
           }
         }
       },
       kChanged},
      {"master field added",
       [](layouts::Layout* l, Rows* rows) {
         l->push_back({"EXTRA0", FieldType::kText, 5, {}});
         for (Row& r : *rows) r.values.emplace_back(std::string("x"));
       },
       kChanged},
      {"line field added",
       [](layouts::Layout* l, Rows* rows) {
         l->back().nested.push_back({"EXTRA0", FieldType::kText, 5, {}});
         for (Row& r : *rows) {
           for (Row& line : std::get<Rows>(r.values.back())) {
             line.values.emplace_back(std::string("x"));
           }
         }
       },
       kChanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeServer server(*layout_);
    server.AddDocuments(15);
    server.SendLayoutAlways();
    DocumentSet set("ClientDataSet5", server.Packets(), "dsp_fxsk3", 10,
                    layout_, "ClientDataSet6");
    ASSERT_TRUE(set.Open({"a", "b"}).ok());
    c.change(&server.layout(), &server.rows());
    Result<int> next = set.NextPacket();
    if (c.message == nullptr) {
      ASSERT_TRUE(next.ok()) << next.status().message();
      EXPECT_EQ(*next, 5);
      continue;
    }
    EXPECT_EQ(next.status().message(), c.message);
    // Refused as a failed request: the set is as it was.
    EXPECT_TRUE(set.active());
    EXPECT_EQ(set.RecordCount(), 10);
    EXPECT_FALSE(set.exhausted());
  }
}

TEST_F(PacketSetTest, ScrollStepFetchesFromInsideAfterScroll) {
  // The visit-sales scroll step: moving past the end fetches the next packet.
  server_.AddDocuments(25);
  std::vector<int> shown;
  set_.set_after_scroll([&](RecordSet& s) {
    if (!s.Eof()) return;
    ASSERT_TRUE(set_.NextPacket().ok());
    shown.push_back(set_.RecordCount());
  });
  ASSERT_TRUE(set_.Open({"a", "b"}).ok());
  for (int i = 0; i < 40; ++i) set_.Next();
  // Every further attempt past the end asks nothing and still shows 25.
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[0], 20);
  EXPECT_EQ(shown[1], 25);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), 25),
            static_cast<long>(shown.size()) - 1);
  EXPECT_EQ(server_.requests, 3);
  EXPECT_EQ(set_.RecNo(), 24);
}

TEST(DocumentSetAllRecords, NextPacketNeverAsks) {
  FakeServer server(BbskSales());
  server.AddDocuments(10);
  // Even when "all records" happens to equal the packet size of others.
  DocumentSet set("ClientDataSet1", server.Packets(), "dsp_bbsk1",
                  Connection::kAllRecords, &BbskSales());
  EXPECT_FALSE(set.NextPacket().ok());  // closed
  ASSERT_TRUE(set.Open({"a", "b"}).ok());
  EXPECT_TRUE(set.exhausted());
  EXPECT_EQ(*set.NextPacket(), 0);
  EXPECT_EQ(server.requests, 1);
}

class RecordingObserver : public RecordSetObserver {
 public:
  void DataChanged() override { events.push_back("data"); }
  void CursorMoved() override { events.push_back("cursor"); }
  std::vector<std::string> events;
};

TEST_F(DocumentSetTest, ObserversAreHeldBackWhileControlsAreDisabled) {
  server_.AddDocuments(3);
  RecordingObserver grid, lines;
  set_.AddObserver(&grid);
  set_.detail()->AddObserver(&lines);
  int opened = 0;
  set_.set_after_open([&](DocumentSet& s) { opened = s.RecordCount(); });

  ASSERT_TRUE(OpenRange().ok());
  EXPECT_EQ(opened, 3);
  EXPECT_THAT(grid.events, ElementsAre("data"));
  EXPECT_THAT(lines.events, ElementsAre("data"));

  grid.events.clear();
  lines.events.clear();
  set_.Next();
  EXPECT_THAT(grid.events, ElementsAre("cursor"));
  EXPECT_THAT(lines.events, ElementsAre("data"));

  // A walk with the display suspended (nested): nothing until the end,
  // then one call each. The detail still follows meanwhile.
  grid.events.clear();
  lines.events.clear();
  set_.DisableControls();
  set_.DisableControls();
  for (set_.First(); !set_.Eof(); set_.Next()) {
    EXPECT_EQ(set_.detail()->RecordCount(), 2);
  }
  set_.EnableControls();
  EXPECT_TRUE(grid.events.empty());
  set_.EnableControls();
  EXPECT_THAT(grid.events, ElementsAre("cursor"));
  EXPECT_THAT(lines.events, ElementsAre("data"));

  // A data change during suspension is reported as such.
  grid.events.clear();
  set_.DisableControls();
  set_.Next();
  ASSERT_TRUE(OpenRange().ok());
  set_.EnableControls();
  EXPECT_THAT(grid.events, ElementsAre("data"));

  set_.EnableControls();  // unbalanced: ignored
  set_.RemoveObserver(&grid);
  set_.Close();
  EXPECT_THAT(grid.events, ElementsAre("data"));
}

TEST_F(DocumentSetTest, FilterLimitsCountsWalksAndLaterPackets) {
  FakeServer server(*layouts::ProviderLayout("dsp_jqsk3"));
  server.AddDocuments(25);
  DocumentSet set("ClientDataSet5", server.Packets(), "dsp_jqsk3", 10,
                  layouts::ProviderLayout("dsp_jqsk3"), "ClientDataSet6");
  ASSERT_TRUE(set.Open({"a", "b"}).ok());
  const int dhao = set.FieldIndex("DHAO00");
  set.SetFilter([dhao](const DocumentSet& s, int record) {
    return static_cast<int>(std::get<double>(s.RawValue(record, dhao))) % 2 ==
           0;
  });
  EXPECT_TRUE(set.filtered());
  EXPECT_EQ(set.RecordCount(), 5);
  EXPECT_EQ(*set.AsFloat("DHAO00"), 2);
  EXPECT_EQ(set.detail()->RecordCount(), 2);
  EXPECT_EQ(*set.detail()->AsFloat("DHAO00"), 200);
  EXPECT_EQ(*set.NextPacket(), 10);
  EXPECT_EQ(set.RecordCount(), 10);
  std::vector<double> seen;
  for (set.First(); !set.Eof(); set.Next())
    seen.push_back(*set.AsFloat("DHAO00"));
  EXPECT_EQ(seen.back(), 20);
  EXPECT_EQ(set.CellText(9, dhao), "20");
  set.SetFilter(nullptr);
  EXPECT_EQ(set.RecordCount(), 20);
}

}  // namespace
}  // namespace skjk

namespace skjk {
namespace {

// Every cell of a set and of its documents' lines, with the kind of value.
std::vector<std::string> AllCells(DocumentSet& set) {
  std::vector<std::string> cells;
  auto add = [&](const RecordSet& s, int record) {
    for (int f = 0; f < s.FieldCount(); ++f) {
      const CellValue v = s.Cell(record, f);
      cells.push_back(std::to_string(v.index()) + ":" +
                      FormatValue(s.fields()[f].type, v));
    }
  };
  for (set.First(); !set.Eof(); set.Next()) {
    add(set, set.RecNo());
    cells.push_back("lines " + std::to_string(set.detail()->RecordCount()));
    for (int l = 0; l < set.detail()->RecordCount(); ++l) {
      add(*set.detail(), l);
    }
  }
  return cells;
}

// Records as they travel are stored exactly as the same records decoded
// first: fields found by name in another order, extra fields (a nested one
// among them) skipped, texts cut to width, empty values, empty texts,
// documents without lines and with an empty nested value.
TEST(DocumentSetStreamTest, ChunksAsTheyTravelGiveTheSameRecords) {
  layouts::Layout delivered = BbskSales();
  std::reverse(delivered.begin(), delivered.end());
  delivered.push_back({"EXTRA0", FieldType::kText, 5, {}});
  delivered.push_back(
      {"qry_more",
       FieldType::kNested,
       0,
       {{"X", FieldType::kNumber, 0, {}}, {"Y", FieldType::kText, 4, {}}}});
  FakeServer server(delivered);
  server.AddDocuments(7, 3);
  Rows& rows = server.rows();
  const int name = 17;  // DWMC00 (text 50) in the reversed layout
  ASSERT_EQ(delivered[name].name, "DWMC00");
  rows[0].values[name] = std::string(49, 'a') + "单位"_gbk;  // cut to 49
  rows[1].values[name] = std::string();
  rows[2].values[name] = std::monostate();
  rows[3].values[1] = std::monostate();  // SJDHAO, a number
  rows[4].values[0] = Rows();            // nested: no lines
  rows[5].values[0] = std::monostate();  // nested: empty value
  rows[6].values.back() = Rows{Row{{1.0, std::string("abc")}}};

  DocumentSet decoded("ClientDataSet1", server.Packets(), "dsp_bbsk1",
                      Connection::kAllRecords, &BbskSales(), "ClientDataSet2");
  ASSERT_TRUE(decoded.Open({"a", "b"}).ok());
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{100}}) {
    SCOPED_TRACE(chunk);
    DocumentSet streamed("ClientDataSet1", server.Streamed(chunk), "dsp_bbsk1",
                         Connection::kAllRecords, &BbskSales(),
                         "ClientDataSet2");
    ASSERT_TRUE(streamed.Open({"a", "b"}).ok());
    EXPECT_EQ(AllCells(streamed), AllCells(decoded));
  }
  decoded.MoveTo(0);
  EXPECT_EQ(decoded.AsString("DWMC00").value(), std::string(49, 'a'));
}

// Texts as they travel (UTF-8 on the wire) are stored in GBK cut to their
// field's width, never inside a two-byte character; in documents and in
// their lines alike, whatever the chunks.
TEST(DocumentSetStreamTest, TextsAsTheyTravelAreCutToTheirWidth) {
  struct Case {
    const char* field;  // (width); a line field when `line`
    bool line;
    std::string delivered;  // GBK
    std::string kept;
  };
  const std::string a48 = std::string(48, 'a');
  const std::string a49 = std::string(49, 'a');
  const Case cases[] = {
      {"DWMC00", false, a49 + "单位"_gbk, a49},             // 50: would split
      {"DWMC00", false, a48 + "单位"_gbk, a48 + "单"_gbk},  // 50: at a boundary
      {"DWMC00", false, a48 + "单"_gbk, a48 + "单"_gbk},    // 50: exact
      {"DWMC00", false, std::string(51, 'z'), std::string(50, 'z')},
      {"CKDM00", false, "12", "12"},              // 2: exact
      {"CKDM00", false, "123", "12"},             // 2
      {"CKDM00", false, "", ""},                  // 2: empty
      {"DWXZ00", false, "单"_gbk, ""},            // 1: would split
      {"XSFSDM", false, "a单位"_gbk, "a单"_gbk},  // 4: 5 bytes
      {"FPBBH0", false, std::string(12, '9'), std::string(11, '9')},  // 11
      {"SPDM00", true, "卷烟一"_gbk, "卷烟一"_gbk},        // 8: shorter
      {"SPDM00", true, "卷烟一二"_gbk, "卷烟一二"_gbk},    // 8: exact
      {"SPDM00", true, "卷烟一二三"_gbk, "卷烟一二"_gbk},  // 8: 10 bytes
      {"SPDM00", true, "a卷烟一二"_gbk, "a卷烟一"_gbk},    // 8: would split
      {"SPMC00", true, std::string(31, 'x'), std::string(30, 'x')},  // 30
  };
  const layouts::Layout& layout = BbskSales();
  auto index = [](const layouts::Layout& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].name == name) return i;
    }
    ADD_FAILURE() << "no field " << name;
    return size_t{0};
  };
  FakeServer server(layout);
  for (const Case& c : cases) {
    server.AddDocuments(1, 1);
    Row& row = server.rows().back();
    if (c.line) {
      std::get<Rows>(row.values.back())[0]
          .values[index(layout.back().nested, c.field)] = c.delivered;
    } else {
      row.values[index(layout, c.field)] = c.delivered;
    }
  }
  for (size_t chunk : {size_t{1}, size_t{4}, size_t{100}}) {
    SCOPED_TRACE("chunks of " + std::to_string(chunk));
    DocumentSet set("ClientDataSet1", server.Streamed(chunk), "dsp_bbsk1",
                    Connection::kAllRecords, &layout, "ClientDataSet2");
    ASSERT_TRUE(set.Open({"a", "b"}).ok());
    ASSERT_EQ(set.RecordCount(), static_cast<int>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(c.field + std::string(" #") + std::to_string(i));
      set.MoveTo(static_cast<int>(i));
      const RecordSet& from =
          c.line ? static_cast<const RecordSet&>(*set.detail()) : set;
      if (c.line) {
        ASSERT_EQ(from.RecordCount(), 1);
      }
      const int record = c.line ? 0 : static_cast<int>(i);
      EXPECT_EQ(std::get<std::string_view>(
                    from.Cell(record, from.FieldIndex(c.field))),
                c.kept);
    }
  }
}

TEST(DocumentSetStreamTest, MalformedChunkEndsTheLoadAndTheSetStaysClosed) {
  struct Case {
    const char* label;
    std::string payload;
  };
  std::string wrong_tag;  // a text where DHAO00 (a number) stands
  {
    protocol::Writer w(&wrong_tag);
    w.Varint(1);
    protocol::PutText(&w, "x");
  }
  std::string short_count;  // announces more records than there are bytes
  {
    protocol::Writer w(&short_count);
    w.Varint(1000);
  }
  const Case cases[] = {{"a value of another kind", wrong_tag},
                        {"more records than bytes", short_count},
                        {"nothing at all", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    DocumentSet set(
        "ClientDataSet3",
        [&](std::string_view, int, bool, const std::vector<std::string>&,
            RecordReceiver* receiver) {
          SKJK_RETURN_IF_ERROR(
              receiver->Layout(*layouts::ProviderLayout("dsp_bbbf1")));
          return receiver->Chunk(c.payload);
        },
        "dsp_bbbf1", Connection::kAllRecords,
        layouts::ProviderLayout("dsp_bbbf1"), "ClientDataSet4");
    Status s = set.Open({"a", "b"});
    EXPECT_TRUE(s.IsLinkLost()) << s.message();
    EXPECT_FALSE(set.active());
  }
}

// Counts what observers hear, to see that nothing of a failed load shows.
class CountingObserver : public RecordSetObserver {
 public:
  explicit CountingObserver(const RecordSet* set) : set_(set) {}
  void DataChanged() override { most = std::max(most, set_->RecordCount()); }
  int most = 0;

 private:
  const RecordSet* set_;
};

// A load beyond the memory budget stops, frees what it took and says in
// Chinese what to do; the set stays closed and shows nothing of it, and a
// later load within the budget works.
TEST(DocumentSetMemoryTest, OpenBeyondTheBudgetFailsClearlyAndFreesAll) {
  FakeServer server(BbskSales());
  server.AddDocuments(3000, 5);
  for (bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "streamed" : "decoded");
    DocumentSet set(
        "ClientDataSet1", stream ? server.Streamed(100) : server.Packets(),
        "dsp_bbsk1", Connection::kAllRecords, &BbskSales(), "ClientDataSet2");
    CountingObserver seen(&set);
    set.AddObserver(&seen);
    auto small = std::make_shared<MemoryBudget>(size_t{256} << 10);
    set.set_memory_budget(small);
    Status s = set.Open({"a", "b"});
    ASSERT_FALSE(s.ok());
    EXPECT_THAT(s.message(), ::testing::StartsWith(
                                 "内存不足，容纳不下查询到的单据（收到 "_gbk));
    EXPECT_THAT(s.message(),
                ::testing::EndsWith("请缩小日期区间后重新查询。"_gbk));
    EXPECT_FALSE(set.active());
    EXPECT_EQ(set.RecordCount(), 0);
    EXPECT_EQ(set.detail()->RecordCount(), 0);
    EXPECT_EQ(seen.most, 0);
    EXPECT_EQ(small->used(), 0u);

    set.set_memory_budget(std::make_shared<MemoryBudget>(size_t{64} << 20));
    ASSERT_TRUE(set.Open({"a", "b"}).ok());
    EXPECT_EQ(set.RecordCount(), 3000);
    EXPECT_EQ(seen.most, 3000);
    set.RemoveObserver(&seen);
  }
}

TEST(DocumentSetMemoryTest, NextPacketBeyondTheBudgetKeepsWhatWasLoaded) {
  FakeServer server(BbskSales());
  server.AddDocuments(40, 5);
  // The budget is exactly what the first packet takes.
  size_t first_packet = 0;
  {
    DocumentSet probe("ClientDataSet5", server.Streamed(), "dsp_fxsk3", 10,
                      &BbskSales(), "ClientDataSet6");
    ASSERT_TRUE(probe.Open({"a", "b"}).ok());
    first_packet = probe.memory_budget()->used();
  }
  DocumentSet set("ClientDataSet5", server.Streamed(), "dsp_fxsk3", 10,
                  &BbskSales(), "ClientDataSet6");
  set.set_memory_budget(std::make_shared<MemoryBudget>(first_packet));
  ASSERT_TRUE(set.Open({"a", "b"}).ok());
  set.MoveTo(4);
  Result<int> added = set.NextPacket();
  ASSERT_FALSE(added.ok());
  EXPECT_THAT(added.status().message(),
              ::testing::EndsWith("请缩小日期区间后重新查询。"_gbk));
  EXPECT_EQ(set.RecordCount(), 10);
  EXPECT_EQ(set.RecNo(), 4);
  EXPECT_FALSE(set.exhausted());
  EXPECT_EQ(*set.AsFloat("DHAO00"), 5);
  EXPECT_EQ(set.detail()->RecordCount(), 5);
  EXPECT_EQ(set.memory_budget()->used(), first_packet);
}

}  // namespace
}  // namespace skjk
