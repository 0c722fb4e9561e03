// SHA-256 by the system's cryptography primitives (BCrypt).
#include <windows.h>
// After windows.h:
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/sha256.h"

namespace skjk {

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  // The first step that failed: its name and NTSTATUS; later steps are not
  // taken.
  const char* failed_step = nullptr;
  NTSTATUS failure = 0;

  bool Take(const char* step, NTSTATUS status) {
    if (failed_step != nullptr) return false;
    if (status >= 0) return true;
    failed_step = step;
    failure = status;
    return false;
  }
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  State& s = *state_;
  if (s.Take("BCryptOpenAlgorithmProvider",
             BCryptOpenAlgorithmProvider(&s.algorithm, BCRYPT_SHA256_ALGORITHM,
                                         nullptr, 0))) {
    s.Take("BCryptCreateHash",
           BCryptCreateHash(s.algorithm, &s.hash, nullptr, 0, nullptr, 0, 0));
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(std::string_view data) {
  State& s = *state_;
  while (!data.empty()) {
    const ULONG piece =
        static_cast<ULONG>(std::min<size_t>(data.size(), 1u << 30));
    if (!s.Take("BCryptHashData",
                BCryptHashData(
                    s.hash,
                    reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                    piece, 0))) {
      return;
    }
    data.remove_prefix(piece);
  }
}

Status Sha256::Digest(uint8_t digest[kDigestSize]) {
  State& s = *state_;
  s.Take("BCryptFinishHash", BCryptFinishHash(s.hash, digest, kDigestSize, 0));
  if (s.failed_step == nullptr) return Status::OK();
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx",
                static_cast<unsigned long>(s.failure));
  return Status::Error(std::string("SHA-256: ") + s.failed_step +
                       " failed with status " + code);
}

}  // namespace skjk
