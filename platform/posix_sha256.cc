// SHA-256 by nettle.
#include <nettle/sha2.h>

#include "platform/sha256.h"

namespace skjk {

static_assert(SHA256_DIGEST_SIZE == 32);

struct Sha256::State {
  sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  sha256_init(&state_->context);
}

Sha256::~Sha256() = default;

void Sha256::Update(std::string_view data) {
  sha256_update(&state_->context, data.size(),
                reinterpret_cast<const uint8_t*>(data.data()));
}

Status Sha256::Digest(uint8_t digest[kDigestSize]) {
  sha256_digest(&state_->context, kDigestSize, digest);
  return Status::OK();
}

}  // namespace skjk
