#pragma once
// CRC-32 of ISO-HDLC (reflected polynomial 0xEDB88320, start 0xFFFFFFFF, final
// complement): the checksum the variant table is keyed on.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "detect/ByteSource.h"

namespace korbu {

inline constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;
inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;

namespace detail {
constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int step = 0; step < 8; ++step) c = (c & 1u) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
    table[n] = c;
  }
  return table;
}
}  // namespace detail

/// Entry n is the register after eight shifts of n; computed at compile time, so
/// it is ready before anything can ask for a checksum.
inline constexpr std::array<std::uint32_t, 256> Crc32Table = detail::MakeCrc32Table();

/// Feeds length bytes to the CRC register and returns the new register. No start
/// value and no final complement are applied here. A length of 0 or less changes
/// nothing. Uses the fastest implementation this build has.
std::uint32_t Crc32Update(const void* buffer, std::int64_t length, std::uint32_t crc);

/// The same result one table lookup per byte: the reference for the fast versions.
std::uint32_t Crc32UpdateBytewise(const void* buffer, std::int64_t length, std::uint32_t crc);

/// The same result eight bytes per step (slicing-by-8): the portable fast version,
/// used where no faster library is available.
std::uint32_t Crc32UpdateSlicing8(const void* buffer, std::int64_t length, std::uint32_t crc);

/// Name of the implementation behind Crc32Update ("libdeflate", "slicing-by-8").
std::string_view Crc32Implementation();

/// The complete CRC-32 of a byte string (start value and final complement included).
std::uint32_t Crc32Of(std::string_view bytes);

/// The CRC-32 of everything the source delivers from its current position until it
/// reports its end; empty when a read fails.
std::optional<std::uint32_t> StreamCrc32(ByteSource& source);

}  // namespace korbu
