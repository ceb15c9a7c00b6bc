#include "platform/Sha256.h"
#include "platform/HexText.h"

#include "platform/FileSystem.h"

namespace korbu::platform {

std::string Sha256::HexDigest() {
  std::string hex;
  for (const char c : RawDigest()) {
    const auto byte = static_cast<unsigned char>(c);
    AppendHexByte(hex, byte);
  }
  return hex;
}

std::optional<std::string> Sha256OfFile(InputFile& file) {
  Sha256 hash;
  std::string block(1 << 16, '\0');
  std::uint64_t offset = 0;
  while (true) {
    const std::int64_t got = file.ReadAt(block.data(), block.size(), offset);
    if (got < 0) return std::nullopt;
    if (got == 0) return hash.HexDigest();
    hash.Update(std::string_view(block.data(), static_cast<std::size_t>(got)));
    offset += static_cast<std::uint64_t>(got);
  }
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.HexDigest();
}

}  // namespace korbu::platform
