#include "settings/settings.h"

#include <cstdint>
#include <string>

#include "settings/profile.h"

namespace skjk {
namespace {

// The keys of params.cfg: the text members in the order they are written,
// then the flag.
struct TextKey {
  const char* name;
  std::string Settings::*field;
};
constexpr TextKey kTextKeys[] = {
    {"read", &Settings::invoice_file}, {"write1", &Settings::sales_file},
    {"write2", &Settings::void_file},  {"fhr", &Settings::reviewer},
    {"skr", &Settings::payee},         {"sm", &Settings::tax_item},
};
constexpr const char* kOneDayRangeKey = "d";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string SettingsPath(Env* env) {
  return env->ExecutableDirectory() + "params.cfg";
}

Status LoadSettings(Env* env, std::string_view path, std::string_view section,
                    Settings* values) {
  *values = Settings();
  if (env->FileExists(path)) {
    for (const TextKey& key : kTextKeys) {
      values->*key.field = ReadProfileKey(env, path, section, key.name);
    }
    values->one_day_range =
        ParseFlag(ReadProfileKey(env, path, section, kOneDayRangeKey));
    return Status::OK();
  }
  for (const TextKey& key : kTextKeys) {
    SKJK_RETURN_IF_ERROR(WriteProfileKey(env, path, section, key.name, ""));
  }
  return WriteProfileKey(env, path, section, kOneDayRangeKey, "0");
}

Status StoreSettings(Env* env, std::string_view path, std::string_view section,
                     const Settings& from, Settings* values) {
  for (const TextKey& key : kTextKeys) {
    SKJK_RETURN_IF_ERROR(
        WriteProfileKey(env, path, section, key.name, from.*key.field));
    values->*key.field = from.*key.field;
  }
  SKJK_RETURN_IF_ERROR(WriteProfileKey(env, path, section, kOneDayRangeKey,
                                       from.one_day_range ? "1" : "0"));
  values->one_day_range = from.one_day_range;
  return Status::OK();
}

bool ParseFlag(std::string_view value) {
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < value.size() && value[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < value.size() && value[i] == '0' &&
             (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == value.size()) return false;  // no digits
  // Decimal must fit a 32-bit signed integer; hexadecimal may use all 32 bits.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFu
                         : negative ? 0x80000000u
                                    : 0x7FFFFFFFu;
  uint64_t number = 0;
  for (; i < value.size(); ++i) {
    int digit = HexDigit(value[i]);
    if (digit < 0 || digit >= base) return false;
    number = number * base + static_cast<uint64_t>(digit);
    if (number > limit) return false;
  }
  return number != 0;
}

}  // namespace skjk
