#pragma once
// Files a repair removes are kept here instead of being destroyed, neutered so
// that neither the system nor another scanner runs or flags them.
//
// An item is one file, private to the user and never executable:
//   line 1   "KORBU-QUARANTINE 1"
//   line 2   one JSON object: "path" (escaped, see EscapeBytes), "size",
//            "sha256" (of the original content), "virus", "mode" (the POSIX
//            permission bits, or the Windows attributes' read-only bit as 0444
//            versus 0644), "owner" and "group" (POSIX ids, where there are),
//            "modified" (the file's last write, a Windows file time) and
//            "quarantined" (UTC)
//   the rest the original content, each byte XORed with the byte of the 16-byte
//            key kQuarantineKey at its offset modulo 16
// Items are written and read in blocks: memory stays bounded whatever the size.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "repair/JournalEntry.h"

namespace korbu {

inline constexpr unsigned char kQuarantineKey[16] = {0x5A, 0xC3, 0x96, 0x2F, 0xE1, 0x7B, 0x08, 0xD4,
                                                     0x3C, 0xA9, 0x61, 0xF0, 0x17, 0x8E, 0xB5, 0x42};

struct QuarantinedFile {
  std::string path;  // where it was
  std::uint64_t size = 0;
  std::string sha256;
  FileOwnership ownership;
};

/// Copies the open regular file (path is where it is, for the record) into a
/// new item of the quarantine folder; the original stays. The item is written
/// through to the system before this returns, so it outlives the program, and
/// reaches the disk with the rest of its action (JournalWriter::Finish).
/// The file is read twice, for the SHA-256 the item's header holds and for the
/// copy; one that changes in between is refused. The error says why nothing
/// was kept (no item is left then).
Expected<QuarantinedFile> QuarantineFile(platform::Folder::HeldFile& source, const std::string& path,
                                         const platform::Folder& quarantine, const std::string& itemName,
                                         std::string_view virusName);

/// The record at the head of an item; an error for an item that is not one, or
/// that is not the user's own.
Expected<QuarantinedFile> ReadQuarantineRecord(const platform::Folder& quarantine, const std::string& itemName);

/// Writes an item's original content into the file, checking that it is the
/// content of that size and SHA-256 (else the file must not be used).
Status CopyFromQuarantine(const platform::Folder& quarantine, const std::string& itemName, std::uint64_t size,
                          const std::string& sha256, platform::DurableFile& into);

}  // namespace korbu
