#pragma once
// Text conversions for Wine's registry files: the escaped string syntax of the
// files and the comparison of names, as wineserver reads, writes and compares
// them (server/unicode.c and server/registry.c of Wine).

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korbu::platform::wine {

/// Wine's case-insensitive order of names: the units compared after upper-casing
/// (ASCII and the Latin-1 letters; Wine folds every script, which matters only
/// for names that differ in the case of other letters), then the shorter first.
std::strong_ordering CompareNames(std::u16string_view a, std::u16string_view b);

/// True when two names are equal without regard to letter case.
inline bool SameName(std::u16string_view a, std::u16string_view b) {
  return CompareNames(a, b) == std::strong_ordering::equal;
}

/// The name as CompareNames sees it, for hashing.
std::u16string FoldedName(std::u16string_view name);

/// Decodes an escaped string of a registry file up to (not including) the first
/// unescaped endChar, as wineserver does: \a \b \e \f \n \r \t \v, \xH to \xHHHH
/// (one unit), \O to \OOO (octal), any other escaped character stands for itself;
/// raw bytes above 0x7F are read as UTF-8 and a byte that begins no sequence is
/// left out; a zero byte ends the text. Returns the number of bytes consumed
/// including endChar, or empty when endChar does not follow (malformed).
std::optional<std::size_t> ParseEscaped(std::string_view source, char endChar, std::u16string& out);

/// Encodes units the way Wine writes them: units above 0x7F as \x escapes, control
/// units as C or octal escapes, and the backslash and the two given characters
/// preceded by a backslash. Every unit is written, a zero unit as \0: string data
/// is passed without its terminator.
std::string DumpEscaped(std::u16string_view text, char escape1, char escape2);

}  // namespace korbu::platform::wine
