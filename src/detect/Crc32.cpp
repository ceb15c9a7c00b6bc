#include "detect/Crc32.h"

#include <algorithm>

#if defined(KORBU_HAVE_LIBDEFLATE)
#include <libdeflate.h>
#elif defined(KORBU_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace korbu {
namespace {

using Slices = std::array<std::array<std::uint32_t, 256>, 8>;

// Slice k advances the register over a byte followed by k zero bytes.
constexpr Slices MakeSlices() {
  Slices slices{};
  slices[0] = Crc32Table;
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t n = 0; n < 256; ++n) {
      const std::uint32_t previous = slices[k - 1][n];
      slices[k][n] = (previous >> 8) ^ Crc32Table[previous & 0xFFu];
    }
  }
  return slices;
}

constexpr Slices kSlices = MakeSlices();

inline std::uint32_t Step(std::uint32_t crc, unsigned char byte) {
  return Crc32Table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
}

// Four bytes in file order as a little-endian word, whatever the host's order.
inline std::uint32_t LoadLittle32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::uint32_t Crc32UpdateBytewise(const void* buffer, std::int64_t length, std::uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  for (std::int64_t i = 0; i < length; ++i) crc = Step(crc, p[i]);
  return crc;
}

std::uint32_t Crc32UpdateSlicing8(const void* buffer, std::int64_t length, std::uint32_t crc) {
  if (length <= 0) return crc;
  const auto* p = static_cast<const unsigned char*>(buffer);
  auto remaining = static_cast<std::uint64_t>(length);
  while (remaining >= 8) {
    const std::uint32_t low = crc ^ LoadLittle32(p);
    const std::uint32_t high = LoadLittle32(p + 4);
    crc = kSlices[7][low & 0xFFu] ^ kSlices[6][(low >> 8) & 0xFFu] ^
          kSlices[5][(low >> 16) & 0xFFu] ^ kSlices[4][low >> 24] ^
          kSlices[3][high & 0xFFu] ^ kSlices[2][(high >> 8) & 0xFFu] ^
          kSlices[1][(high >> 16) & 0xFFu] ^ kSlices[0][high >> 24];
    p += 8;
    remaining -= 8;
  }
  while (remaining-- > 0) crc = Step(crc, *p++);
  return crc;
}

#ifdef KORBU_HAVE_LIBDEFLATE

// libdeflate keeps the register complemented between calls; undo that here so
// this function composes like the bytewise one. It uses carry-less multiplication
// where the processor has it.
std::uint32_t Crc32Update(const void* buffer, std::int64_t length, std::uint32_t crc) {
  if (length <= 0) return crc;
  const auto* p = static_cast<const unsigned char*>(buffer);
  auto remaining = static_cast<std::uint64_t>(length);
  constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;  // fits any size_t
  std::uint32_t finished = ~crc;
  while (remaining > 0) {
    const std::uint64_t chunk = std::min(remaining, kMaxChunk);
    finished = libdeflate_crc32(finished, p, static_cast<std::size_t>(chunk));
    p += chunk;
    remaining -= chunk;
  }
  return ~finished;
}

std::string_view Crc32Implementation() { return "libdeflate"; }

#elif defined(KORBU_HAVE_ZLIB)

// zlib's braided CRC is still well ahead of slicing-by-8.
std::uint32_t Crc32Update(const void* buffer, std::int64_t length, std::uint32_t crc) {
  if (length <= 0) return crc;
  const auto* p = static_cast<const Bytef*>(buffer);
  auto remaining = static_cast<std::uint64_t>(length);
  constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;  // fits zlib's uInt
  uLong finished = ~crc;
  while (remaining > 0) {
    const std::uint64_t chunk = std::min(remaining, kMaxChunk);
    finished = crc32(finished, p, static_cast<uInt>(chunk));
    p += chunk;
    remaining -= chunk;
  }
  return ~static_cast<std::uint32_t>(finished);
}

std::string_view Crc32Implementation() { return "zlib"; }

#else

std::uint32_t Crc32Update(const void* buffer, std::int64_t length, std::uint32_t crc) {
  return Crc32UpdateSlicing8(buffer, length, crc);
}

std::string_view Crc32Implementation() { return "slicing-by-8"; }

#endif

std::uint32_t Crc32Of(std::string_view bytes) {
  return ~Crc32Update(bytes.data(), static_cast<std::int64_t>(bytes.size()), kCrc32Start);
}

std::optional<std::uint32_t> StreamCrc32(ByteSource& source) {
  // A short read is not the end: only a read of nothing is.
  unsigned char block[16384];
  std::uint32_t crc = kCrc32Start;
  while (true) {
    const std::int64_t got = source.Read(block, sizeof block);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    crc = Crc32Update(block, got, crc);
  }
  return ~crc;
}

}  // namespace korbu
