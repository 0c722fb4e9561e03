#include "platform/sha256.h"

namespace skjk {

Result<std::string> Sha256::HexDigest() {
  uint8_t digest[kDigestSize];
  SKJK_RETURN_IF_ERROR(Digest(digest));
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

}  // namespace skjk
