#include <gtest/gtest.h>

#include <set>
#include <string>

#include "detect/ExecutableFile.h"
#include "detect/VariantTable.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
using test::TempTree;

TEST(FindVariantByCrc, LooksUpTheTable) {
  int index = -1;
  ASSERT_TRUE(FindVariantByCrc(0x053AE94Cu, index));
  EXPECT_EQ(index, 10);
  ASSERT_TRUE(FindVariantByCrc(0x55B54AF5u, index));
  EXPECT_EQ(index, 1);
  ASSERT_TRUE(FindVariantByCrc(0xBB2ABFE3u, index));
  EXPECT_EQ(index, 16);
  index = -1;
  EXPECT_FALSE(FindVariantByCrc(0x00000000u, index));
  EXPECT_FALSE(FindVariantByCrc(0xFFFFFFFFu, index));
  EXPECT_EQ(index, -1) << "index written without a match";
  EXPECT_EQ(std::set<std::uint32_t>(VariantCrcTable.begin(), VariantCrcTable.end()).size(), 16u);
}

TEST(VariantTable, ForgedFileOfEveryEntryIsFound) {
  TempTree tree;
  for (int index = 1; index <= kVariantCount; ++index) {
    const std::string path = tree.Write("v" + std::to_string(index) + ".exe", test::VariantFile(index));
    std::uint32_t crc = 0;
    ASSERT_TRUE(GetExeCrc(path, crc)) << "entry " << index;
    int found = 0;
    ASSERT_TRUE(FindVariantByCrc(crc, found)) << "entry " << index;
    EXPECT_EQ(found, index);
  }
  EXPECT_EQ(VariantName(2), "Brontok-3");
  EXPECT_EQ(VariantName(0), "");
  EXPECT_EQ(VariantName(17), "");
  EXPECT_THROW(test::VariantFile(0), std::out_of_range);
  EXPECT_THROW(test::VariantFile(17), std::out_of_range);
}

TEST(CrcForge, SetsAnyChecksumAndKeepsTheHeader) {
  TempTree tree;
  for (std::uint32_t wanted : {0x00000000u, 0xFFFFFFFFu, 0x12345678u, 0xCBF43926u}) {
    const std::string mz = test::ForgeFileWithCrc(test::MzFile(77), wanted);
    EXPECT_EQ(FileCrc32(tree.Write("mz.exe", mz)), wanted);
    EXPECT_EQ(mz.substr(0, 2), "MZ");
    EXPECT_FALSE(IsPEFile(tree.Write("plain.txt", test::ForgeFileWithCrc("plain", wanted))));
    EXPECT_EQ(FileCrc32(tree.Write("empty.txt", test::ForgeFileWithCrc("", wanted))), wanted);
  }
}

}  // namespace
}  // namespace korbu
