#pragma once
// What the own detection learns from a program file: whether it is an MZ file, its
// checksum for the variant table, and whether it holds the heuristic pattern.
// Files are read as a stream in bounded blocks, so any size costs the same memory.
// Nothing here throws for a missing, unreadable or changing file.

#include <cstdint>
#include <optional>
#include <string>

#include "detect/ByteSource.h"

namespace korbu {

/// The checksum leaves out this many bytes at the end of the file.
inline constexpr std::uint64_t kCrcIgnoredTail = 32;

/// Files are read in blocks of this many bytes.
inline constexpr std::size_t kExamineBlockSize = 256 * 1024;

/// A pass that wants only MZ files reads at most this many bytes of any other file.
inline constexpr std::size_t kExamineHeadSize = 4096;

/// True when the file can be opened and its first two bytes are "MZ". Only those
/// two bytes are read; no PE header is looked at.
bool IsPEFile(const std::string& path);

/// CRC-32 of the file without its last 32 bytes (a 32-byte file gives 0). Empty
/// when the file cannot be opened or read, or is shorter than 32 bytes.
std::optional<std::uint32_t> FileCrc32(const std::string& path);

/// The checksum of an MZ file of at least 32 bytes: true and crc set; false (crc
/// untouched) for anything else.
bool GetExeCrc(const std::string& path, std::uint32_t& crc);

enum class ExamineFor { Crc, Pattern, CrcAndPattern };

struct ExecutableFacts {
  bool isMz = false;         // it begins with "MZ"
  bool crcValid = false;     // an MZ file of at least 32 bytes, read to its end
  std::uint32_t crc = 0;     // FileCrc32 of it, when crcValid
  bool patternFound = false; // an MZ file holding the heuristic pattern, read without error
  bool readError = false;    // a read failed before everything asked was known
};

/// Reads the file once for everything asked. A file that is not an MZ file is read
/// no further than its first two bytes. The file ends at the size it had when it
/// was opened, or earlier where it has been cut short since; a read error leaves
/// both crcValid and patternFound false.
ExecutableFacts ExamineExecutable(const std::string& path, ExamineFor what);

/// The same over a file opened once for the whole verdict, read from its start.
ExecutableFacts ExamineExecutable(platform::OpenedFile& file, ExamineFor what);

/// The same over an open source whose length was size when it was opened: it is
/// read up to size bytes, or to an earlier end.
ExecutableFacts ExamineExecutable(ByteSource& source, std::uint64_t size, ExamineFor what);

}  // namespace korbu
