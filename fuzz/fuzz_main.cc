// A libFuzzer target around one entry function of fuzz/entries.h, chosen by
// SKJK_FUZZ_ENTRY at compile time. A broken check aborts, so that libFuzzer
// keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure = skjk::fuzz::SKJK_FUZZ_ENTRY(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
