#pragma once
// Text conversions for Wine's registry files: the escaped string syntax of the
// files, the ANSI code page of the "A" registry API, and name comparison.
//
// Wine keeps names and string data as UTF-16 code units. The ANSI side is
// Windows-1252, the code page of Western Windows systems and of Wine's default
// locale: every byte 0x00-0xFF maps to one code unit and back, the five bytes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) to the control code
// points of the same number, as Windows maps them. So 8-bit text always round-trips.

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korbu::platform::posix {

/// Windows-1252 bytes to UTF-16 code units, one unit per byte.
std::u16string AnsiToUtf16(std::string_view text);

/// UTF-16 code units to Windows-1252 bytes, one byte per unit; a unit the code
/// page cannot show becomes '?', as Windows' default character.
std::string Utf16ToAnsi(std::u16string_view text);

/// Code units as little-endian bytes (Wine's in-memory form of string data).
std::string Utf16ToBytes(std::u16string_view text);

/// Little-endian byte pairs as code units; an odd final byte is dropped.
std::u16string BytesToUtf16(std::string_view bytes);

/// Wine's case-insensitive order of names: the units compared after upper-casing
/// (ASCII and the letters of Windows-1252), then the shorter name first.
std::strong_ordering CompareNames(std::u16string_view a, std::u16string_view b);

/// True when two names are equal without regard to letter case.
inline bool SameName(std::u16string_view a, std::u16string_view b) {
  return CompareNames(a, b) == std::strong_ordering::equal;
}

/// Decodes an escaped string of a registry file up to (not including) the first
/// unescaped endChar: \\ \" \[ \] (any escaped character stands for itself),
/// \a \b \e \f \n \r \t \v, \xH to \xHHHH (UTF-16 unit), \O to \OOO (octal).
/// Raw bytes above 0x7F are read as UTF-8 where they form a valid sequence, else
/// as the unit of the same value. Returns the number of bytes consumed including
/// endChar, or empty when endChar does not follow (the text is malformed).
std::optional<std::size_t> ParseEscaped(std::string_view source, char endChar,
                                        std::u16string& out);

/// Encodes units the way Wine writes them: units above 0x7F as \x escapes, control
/// units as C or octal escapes, and the backslash and the two given characters
/// preceded by a backslash. Every unit is written, a zero unit as \0: string data
/// is passed without its terminator.
std::string DumpEscaped(std::u16string_view text, char escape1, char escape2);

}  // namespace korbu::platform::posix
