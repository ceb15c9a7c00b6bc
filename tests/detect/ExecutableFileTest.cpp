#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "detect/Crc32.h"
#include "detect/ExecutableFile.h"
#include "detect/Heuristic.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "FakeFile.h"
#include "WithoutRoot.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::FakeFile;
using test::TempTree;

// FileCrc32 computed the plain way: the CRC-32 of everything but the last 32 bytes.
std::uint32_t ReferenceFileCrc(const std::string& content) {
  return Crc32Of(std::string_view(content).substr(0, content.size() - 32));
}

TEST(IsPEFile, OnlyTheTwoBytesMZInFileOrder) {
  TempTree tree;
  EXPECT_TRUE(IsPEFile(tree.Write("a.exe", "MZ")));
  EXPECT_TRUE(IsPEFile(tree.Write("b.exe", "MZ not a PE header at all")));
  EXPECT_FALSE(IsPEFile(tree.Write("c.exe", "ZM rest")));
  EXPECT_FALSE(IsPEFile(tree.Write("d.exe", "mz rest")));
  EXPECT_FALSE(IsPEFile(tree.Write("e.exe", "Mz rest")));
  EXPECT_FALSE(IsPEFile(tree.Write("f.exe", "")));
  EXPECT_FALSE(IsPEFile(tree.Write("g.exe", "M")));
  EXPECT_FALSE(IsPEFile(tree.Path("missing.exe")));
  EXPECT_FALSE(IsPEFile(tree.MakeDir("folder")));
}

TEST(GetExeCrc, NeedsAnMzFileOfAtLeast32Bytes) {
  TempTree tree;
  std::uint32_t crc = 0xAAAAAAAAu;
  ASSERT_TRUE(GetExeCrc(tree.Write("32.exe", test::MzFile(32)), crc));
  EXPECT_EQ(crc, 0x00000000u);  // the checksum of no bytes

  for (std::size_t size : {2, 3, 16, 31}) {
    crc = 0xAAAAAAAAu;
    EXPECT_FALSE(GetExeCrc(tree.Write("short.exe", test::MzFile(size)), crc)) << size << " bytes";
    EXPECT_EQ(crc, 0xAAAAAAAAu) << "crc written for a file of " << size << " bytes";
  }
  std::string notMz = test::MzFile(100);
  notMz[0] = 'Z', notMz[1] = 'M';
  EXPECT_FALSE(GetExeCrc(tree.Write("zm.exe", notMz), crc));
  EXPECT_FALSE(GetExeCrc(tree.Write("empty.exe", ""), crc));
  EXPECT_FALSE(GetExeCrc(tree.Write("one.exe", "M"), crc));
  EXPECT_FALSE(GetExeCrc(tree.Path("missing.exe"), crc));
  EXPECT_FALSE(GetExeCrc(tree.MakeDir("dir.exe"), crc));
}

TEST(FileCrc32, LeavesOutTheLast32BytesOfAnyFile) {
  TempTree tree;
  const std::string text = "plain text, no MZ header, but long enough for a checksum";
  EXPECT_EQ(FileCrc32(tree.Write("a.txt", text)), ReferenceFileCrc(text));
  EXPECT_EQ(FileCrc32(tree.Write("nine.txt", std::string("123456789") + std::string(32, 'x'))), 0xCBF43926u);
  EXPECT_FALSE(FileCrc32(tree.Write("short.txt", std::string(31, 'x'))).has_value());
  EXPECT_FALSE(FileCrc32(tree.Path("missing")).has_value());

  std::string one = test::MzFile(500, 1), other = one;
  std::fill(other.end() - 32, other.end(), '\xFF');
  std::uint32_t crcOne = 0, crcOther = 1;
  ASSERT_TRUE(GetExeCrc(tree.Write("one.exe", one), crcOne));
  ASSERT_TRUE(GetExeCrc(tree.Write("other.exe", other), crcOther));
  EXPECT_EQ(crcOne, crcOther);
  other[other.size() - 33] ^= 1;  // the last byte that counts
  ASSERT_TRUE(GetExeCrc(tree.Write("other.exe", other), crcOther));
  EXPECT_NE(crcOne, crcOther);
}

TEST(ExamineExecutable, SameAnswersForAnyReadSizes) {
  // Pattern at the start, inside, at the very end; contents around the carry sizes.
  const std::string& pattern = HeuristicPattern();
  std::vector<std::string> contents = {
      test::HeuristicFile(2, 0), test::HeuristicFile(50, 10), test::HeuristicFile(300, 0),
      test::HeuristicFile(3, 200), test::MzFile(33), test::MzFile(127), test::MzFile(1000)};
  for (const std::string& content : contents) {
    const bool hasPattern = content.find(pattern) != std::string::npos;
    for (std::size_t step : {1, 2, 31, 32, 33, 95, 96, 97, 1000}) {
      FakeFile file(content, step);
      const ExecutableFacts facts = ExamineExecutable(file, content.size(), ExamineFor::CrcAndPattern);
      EXPECT_TRUE(facts.isMz);
      ASSERT_TRUE(facts.crcValid) << content.size() << " bytes in reads of " << step;
      EXPECT_EQ(facts.crc, ReferenceFileCrc(content)) << content.size() << " bytes in reads of " << step;
      EXPECT_EQ(facts.patternFound, hasPattern) << content.size() << " bytes in reads of " << step;
    }
  }
}

TEST(ExamineExecutable, BlockBoundariesOfALargeFile) {
  // Sizes where the held-back tail and the pattern overlap straddle a block end.
  const std::size_t block = kExamineBlockSize;
  const std::size_t head = kExamineHeadSize;
  for (std::size_t size : {head + 31, head + 33, block - 32, block - 31, block + 31, block + 32, block + 33,
                           2 * block + 1}) {
    const std::string content = test::MzFile(size, 5);
    FakeFile file(content);
    const ExecutableFacts facts = ExamineExecutable(file, size, ExamineFor::Crc);
    ASSERT_TRUE(facts.crcValid);
    EXPECT_EQ(facts.crc, ReferenceFileCrc(content)) << size << " bytes";
  }
  for (std::size_t offset : {head - 48, head - 1, block - 96, block - 95, block - 48, block - 1, block}) {
    const std::string content = test::PlantHeuristicPattern(test::MzFile(2 * block, 2), offset);
    FakeFile file(content);
    EXPECT_TRUE(ExamineExecutable(file, content.size(), ExamineFor::Pattern).patternFound)
        << "pattern at " << offset;
  }
}

TEST(ExamineExecutable, NotMzStopsAfterTwoBytes) {
  const std::string content = test::PlantHeuristicPattern(std::string(3 * kExamineBlockSize, 'a'), 10);
  FakeFile file(content);
  const ExecutableFacts facts = ExamineExecutable(file, content.size(), ExamineFor::CrcAndPattern);
  EXPECT_FALSE(facts.isMz);
  EXPECT_FALSE(facts.crcValid);
  EXPECT_FALSE(facts.patternFound);
  EXPECT_LE(file.Position(), kExamineHeadSize);
}

TEST(ExamineExecutable, FileThatChangesWhileRead) {
  const std::string content = test::HeuristicFile(400, 400);
  {
    // Cut short to 200 bytes after its size was taken: the answer is that of the
    // 200 bytes that are there, the pattern (at 400) is not.
    FakeFile file(content.substr(0, 200));
    const ExecutableFacts facts = ExamineExecutable(file, content.size(), ExamineFor::CrcAndPattern);
    ASSERT_TRUE(facts.crcValid);
    EXPECT_EQ(facts.crc, ReferenceFileCrc(content.substr(0, 200)));
    EXPECT_FALSE(facts.patternFound);
  }
  {
    // Grown after the open: the bytes appended later are not part of this look.
    FakeFile file(content + test::MzFile(5000, 9));
    const ExecutableFacts facts = ExamineExecutable(file, content.size(), ExamineFor::CrcAndPattern);
    ASSERT_TRUE(facts.crcValid);
    EXPECT_EQ(facts.crc, ReferenceFileCrc(content));
    EXPECT_TRUE(facts.patternFound);
  }
  {
    FakeFile file("MZ" + std::string(10, 'x'));
    EXPECT_FALSE(ExamineExecutable(file, 100000, ExamineFor::CrcAndPattern).crcValid);
  }
}

TEST(ExamineExecutable, ReadErrorGivesNeitherChecksumNorPattern) {
  const std::string content = test::HeuristicFile(10, 100000);
  FakeFile file(content, 4096, 50000);  // fails well after the pattern
  const ExecutableFacts facts = ExamineExecutable(file, content.size(), ExamineFor::CrcAndPattern);
  EXPECT_FALSE(facts.crcValid);
  EXPECT_FALSE(facts.patternFound);
}

TEST(ExamineExecutable, UnreadableFileOnDisk) {
  TempTree tree;
  const std::string path = tree.Write("locked.exe", test::HeuristicFile());
  fs::permissions(path, fs::perms::none);
  const auto result = test::RunWithoutRoot([&] {
    std::uint32_t crc = 0;
    // The child cannot read the file: if it can, the check proves nothing.
    return !IsPEFile(path) && !GetExeCrc(path, crc) && !HeuristicCheck(path) && !FileCrc32(path);
  });
  if (!result) GTEST_SKIP() << "cannot run the check as a user that the permissions keep out";
  EXPECT_TRUE(*result);
}

}  // namespace
}  // namespace korbu
