#include "platform/Sha256.h"

namespace korbu::platform {

std::string Sha256::HexDigest() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const char c : RawDigest()) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.HexDigest();
}

}  // namespace korbu::platform
