#include "platform/Sha256.h"

#include <nettle/sha2.h>

namespace korbu::platform {

struct Sha256::State {
  sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->context); }

Sha256::~Sha256() = default;

void Sha256::Update(std::string_view bytes) {
  sha256_update(&state_->context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

std::string Sha256::RawDigest() {
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&state_->context, sizeof digest, digest);  // also starts afresh
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

}  // namespace korbu::platform
