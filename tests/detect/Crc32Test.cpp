#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "detect/Crc32.h"

namespace korbu {
namespace {

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFFu);
  return bytes;
}

// Delivers at most `step` bytes per read, as a pipe or a slow device may.
class TrickleSource : public ByteSource {
 public:
  TrickleSource(std::string_view bytes, std::size_t step, std::int64_t failAfter = -1)
      : bytes_(bytes), step_(step), failAfter_(failAfter) {}
  std::int64_t Read(void* buffer, std::size_t count) override {
    if (failAfter_ >= 0 && static_cast<std::int64_t>(position_) >= failAfter_) return -1;
    const std::size_t n = std::min({count, step_, bytes_.size() - position_});
    std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
    position_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  std::string_view bytes_;
  std::size_t step_;
  std::int64_t failAfter_;
  std::size_t position_ = 0;
};

TEST(Crc32, KnownValuesAndTable) {
  EXPECT_EQ(Crc32Of("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32Of(""), 0x00000000u);
  EXPECT_EQ(Crc32Of(std::string(32, '\0')), 0x190A55ADu);
  EXPECT_EQ(Crc32Table[0], 0x00000000u);
  EXPECT_EQ(Crc32Table[1], 0x77073096u);
  EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, EveryImplementationAgreesWithTheBytewiseReference) {
  const std::string data = RandomBytes(5000, 42);
  // Every length up to a few words and odd offsets catch tail and alignment slips.
  for (std::size_t offset = 0; offset < 9; ++offset) {
    for (std::size_t length : {0, 1, 3, 7, 8, 9, 15, 16, 17, 31, 63, 64, 65, 255, 256, 257, 1000, 4991}) {
      const char* p = data.data() + offset;
      const auto n = static_cast<std::int64_t>(length);
      const std::uint32_t expected = Crc32UpdateBytewise(p, n, 0x12345678u);
      EXPECT_EQ(Crc32UpdateSlicing8(p, n, 0x12345678u), expected) << "offset " << offset << " length " << length;
      EXPECT_EQ(Crc32Update(p, n, 0x12345678u), expected) << "offset " << offset << " length " << length;
    }
  }
}

TEST(Crc32, UpdatesComposeAcrossSplits) {
  const std::string data = RandomBytes(3000, 7);
  const std::uint32_t whole = Crc32Update(data.data(), 3000, kCrc32Start);
  for (std::int64_t split : {1, 2, 100, 1499, 2999}) {
    std::uint32_t crc = Crc32Update(data.data(), split, kCrc32Start);
    crc = Crc32Update(data.data() + split, 3000 - split, crc);
    EXPECT_EQ(crc, whole) << "split at " << split;
  }
}

TEST(Crc32, NonPositiveLengthChangesNothing) {
  const char byte = 'x';
  for (auto* update : {&Crc32Update, &Crc32UpdateBytewise, &Crc32UpdateSlicing8}) {
    EXPECT_EQ(update(&byte, 0, 0xDEADBEEFu), 0xDEADBEEFu);
    EXPECT_EQ(update(&byte, -5, 0xDEADBEEFu), 0xDEADBEEFu);
  }
}

TEST(StreamCrc32, ReadsToTheEndWhateverTheReadSizes) {
  MemoryByteSource digits("123456789");
  EXPECT_EQ(StreamCrc32(digits), 0xCBF43926u);
  MemoryByteSource empty("");
  EXPECT_EQ(StreamCrc32(empty), 0x00000000u);

  const std::string data = RandomBytes(40000, 3);
  for (std::size_t step : {1, 5, 2047, 2048, 2049, 40000}) {
    TrickleSource source(data, step);
    EXPECT_EQ(StreamCrc32(source), Crc32Of(data)) << "reads of " << step;
  }
}

TEST(StreamCrc32, ReadErrorGivesNoChecksum) {
  const std::string data = RandomBytes(10000, 9);
  TrickleSource source(data, 1000, 5000);
  EXPECT_FALSE(StreamCrc32(source).has_value());
}

}  // namespace
}  // namespace korbu
