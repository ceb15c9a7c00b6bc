#pragma once
// Writing INI files the way the Windows profile API writes them: sections and keys
// are found without regard to ASCII letter case, and what the change does not touch
// stays byte for byte.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Expected.h"

namespace korbu::platform {

/// The value of key in section as the profile API reads it, and as WithIniEntry
/// finds the entry: the first matching key line of the first matching section
/// (a UTF-8 byte order mark ignored), the text after its first '=' without
/// surrounding blanks and tabs ("" for a line without '='). Empty when there is
/// no such entry.
std::optional<std::string> IniValue(std::string_view content, std::string_view section, std::string_view key);

/// The INI text with key=value set in the section: the first matching key line of
/// the first matching section is rewritten (its key keeps its spelling); a missing
/// key is added after the section's last non-blank line; a missing section is
/// appended at the end. New lines end as the text's lines do (CRLF when it has
/// none). Section and key are taken without surrounding blanks and tabs. Empty when
/// the entry cannot be written as one line: an empty section or key, a line break
/// or zero byte in any part, a ']' in the section, a '=' in the key or a key that
/// begins with '['.
std::optional<std::string> WithIniEntry(std::string_view content, std::string_view section,
                                        std::string_view key, std::string_view value);

/// The largest INI file that is rewritten: an INI file is a few KiB of text.
inline constexpr std::uint64_t kMaxIniFileBytes = 1ULL << 20;

/// Sets key=value in a section of the INI file at a native path (see WithIniEntry),
/// creating the file when it is absent. Only a regular file of at most
/// kMaxIniFileBytes is written, and it is replaced atomically; a link on the path
/// is refused. False when nothing was written.
bool WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value);

class Folder;

/// The same for the file name of a held folder, saying why nothing was written.
Status WriteIniString(const Folder& folder, const std::string& name, std::string_view section, std::string_view key,
                      std::string_view value);

}  // namespace korbu::platform
