// The export of 100,000 head-office documents (5 lines each) from a loaded
// master set of "dsp_bbsk1" into the sales-document file, against a tight
// loop writing the same values: every number through std::to_chars with 15
// significant digits, every text copied, the separators and line ends, all
// into one buffer written to the file at once.
//
//   skjk-export-bench [--documents N] [--runs N]
//
// Loading the set and taking the loop's values out of it (the date as the
// number YYYYMMDD, the rate as its fraction) are not timed; the loop reads
// plain vectors and keeps its buffer from run to run. The export's exchange
// journal is a scripted server that answers at once (no earlier export,
// entry recorded): what is timed is the export's own work, the hash of the
// file and the journal's requests included. Both files must come
// out byte for byte the same. Prints the file size, the best time of each
// and "ratio: export <export / loop>".
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/env.h"
#include "documents/document_set.h"
#include "exchange/export.h"
#include "testing/packet_source.h"
#include "testing/scripted_server.h"
#include "text/forms.h"
#include "text/gbk.h"
#include "wire/layouts.h"

namespace skjk {
namespace {

using namespace std::chrono;
using namespace text::literals;
using Clock = steady_clock;

constexpr char kProvider[] = "dsp_bbsk1";
constexpr ExportRules kHeadOffice{.line = "Bbsk",
                                  .address_field = "DZ0000",
                                  .remark = true,
                                  .rate = ExportRules::Rate::kMasterRate};
constexpr int kLinesPerDocument = 5;

double Ms(Clock::duration d) { return duration<double, std::milli>(d).count(); }

// The same documents on every machine: the engine's sequence is fixed by the
// standard.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  uint64_t Next() { return engine_(); }
  int Uniform(int n) {
    return static_cast<int>(Next() % static_cast<uint64_t>(n));
  }
  template <typename T, size_t N>
  const T& Pick(const T (&v)[N]) {
    return v[Uniform(static_cast<int>(N))];
  }

 private:
  std::mt19937_64 engine_;
};

int Index(const layouts::Layout& layout, std::string_view name) {
  for (size_t i = 0; i < layout.size(); ++i) {
    if (layout[i].name == name) return static_cast<int>(i);
  }
  std::fprintf(stderr, "export-bench: no field %s\n",
               std::string(name).c_str());
  std::exit(1);
}

// Head-office documents as the server delivers them: customers with GBK
// names, addresses and banks, tax numbers, accounts, dates of 2024, a rate
// of 17 per cent and goods lines of cigarettes.
Rows MakeDocuments(int count) {
  static const char* const kCities[] = {"杭州", "宁波", "温州", "嘉兴", "湖州",
                                        "绍兴", "金华", "衢州", "舟山", "台州"};
  static const char* const kDistricts[] = {"西湖区", "上城区", "鄞州区",
                                           "鹿城区", "南湖区", "越城区",
                                           "婺城区", "柯桥区", "椒江区"};
  static const char* const kWords[] = {"华联", "永昌", "金叶", "鑫源", "恒通",
                                       "顺达", "嘉禾", "兴隆", "福满", "佳美"};
  static const char* const kKinds[] = {"烟酒店", "商贸有限公司", "便利店",
                                       "连锁超市", "副食品商店"};
  static const char* const kStreets[] = {"解放路",   "人民路",   "中山北路",
                                         "建设大道", "环城北路", "文三路"};
  static const char* const kBanks[] = {"中国工商银行", "中国农业银行",
                                       "中国建设银行", "中国银行",
                                       "农村信用合作社"};
  static const char* const kPeople[] = {"张伟", "王芳", "李娜", "刘洋",
                                        "陈静", "杨帆", "赵磊", "周敏"};
  static const char* const kRemarks[] = {"", "", "月结", "货到付款",
                                         "送货上门"};
  static const char* const kBrands[] = {"金叶",   "云峰",   "白沙湾", "红梅岭",
                                        "长城关", "玉溪岸", "黄山松", "南湖",
                                        "利群湾", "紫金",   "钓鱼台", "芙蓉"};
  static const char* const kForms[] = {"(硬)", "(软)", "(细支)"};
  static const char* const kPackings[] = {"84mm硬盒", "84mm软盒", "97mm细支"};
  static const double kPrices[] = {137.5, 450, 95, 230, 265.5, 180, 312.5, 520};
  static const double kQuantities[] = {1, 2, 5, 10, 20, 25, 50};

  const layouts::Layout& layout = *layouts::ProviderLayout(kProvider);
  const layouts::Layout& line_layout = layout.back().nested;
  auto at = [&](std::string_view name) { return Index(layout, name); };
  const int number = at("DHAO00"), date = at("YWRQ00"), person = at("YWRY00"),
            code = at("DWDM00"), rate = at("ZZSL00"), customer = at("DWMC00"),
            address = at("DZ0000"), bank = at("KHYH00"), account = at("YHZH00"),
            tax_number = at("SWDJH0"), quantities = at("SLHJ00"),
            amounts = at("JEHJ00"), remark = at("BEIZHU");
  auto line_at = [&](std::string_view name) {
    return Index(line_layout, name);
  };
  const int l_number = line_at("DHAO00"), l_code = line_at("SPDM00"),
            l_price = line_at("DJIA00"), l_quantity = line_at("SL0000"),
            l_amount = line_at("JE0000"), l_name = line_at("SPMC00"),
            l_packing = line_at("SPGG00"), l_unit = line_at("JYDW00");

  Random r(1);
  const double first_day = text::DateTimeOf(year{2024} / January / 1);
  Rows rows;
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Row& row = rows.emplace_back();
    row.values.resize(layout.size());
    const double id = 1000001 + i;
    const std::string city = r.Pick(kCities);
    char buf[64];
    row.values[number] = id;
    row.values[date] = first_day + r.Uniform(366);
    row.values[person] = text::Utf8ToGbk(r.Pick(kPeople));
    std::snprintf(buf, sizeof buf, "K%07d", 1 + r.Uniform(500));
    row.values[code] = std::string(buf);
    row.values[rate] = 17.0;
    row.values[customer] = text::Utf8ToGbk(city + "市" + r.Pick(kDistricts) +
                                           r.Pick(kWords) + r.Pick(kKinds));
    row.values[address] = text::Utf8ToGbk(
        "浙江省" + city + "市" + r.Pick(kDistricts) + r.Pick(kStreets) +
        std::to_string(1 + r.Uniform(300)) + "号");
    row.values[bank] =
        text::Utf8ToGbk(std::string(r.Pick(kBanks)) + city + "分行营业部");
    row.values[account] =
        std::to_string(1202000000000000000ULL + r.Next() % 999999999999999ULL);
    row.values[tax_number] =
        std::to_string(330100000000000ULL + r.Next() % 99999999999ULL);
    row.values[remark] = text::Utf8ToGbk(r.Pick(kRemarks));

    Rows lines;
    double quantity_total = 0, amount_total = 0;
    for (int l = 0; l < kLinesPerDocument; ++l) {
      Row& line = lines.emplace_back();
      line.values.resize(line_layout.size());
      const int goods = r.Uniform(36);
      const double price = kPrices[goods % std::size(kPrices)];
      const double quantity = r.Pick(kQuantities);
      const double amount = std::round(price * quantity * 100) / 100;
      std::snprintf(buf, sizeof buf, "6901%04d", goods + 1);
      line.values[l_number] = id;
      line.values[l_code] = std::string(buf);
      line.values[l_price] = price;
      line.values[l_quantity] = quantity;
      line.values[l_amount] = amount;
      line.values[l_name] =
          text::Utf8ToGbk(std::string(kBrands[goods / 3]) + kForms[goods % 3]);
      line.values[l_packing] = text::Utf8ToGbk(kPackings[goods % 3]);
      line.values[l_unit] = text::Utf8ToGbk("条");
      quantity_total += quantity;
      amount_total += amount;
    }
    row.values[quantities] = quantity_total;
    row.values[amounts] = amount_total;
    row.values.back() = std::move(lines);
  }
  return rows;
}

// The window as the export sees it: Yes to the confirmation, a walk that
// shows nothing.
class BenchHost final : public ExportHost {
 public:
  void Tell(Notice kind, std::string_view text) override {
    last_kind = kind;
    last_text = std::string(text);
  }
  bool Confirm(std::string_view) override { return true; }
  bool ConfirmWarning(std::string_view) override { return true; }
  void OpenSettings() override {}
  void BeginWalk(int, std::string_view) override {}
  void StepWalk() override {}
  void EndWalk() override {}
  std::string RegionalDateTime(double) override { return std::string(); }

  Notice last_kind = Notice::kError;
  std::string last_text;
};

// The values of one document as the tight loop reads them.
struct PlainDocument {
  double number;
  int lines;
  std::string customer, tax_number, address, bank, account, remark, payee;
  int date;     // YYYYMMDD
  double rate;  // fraction
};

struct PlainLine {
  std::string name, unit, packing;
  double quantity, amount;
};

struct Plain {
  std::vector<PlainDocument> documents;
  std::vector<PlainLine> lines;  // the documents' lines one after the other
};

std::string TextOf(const CellValue& v) {
  const auto* s = std::get_if<std::string_view>(&v);
  return s ? std::string(*s) : std::string();
}

double NumberOf(const CellValue& v) {
  const double* d = std::get_if<double>(&v);
  return d ? *d : 0;
}

Plain Extract(DocumentSet& set) {
  Plain p;
  auto at = [&](const RecordSet& s, const char* name) {
    const int i = s.FieldIndex(name);
    if (i < 0) {
      std::fprintf(stderr, "export-bench: no field %s\n", name);
      std::exit(1);
    }
    return i;
  };
  DetailSet& lines = *set.detail();
  const int number = at(set, "DHAO00"), customer = at(set, "DWMC00"),
            tax_number = at(set, "SWDJH0"), address = at(set, "DZ0000"),
            bank = at(set, "KHYH00"), account = at(set, "YHZH00"),
            remark = at(set, "BEIZHU"), payee = at(set, "YWRY00"),
            date = at(set, "YWRQ00"), rate = at(set, "ZZSL00");
  const int name = at(lines, "SPMC00"), unit = at(lines, "JYDW00"),
            packing = at(lines, "SPGG00"), quantity = at(lines, "SL0000"),
            amount = at(lines, "JE0000");
  p.documents.reserve(static_cast<size_t>(set.RecordCount()));
  for (set.First(); !set.Eof(); set.Next()) {
    const int i = set.RecNo();
    const text::Day day = *text::DayOf(NumberOf(set.Cell(i, date)));
    p.documents.push_back(PlainDocument{
        NumberOf(set.Cell(i, number)),
        lines.RecordCount(),
        TextOf(set.Cell(i, customer)),
        TextOf(set.Cell(i, tax_number)),
        TextOf(set.Cell(i, address)),
        TextOf(set.Cell(i, bank)),
        TextOf(set.Cell(i, account)),
        TextOf(set.Cell(i, remark)),
        TextOf(set.Cell(i, payee)),
        static_cast<int>(day.year()) * 10000 +
            static_cast<int>(static_cast<unsigned>(day.month())) * 100 +
            static_cast<int>(static_cast<unsigned>(day.day())),
        std::nearbyint(NumberOf(set.Cell(i, rate))) / 100,
    });
    for (int l = 0; l < lines.RecordCount(); ++l) {
      p.lines.push_back(PlainLine{
          TextOf(lines.Cell(l, name)), TextOf(lines.Cell(l, unit)),
          TextOf(lines.Cell(l, packing)), NumberOf(lines.Cell(l, quantity)),
          NumberOf(lines.Cell(l, amount))});
    }
  }
  return p;
}

void Number(double v, std::string* out) {
  char buf[32];
  const std::to_chars_result r =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  out->append(buf, r.ptr);
}

void Integer(int v, std::string* out) {
  char buf[16];
  const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, r.ptr);
}

// The unavoidable work: the values into one buffer, the buffer into the file.
// `buffer` is kept from run to run: once it has the file's size the loop pays
// neither for growing it nor for the system handing out its memory.
bool TightLoop(const Plain& p, const std::string& header,
               const std::string& marker, const std::string& reviewer,
               const std::string& item, const std::string& path,
               std::string* buffer) {
  std::string& b = *buffer;
  b.clear();
  b += header;
  const PlainLine* line = p.lines.data();
  for (const PlainDocument& d : p.documents) {
    b += marker;
    Number(d.number, &b);
    b += "~~";
    Integer(d.lines, &b);
    b += "~~";
    b += d.customer;
    b += "~~";
    b += d.tax_number;
    b += "~~";
    b += d.address;
    b += "~~";
    b += d.bank;
    b += d.account;
    b += "~~";
    b += d.remark;
    b += "~~";
    b += reviewer;
    b += "~~";
    b += d.payee;
    b += "~~~~";
    Integer(d.date, &b);
    b += "\r\n";
    char rate[32];
    const std::to_chars_result r = std::to_chars(
        rate, rate + sizeof rate, d.rate, std::chars_format::general, 15);
    const std::string_view rate_text(rate, static_cast<size_t>(r.ptr - rate));
    for (int l = 0; l < d.lines; ++l, ++line) {
      b += line->name;
      b += "~~";
      b += line->unit;
      b += "~~";
      b += line->packing;
      b += "~~";
      Number(line->quantity, &b);
      b += "~~";
      Number(line->amount, &b);
      b += "~~";
      b += rate_text;
      b += "~~";
      b += item;
      b += "\r\n";
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && written;
}

int Main(int argc, char** argv) {
  int documents = 100000, runs = 5;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 < argc && std::strcmp(argv[i], "--documents") == 0) {
      documents = std::atoi(argv[i + 1]);
    } else if (i + 1 < argc && std::strcmp(argv[i], "--runs") == 0) {
      runs = std::atoi(argv[i + 1]);
    } else {
      std::fprintf(stderr,
                   "usage: skjk-export-bench [--documents N] [--runs N]\n");
      return 2;
    }
  }
  if (documents < 1 || runs < 1) return 2;

  const char* base = std::getenv("TMPDIR");
  std::string dir =
      std::string(base && *base ? base : "/tmp") + "/skjk-export-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("export-bench: mkdtemp");
    return 1;
  }
  const std::string sales_file = dir + "/sales.txt",
                    void_file = dir + "/void.txt",
                    floor_path = dir + "/floor.txt";

  Rows rows = MakeDocuments(documents);
  DocumentSet set("ClientDataSet1",
                  testing::FromPackets(
                      [&rows](std::string_view, int, bool with_layout,
                              const std::vector<std::string>&, Packet* packet) {
                        if (with_layout)
                          packet->layout = *layouts::ProviderLayout(kProvider);
                        packet->rows = std::move(rows);
                        return Status::OK();
                      }),
                  kProvider, Connection::kAllRecords,
                  layouts::ProviderLayout(kProvider), "ClientDataSet2");
  if (Status s = set.Open({"2024-01-01", "2024-12-31"}); !s.ok()) {
    std::fprintf(stderr, "export-bench: %s\n", s.message().c_str());
    return 1;
  }
  const Plain plain = Extract(set);

  const std::string reviewer = "复核员"_gbk, payee = "@YWRY00",
                    item = "卷烟"_gbk, list = "销售单据"_gbk;
  const text::Day start = year{2024} / January / 1,
                  end = year{2024} / December / 31;
  ExportRequest request;
  request.settings = {.sales_file = sales_file,
                      .void_file = void_file,
                      .reviewer = reviewer,
                      .payee = payee,
                      .tax_item = item};
  request.document_count = set.RecordCount();
  request.not_invoiced = true;
  request.list_text = list;
  request.start = start;
  request.end = end;
  request.documents = &set;
  const std::string header =
      "SJJK0101~~销售单据传入~~2024年01月01日至2024年12月31日\r\n"_gbk;
  const std::string marker = "//单据\r\n"_gbk;

  // One untimed run of the loop gives its buffer the file's size.
  std::string buffer;
  if (!TightLoop(plain, header, marker, reviewer, item, floor_path, &buffer)) {
    std::perror("export-bench: writing the loop's file");
    return 1;
  }
  using protocol::MessageType;
  testing::ReceivedRequests journal_requests;
  testing::ScriptedServer journal(testing::Serving(
      &journal_requests, [](const testing::Request& r) -> std::string {
        switch (r.type) {
          case MessageType::kHello:
            return testing::HelloOkFrame();
          case MessageType::kCheckExport:
            return protocol::Frame(MessageType::kExportHistory,
                                   protocol::EncodeExportHistory({}));
          case MessageType::kRecordExport:
            return protocol::Frame(MessageType::kOk, protocol::EncodeOk(1));
          default:
            return "";
        }
      }));
  Connection connection;
  connection.set_machine_name(journal.machine());

  double export_best = 1e300, floor_best = 1e300;
  for (int run = 0; run < runs; ++run) {
    BenchHost host;
    Clock::time_point t = Clock::now();
    RunExport(kHeadOffice, request, Env::Default(), &connection, &host);
    export_best = std::min(export_best, Ms(Clock::now() - t));
    if (host.last_kind != ExportHost::Notice::kInfo) {
      std::fprintf(stderr, "export-bench: the export failed: %s\n",
                   text::GbkToUtf8(host.last_text).c_str());
      return 1;
    }
    t = Clock::now();
    if (!TightLoop(plain, header, marker, reviewer, item, floor_path,
                   &buffer)) {
      std::perror("export-bench: writing the loop's file");
      return 1;
    }
    floor_best = std::min(floor_best, Ms(Clock::now() - t));
  }

  std::string exported, looped;
  if (!Env::Default()->ReadFile(sales_file, &exported).ok() ||
      !Env::Default()->ReadFile(floor_path, &looped).ok()) {
    std::fprintf(stderr, "export-bench: cannot read the files back\n");
    return 1;
  }
  if (exported != looped) {
    const auto diff = std::mismatch(exported.begin(), exported.end(),
                                    looped.begin(), looped.end());
    std::fprintf(stderr,
                 "export-bench: the files differ (%zu and %zu bytes, first "
                 "difference at byte %zu)\n",
                 exported.size(), looped.size(),
                 static_cast<size_t>(diff.first - exported.begin()));
    return 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);

  std::printf(
      "export: %zu documents, %zu lines, file %.1f MB (%zu bytes), best of "
      "%d runs\n",
      plain.documents.size(), plain.lines.size(),
      static_cast<double>(exported.size()) / (1 << 20), exported.size(), runs);
  std::printf("export: RunExport into the sales-document file: %.1f ms\n",
              export_best);
  std::printf("export: tight loop writing the same bytes: %.1f ms\n",
              floor_best);
  std::printf("ratio: export %.2f\n", export_best / floor_best);
  return 0;
}

}  // namespace
}  // namespace skjk

int main(int argc, char** argv) { return skjk::Main(argc, argv); }
