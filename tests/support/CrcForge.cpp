#include "support/CrcForge.h"

#include <stdexcept>
#include <utility>

#include "detect/Crc32.h"
#include "detect/Heuristic.h"
#include "detect/VariantTable.h"

namespace korbu::test {
namespace {

// Undoes one byte step of the register. The top bytes of the 256 table entries
// are all different, so the entry that was XORed in is known from the result.
std::uint32_t UnstepByte(std::uint32_t after) {
  for (std::uint32_t i = 0; i < 256; ++i) {
    const std::uint32_t entry = Crc32Table[i];
    if ((entry >> 24) == (after >> 24)) return ((after ^ entry) << 8) | i;
  }
  throw std::logic_error("CRC table without distinct top bytes");
}

}  // namespace

std::string CrcForgeBytes(const std::string& data, std::uint32_t wanted) {
  const std::uint32_t before =
      Crc32UpdateBytewise(data.data(), static_cast<std::int64_t>(data.size()), kCrc32Start);
  // The register that four bytes must lead to, walked back through four steps,
  // is the register XOR the bytes (as a little-endian word).
  std::uint32_t x = ~wanted;
  for (int step = 0; step < 4; ++step) x = UnstepByte(x);
  const std::uint32_t word = x ^ before;
  std::string bytes(4, '\0');
  for (std::size_t k = 0; k < 4; ++k) bytes[k] = static_cast<char>((word >> (8 * k)) & 0xFFu);
  return bytes;
}

std::string ForgeFileWithCrc(std::string body, std::uint32_t wanted) {
  body += CrcForgeBytes(body, wanted);
  body += std::string(kForgedTailLength, 'T');
  return body;
}

std::string VariantFile(int index) {
  if (index < 1 || index > kVariantCount) throw std::out_of_range("no variant table index");
  std::string body = MzFile(200, static_cast<std::uint32_t>(index) + 1000);
  return ForgeFileWithCrc(body, VariantCrcTable[static_cast<std::size_t>(index - 1)]);
}

std::string MzFile(std::size_t size, std::uint32_t seed) {
  std::string content;
  content.reserve(size);
  if (size >= 1) content.push_back('M');
  if (size >= 2) content.push_back('Z');
  // Printable filler: the pattern starts with 0x57 'W' but holds bytes above 0x7F,
  // so it can never appear by chance here.
  std::uint32_t state = seed * 2654435761u + 1u;
  while (content.size() < size) {
    state = state * 1664525u + 1013904223u;
    content.push_back(static_cast<char>('a' + (state >> 24) % 26));
  }
  return content;
}

std::string PlantHeuristicPattern(std::string content, std::size_t offset) {
  if (offset > content.size()) throw std::out_of_range("pattern offset past the end");
  const std::string& pattern = HeuristicPattern();
  if (content.size() < offset + pattern.size()) content.resize(offset + pattern.size());
  content.replace(offset, pattern.size(), pattern);
  return content;
}

std::string HeuristicFile(std::size_t before, std::size_t after) {
  if (before < 2) before = 2;
  std::string content = MzFile(before + kHeuristicPatternLength + after, 7);
  return PlantHeuristicPattern(std::move(content), before);
}

}  // namespace korbu::test
