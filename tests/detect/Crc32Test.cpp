#include <gtest/gtest.h>

#include <random>
#include <string>

#include "FakeFile.h"
#include "detect/Crc32.h"

namespace korbu {
namespace {

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFFu);
  return bytes;
}

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
    test::FakeFile source(data, step);
    EXPECT_EQ(StreamCrc32(source), Crc32Of(data)) << "reads of " << step;
  }
}

TEST(StreamCrc32, ReadErrorGivesNoChecksum) {
  const std::string data = RandomBytes(10000, 9);
  test::FakeFile source(data, 1000, 5000);
  EXPECT_FALSE(StreamCrc32(source).has_value());
}

}  // namespace
}  // namespace korbu
