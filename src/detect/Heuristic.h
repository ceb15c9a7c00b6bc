#pragma once
// The heuristic test: an MZ file that holds a fixed run of 96 bytes found in the
// worm's variants is reported as an unknown variant.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korbu {

inline constexpr std::size_t kHeuristicPatternLength = 96;

/// The verdict name of a heuristic hit (a full stop, unlike the table's names).
inline constexpr std::string_view kHeuristicVerdictName = "Brontok.Variant";

/// Byte k of the pattern as two upper-case hexadecimal digits.
extern const std::array<std::string_view, kHeuristicPatternLength> HeuristicHexTable;

/// The byte written by the first two characters of text: '0'..'9' count 0..9, any
/// other character its code minus 55 ('A'..'F' give 10..15), the sum truncated to
/// 8 bits. A text shorter than two characters gives 0.
std::uint8_t HexPairToByte(std::string_view text);

/// The 96 pattern bytes decoded from HeuristicHexTable.
std::string BuildHeuristicPattern();

/// The decoded pattern, built once.
const std::string& HeuristicPattern();

/// True when the file begins with "MZ" and contains the pattern anywhere. A file
/// that cannot be opened or read to its end gives false; nothing is thrown.
bool HeuristicCheck(const std::string& path);

}  // namespace korbu
