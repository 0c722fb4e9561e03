// skjk-taxsim: answers a sales- or void-document file of the export with the
// issued-invoice file the tax-control machine would write (see taxsim.h).
//
// Exit code 0 on success, 1 when the input cannot be read or is no export
// file (or the output cannot be written), 2 on bad usage.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/env.h"
#include "exchange/invoice_file.h"
#include "text/gbk.h"
#include "tools/taxsim/taxsim.h"

namespace skjk::taxsim {
namespace {

constexpr char kUsage[] =
    "usage: skjk-taxsim INPUT OUTPUT [options]\n"
    "Reads INPUT, a sales-document (SJJK0101) or void-document (SJJK0102)\n"
    "file of the export, and writes OUTPUT, the issued-invoice file\n"
    "(SJJK0201) the tax-control machine would answer with.\n"
    "  --book TEXT       invoice book number (default 110012)\n"
    "  --start N         first invoice number, 0..99999999 (default 1)\n"
    "  --date YYYYMMDD   invoice date of every record (default: the business\n"
    "                    date of a sales document, the range end for void)\n"
    "  --first YYYYMMDD  first date of the summary line (default: the start\n"
    "                    of the input header's date range)\n"
    "  --last YYYYMMDD   last date of the summary line (default: its end)\n"
    "  --damage KIND     write a deliberately bad file: header (wrong\n"
    "                    header), date (summary date 30 February), truncate\n"
    "                    (cut among a record's detail lines), quote (a single\n"
    "                    quote in the first invoice number and product name),\n"
    "                    broken (there a GBK lead byte before a single quote)\n"
    "  --help            this text\n";

int Fail(int code, std::string_view message) {
  std::fprintf(stderr, "skjk-taxsim: %.*s\n", static_cast<int>(message.size()),
               message.data());
  if (code == 2) std::fputs(kUsage, stderr);
  return code;
}

int Main(int argc, char** argv) {
  std::string paths[2];
  int path_count = 0;
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!arg.starts_with("--")) {
      if (path_count == 2) return Fail(2, "too many arguments");
      paths[path_count++] = argv[i];
      continue;
    }
    if (i + 1 >= argc) return Fail(2, std::string(arg) + " needs a value");
    std::string value = argv[++i];
    if (arg == "--book") {
      options.book = text::Utf8ToGbk(value);
    } else if (arg == "--start") {
      std::optional<int> start = exchange::ParseWholeNumber(value);
      if (!start || *start < 0 || *start > 99999999) {
        return Fail(2, "--start takes a number from 0 to 99999999");
      }
      options.start = *start;
    } else if (arg == "--date" || arg == "--first" || arg == "--last") {
      std::optional<text::Day> day = exchange::ParseFileDay(value);
      if (!day) return Fail(2, std::string(arg) + " takes a day YYYYMMDD");
      std::optional<text::Day>* target = arg == "--date"    ? &options.date
                                         : arg == "--first" ? &options.first
                                                            : &options.last;
      *target = day;
    } else if (arg == "--damage") {
      std::optional<Damage> damage = ParseDamage(value);
      if (!damage) return Fail(2, "unknown damage kind " + value);
      options.damage = *damage;
    } else {
      return Fail(2, "unknown option " + std::string(arg));
    }
  }
  if (path_count != 2) return Fail(2, "INPUT and OUTPUT are required");

  // Env takes GBK paths; the command line is UTF-8.
  Env* env = Env::Default();
  std::string input;
  Status status = env->ReadFile(text::Utf8ToGbk(paths[0]), &input);
  if (!status.ok()) return Fail(1, text::GbkToUtf8(status.message()));
  Result<std::string> answer = Answer(input, options);
  if (!answer.ok()) {
    return Fail(1,
                paths[0] + ": " + text::GbkToUtf8(answer.status().message()));
  }
  status = env->WriteFile(text::Utf8ToGbk(paths[1]), *answer);
  if (!status.ok()) return Fail(1, text::GbkToUtf8(status.message()));
  return 0;
}

}  // namespace
}  // namespace skjk::taxsim

int main(int argc, char** argv) { return skjk::taxsim::Main(argc, argv); }
