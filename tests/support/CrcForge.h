#pragma once
// Test files for the own detection, made without any real worm on disk.
//
// CRC-32 is linear: four chosen bytes after any data set the checksum to any value.
// FileCrc32 leaves out a file's last 32 bytes, so a forged file is
//   body + 4 forged bytes + 32 bytes of tail
// and its FileCrc32 is the wanted value. Write the result with TempTree::Write.

#include <cstddef>
#include <cstdint>
#include <string>

namespace korbu::test {

/// The bytes the checksum leaves out at the end of every forged file.
inline constexpr std::size_t kForgedTailLength = 32;

/// body, four bytes that set the checksum, and 32 bytes of tail: FileCrc32 of the
/// result is wanted. The result begins with "MZ" exactly when body does.
std::string ForgeFileWithCrc(std::string body, std::uint32_t wanted);

/// The four bytes that, fed after data, make the CRC-32 of the whole equal wanted.
std::string CrcForgeBytes(const std::string& data, std::uint32_t wanted);

/// A small "MZ" file whose FileCrc32 is entry index (1 to 16) of the variant table.
/// Throws std::out_of_range for any other index.
std::string VariantFile(int index);

/// size bytes that begin with "MZ" (when size allows) followed by lower-case
/// letters that are the same for the same seed. Such filler never holds the
/// heuristic pattern (which has bytes above 0x7F).
std::string MzFile(std::size_t size, std::uint32_t seed = 1);

/// Writes the 96 heuristic pattern bytes over content at offset (content grows when
/// needed). Throws std::out_of_range when offset is past the end of content.
std::string PlantHeuristicPattern(std::string content, std::size_t offset);

/// An "MZ" file with the pattern after `before` bytes of MZ file and followed by
/// `after` bytes of filler; before is at least 2 (the "MZ").
std::string HeuristicFile(std::size_t before = 64, std::size_t after = 64);

}  // namespace korbu::test
