// SHA-256 of bytes given in pieces, by the system's own implementation
// (BCrypt on Windows, nettle elsewhere).
//
//   Sha256 hash;
//   hash.Update(piece1);
//   hash.Update(piece2);
//   Result<std::string> hex = hash.HexDigest();  // 64 lower-case digits
#ifndef SKJK_PLATFORM_SHA256_H_
#define SKJK_PLATFORM_SHA256_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace skjk {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds `data` to the bytes hashed.
  void Update(std::string_view data);
  // The digest of every byte given as 64 lower-case hexadecimal digits.
  // Ends the hash: nothing is given after it. Fails only when the system's
  // implementation did (saying which step).
  Result<std::string> HexDigest();

 private:
  static constexpr size_t kDigestSize = 32;
  // The system's part: the digest's bytes.
  Status Digest(uint8_t digest[kDigestSize]);

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace skjk

#endif  // SKJK_PLATFORM_SHA256_H_
