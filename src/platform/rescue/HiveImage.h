#pragma once
// A hive file's bytes as the program holds them (a copy of its own, never a map
// of the volume's file): the base block's fields, its checksum, and the checks
// that tell a damaged hive in words before anything reads or writes its cells.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Expected.h"

namespace korbu::platform::rescue {

/// The base block; the hive bins follow it.
inline constexpr std::size_t kBaseBlockBytes = 4096;
/// Hive bins are a multiple of this.
inline constexpr std::size_t kHiveBinAlignment = 4096;

/// The error code of a hive whose bytes are damaged (EILSEQ).
inline constexpr int kHiveDamaged = 84;

std::uint32_t Le32At(std::string_view bytes, std::size_t at);
std::uint16_t Le16At(std::string_view bytes, std::size_t at);
void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value);
void PutLe16(std::string& bytes, std::size_t at, std::uint16_t value);

/// Fields of the base block (offsets into it).
namespace base {
inline constexpr std::size_t kPrimarySequence = 4;
inline constexpr std::size_t kSecondarySequence = 8;
inline constexpr std::size_t kTimestamp = 12;
inline constexpr std::size_t kMinorVersion = 24;
inline constexpr std::size_t kFileType = 28;
inline constexpr std::size_t kRootCell = 36;
inline constexpr std::size_t kBinsSize = 40;
inline constexpr std::size_t kChecksum = 508;
}  // namespace base

/// The XOR-32 of the first 508 bytes, as Windows stores it (never 0 or ~0).
std::uint32_t BaseBlockChecksum(std::string_view block);
bool ChecksumRight(std::string_view block);
/// Writes the checksum of the first 508 bytes.
void SealBaseBlock(std::string& bytes);

/// True when the two sequence numbers differ: changes wait in the logs.
bool SequencesDiffer(std::string_view bytes);

/// Why the bytes are no hive that can be read whole, in words (code
/// kHiveDamaged): no signature, a bad checksum, a header claiming more hive bins
/// than the file holds, a hive bin out of place, cells that do not fill their bin.
Status CheckHiveImage(std::string_view bytes);

/// The bytes cut to the base block and the hive bins (what follows is padding).
std::string TrimToBins(std::string bytes);

}  // namespace korbu::platform::rescue
