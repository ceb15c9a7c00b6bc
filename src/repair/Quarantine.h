#pragma once
// Files a repair removes are kept here instead of being destroyed, neutered so
// that neither the system nor another scanner runs or flags them.
//
// An item is one file, private to the user and never executable:
//   line 1   "KORBU-QUARANTINE 1"
//   line 2   one JSON object: "path" (escaped, see EscapeBytes), "size",
//            "sha256" (of the original content), "virus", "mode" (the POSIX
//            permission bits, or the Windows attributes' read-only bit as 0444
//            versus 0644), "modified" (the file's last write, a Windows file
//            time) and "quarantined" (UTC)
//   the rest the original content, each byte XORed with the byte of the 16-byte
//            key kQuarantineKey at its offset modulo 16

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korbu {

inline constexpr unsigned char kQuarantineKey[16] = {0x5A, 0xC3, 0x96, 0x2F, 0xE1, 0x7B, 0x08, 0xD4,
                                                     0x3C, 0xA9, 0x61, 0xF0, 0x17, 0x8E, 0xB5, 0x42};

struct QuarantinedFile {
  std::string path;    // where it was
  std::uint64_t size = 0;
  std::string sha256;
  unsigned mode = 0;
};

/// Copies the regular file at path into a new item at itemPath, forced to the
/// disk; the original stays. Empty when the file cannot be read or the item
/// cannot be written (a partial item is removed).
std::optional<QuarantinedFile> QuarantineFile(const std::string& path, const std::string& itemPath,
                                              std::string_view virusName);

/// The item's record and original content; empty for an item that is not one,
/// or whose content no longer matches its SHA-256.
struct QuarantineContent {
  QuarantinedFile file;
  std::string content;
};
std::optional<QuarantineContent> ReadQuarantined(const std::string& itemPath);

/// Writes content as a new file at path with the mode, never replacing anything
/// there: it is written beside it first and moved in place only while the place
/// is free.
bool CreateFileAt(const std::string& path, const std::string& content, unsigned mode);

}  // namespace korbu
