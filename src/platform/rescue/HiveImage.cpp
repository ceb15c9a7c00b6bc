#include "platform/rescue/HiveImage.h"

namespace korbu::platform::rescue {
namespace {

Error Damaged(std::string what) { return Failure("damaged hive: " + std::move(what), kHiveDamaged); }

// A cell's size field: negative while allocated; its length either way.
std::size_t CellLength(std::string_view bytes, std::size_t at) {
  const auto size = static_cast<std::int32_t>(Le32At(bytes, at));
  return size < 0 ? static_cast<std::size_t>(-static_cast<std::int64_t>(size)) : static_cast<std::size_t>(size);
}

}  // namespace

std::uint32_t Le32At(std::string_view bytes, std::size_t at) {
  const auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
  return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

std::uint16_t Le16At(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutLe16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

std::uint32_t BaseBlockChecksum(std::string_view block) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < base::kChecksum; at += 4) sum ^= Le32At(block, at);
  if (sum == 0) return 1;
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  return sum;
}

bool ChecksumRight(std::string_view block) {
  return block.size() >= base::kChecksum + 4 && Le32At(block, base::kChecksum) == BaseBlockChecksum(block);
}

void SealBaseBlock(std::string& bytes) { PutLe32(bytes, base::kChecksum, BaseBlockChecksum(bytes)); }

bool SequencesDiffer(std::string_view bytes) {
  return bytes.size() >= 12 && Le32At(bytes, base::kPrimarySequence) != Le32At(bytes, base::kSecondarySequence);
}

Status CheckHiveImage(std::string_view bytes) {
  if (bytes.size() < kBaseBlockBytes || bytes.substr(0, 4) != "regf") return Damaged("no registry hive signature");
  if (!ChecksumRight(bytes)) return Damaged("bad checksum of the base block");
  const std::size_t bins = Le32At(bytes, base::kBinsSize);
  if (bins == 0 || bins % kHiveBinAlignment != 0) {
    return Damaged("the header gives " + std::to_string(bins) + " bytes of hive bins, no multiple of 4096");
  }
  if (bytes.size() - kBaseBlockBytes < bins) {
    return Damaged("the header claims " + std::to_string(bins) + " bytes of hive bins but the file holds only " +
                   std::to_string(bytes.size() - kBaseBlockBytes) + " (cut short)");
  }
  if (Le32At(bytes, base::kRootCell) >= bins) return Damaged("the root key lies outside the hive bins");
  for (std::size_t bin = 0; bin < bins;) {
    const std::size_t at = kBaseBlockBytes + bin;
    const std::string where = " at offset " + std::to_string(bin);
    if (bytes.substr(at, 4) != "hbin" || Le32At(bytes, at + 4) != bin) return Damaged("no hive bin" + where);
    const std::size_t size = Le32At(bytes, at + 8);
    if (size == 0 || size % kHiveBinAlignment != 0 || size > bins - bin) return Damaged("broken hive bin" + where);
    for (std::size_t cell = 32; cell < size;) {
      const std::size_t length = CellLength(bytes, at + cell);
      if (length < 8 || length % 8 != 0 || length > size - cell) {
        return Damaged("broken cell at offset " + std::to_string(bin + cell));
      }
      cell += length;
    }
    bin += size;
  }
  return Ok();
}

std::string TrimToBins(std::string bytes) {
  if (bytes.size() >= kBaseBlockBytes) {
    const std::size_t end = kBaseBlockBytes + Le32At(bytes, base::kBinsSize);
    if (end < bytes.size()) bytes.resize(end);
  }
  return bytes;
}

}  // namespace korbu::platform::rescue
