#include "platform/Sha256.h"
#include "platform/HexText.h"

namespace korbu::platform {

std::string Sha256::HexDigest() {
  std::string hex;
  for (const char c : RawDigest()) {
    const auto byte = static_cast<unsigned char>(c);
    AppendHexByte(hex, byte);
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.HexDigest();
}

}  // namespace korbu::platform
