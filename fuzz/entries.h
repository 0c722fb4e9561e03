// The entry functions of the fuzz targets: each takes one input of any
// bytes, runs it through the code under test and checks what must hold
// whatever the input. The libFuzzer targets (fuzz_main.cc) call them, and so
// does the replay of regressions/ in the ordinary test run.
//
// Each returns an empty text when everything held, else what did not; a
// crash, a sanitizer report or a hang is a fault as much.
#ifndef SKJK_FUZZ_ENTRIES_H_
#define SKJK_FUZZ_ENTRIES_H_

#include <string>
#include <string_view>

namespace skjk::fuzz {

// The protocol codec (wire/protocol.h): the first byte picks a message
// decoder, the rest is its payload; a decoded request encodes back to a
// payload that decodes to the same request. Record chunks: the row decoder
// and a document set agree on any chunk; rows made from the input and
// encoded decode, in both, to the values encoded.
std::string ProtocolCodec(std::string_view data);

// The settings parser (settings/profile.h, settings/settings.h): the input
// is a profile text with a section, key and value in front of it; reading
// never returns more than the longest value, and a value written reads back.
std::string SettingsParser(std::string_view data);

// The UPDATE alias adaptation of skjk-server (appserver/dialect.h): the
// input as SQL text; its rewrite passes CheckUpdateAliasRewrite, and
// adapting the rewrite again changes nothing. The parts SplitUpdate finds
// in it are pieces of the text.
std::string DialectAdaptation(std::string_view data);

// What must hold of `rewritten`, the adaptation of `sql`: a statement that
// is not `UPDATE table[.table] alias SET ...` comes back byte for byte; one
// that is keeps every piece of the statement (white space and comments
// aside) in its order, the table and the alias included, with "AS" before
// the alias and the alias's qualifier gone from each column the statement
// sets and from nowhere else.
std::string CheckUpdateAliasRewrite(std::string_view sql,
                                    std::string_view rewritten);

// The issued-invoice file's line and field splitting
// (exchange/invoice_file.h).
std::string ImportLineSplitter(std::string_view data);

// The targets by name (the folder names under regressions/ and corpus/).
struct Target {
  const char* name;
  std::string (*entry)(std::string_view data);
};
inline constexpr Target kTargets[] = {
    {"protocol", ProtocolCodec},
    {"settings", SettingsParser},
    {"dialect", DialectAdaptation},
    {"import_line", ImportLineSplitter},
};

}  // namespace skjk::fuzz

#endif  // SKJK_FUZZ_ENTRIES_H_
