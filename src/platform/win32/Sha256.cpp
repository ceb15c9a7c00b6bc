#include "platform/Sha256.h"

#include "platform/win32/WindowsSupport.h"
// After <windows.h>, which it needs.
#include <bcrypt.h>

namespace korbu::platform {

// BCrypt's SHA-256 (bcrypt.dll, also in Wine). A provider that cannot be opened
// leaves the hash empty, and the digest then reads as empty.
struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;

  void Start() {
    if (algorithm == nullptr &&
        ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
      algorithm = nullptr;
      return;
    }
    if (::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) hash = nullptr;
  }
  void Stop() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
    hash = nullptr;
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) { state_->Start(); }

Sha256::~Sha256() {
  state_->Stop();
  if (state_->algorithm != nullptr) ::BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::Update(std::string_view bytes) {
  while (!bytes.empty() && state_->hash != nullptr) {
    const ULONG chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<ULONG>(bytes.size());
    ::BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), chunk, 0);
    bytes.remove_prefix(chunk);
  }
}

std::string Sha256::RawDigest() {
  std::string digest(32, '\0');
  const bool ok = state_->hash != nullptr &&
                  ::BCryptFinishHash(state_->hash, reinterpret_cast<PUCHAR>(digest.data()), 32, 0) == 0;
  state_->Stop();
  state_->Start();
  return ok ? digest : std::string();
}

}  // namespace korbu::platform
