#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "detect/Heuristic.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
using test::TempTree;

TEST(HexPairToByte, DecodesUpperCaseHexAndNeverReadsPastTheText) {
  EXPECT_EQ(HexPairToByte("4D"), 0x4D);
  EXPECT_EQ(HexPairToByte("0A"), 0x0A);
  EXPECT_EQ(HexPairToByte("FF"), 0xFF);
  EXPECT_EQ(HexPairToByte("00"), 0x00);
  EXPECT_EQ(HexPairToByte("A5 and more"), 0xA5);  // only the first two characters
  // Other characters go through the same arithmetic: 'a' is 97 - 55 = 42.
  EXPECT_EQ(HexPairToByte("0a"), 42);
  EXPECT_EQ(HexPairToByte("a0"), (42 * 16) & 0xFF);
  EXPECT_EQ(HexPairToByte("F"), 0);
  EXPECT_EQ(HexPairToByte(""), 0);
}

TEST(HeuristicPattern, DecodesTheTableToRawBytes) {
  const std::string pattern = BuildHeuristicPattern();
  ASSERT_EQ(pattern.size(), kHeuristicPatternLength);
  EXPECT_EQ(pattern, HeuristicPattern());
  EXPECT_EQ(pattern.substr(0, 4), std::string("\x57\x19\x4D\x0A", 4));
  EXPECT_EQ(pattern.substr(92, 4), std::string("\x75\xEB\x5E\x46", 4));
  EXPECT_EQ(std::count(pattern.begin(), pattern.end(), '\0'), 0);
  EXPECT_EQ(std::count(pattern.begin(), pattern.end(), '\x0A'), 2);
}

TEST(HeuristicCheck, FindsThePatternAnywhereInAnMzFile) {
  TempTree tree;
  EXPECT_TRUE(HeuristicCheck(tree.Write("middle.exe", test::HeuristicFile(1000, 1000))));
  EXPECT_TRUE(HeuristicCheck(tree.Write("end.exe", test::HeuristicFile(2, 0))));
  EXPECT_TRUE(HeuristicCheck(tree.Write("odd.exe", test::HeuristicFile(333, 0))));
  std::string zeros = "MZ" + std::string(5000, '\0');
  EXPECT_TRUE(HeuristicCheck(tree.Write("zeros.exe", test::PlantHeuristicPattern(zeros, zeros.size()))));
}

TEST(HeuristicCheck, WantsTheWholePatternInAnMzFile) {
  TempTree tree;
  std::string notMz = test::HeuristicFile(100, 100);
  notMz[0] = 'X';
  EXPECT_FALSE(HeuristicCheck(tree.Write("notmz.exe", notMz)));

  std::string partial = test::MzFile(200) + HeuristicPattern().substr(0, 95);
  EXPECT_FALSE(HeuristicCheck(tree.Write("partial.exe", partial)));
  EXPECT_FALSE(HeuristicCheck(tree.Write("clean.exe", test::MzFile(5000))));
  EXPECT_FALSE(HeuristicCheck(tree.Path("missing.exe")));

  const std::string good = test::HeuristicFile(40, 40);
  for (std::size_t k = 0; k < kHeuristicPatternLength; ++k) {
    std::string changed = good;
    changed[40 + k] = static_cast<char>(changed[40 + k] ^ 0x01);
    EXPECT_FALSE(HeuristicCheck(tree.Write("changed.exe", changed))) << "byte " << k << " changed";
  }
}

}  // namespace
}  // namespace korbu
