#pragma once
// The sixteen known variants of the worm, keyed by FileCrc32 of their program file.

#include <array>
#include <cstdint>
#include <string_view>

namespace korbu {

inline constexpr int kVariantCount = 16;

/// The checksums in table order; index 1 is the first entry.
inline constexpr std::array<std::uint32_t, kVariantCount> VariantCrcTable = {
    0x55B54AF5u, 0x61A92C57u, 0x884F2D37u, 0x5D4100B9u, 0xFF520152u, 0xDDF34478u,
    0xC6B62D8Eu, 0x1C6FC308u, 0xBA3DC998u, 0x053AE94Cu, 0xE0634486u, 0x48672343u,
    0x66120EA0u, 0xE3B50847u, 0x8E34759Du, 0xBB2ABFE3u,
};

/// True when crc is in the table; index (1 to 16) is then the first equal entry.
/// index is left alone when nothing matches.
bool FindVariantByCrc(std::uint32_t crc, int& index);

/// The verdict name of a table index ("Brontok-1" .. "Brontok-18R"); empty for an
/// index outside 1 to 16.
std::string_view VariantName(int index);

}  // namespace korbu
