#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "detect/ExecutableFile.h"
#include "detect/Heuristic.h"
#include "detect/VariantTable.h"
#include "scan/FileVerdict.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "WithoutRoot.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::TempTree;

// Stands in for the signature engine: answers one name for every file and
// remembers what it was asked.
class FakeEngine : public EngineScanner {
 public:
  FakeEngine(bool active, std::string name) : active_(active) { answer.virusName = std::move(name); }
  bool IsActive() const override { return active_; }
  EngineVerdict ScanForVirus(platform::OpenedFile& file) override {
    asked.push_back(file.Size());
    return answer;
  }
  std::vector<std::uint64_t> asked;  // the sizes of the files it was handed
  EngineVerdict answer;

 private:
  bool active_;
};

class FileVerdictTest : public ::testing::Test {
 protected:
  std::string Verdict(const std::string& path, EngineScanner* source, bool heuristic) {
    std::string verdict = "left over";
    const bool infected = ScanFile(path, verdict, source, heuristic);
    EXPECT_EQ(infected, !verdict.empty()) << path;
    return verdict;
  }

  TempTree tree;
  FakeEngine inactive{false, "Never.Asked"};
  FakeEngine engine{true, "Engine.Name"};
  FakeEngine silentEngine{true, ""};
};

TEST_F(FileVerdictTest, VariantTableWithoutEngine) {
  const std::string path = tree.Write("v7.exe", test::VariantFile(7));
  EXPECT_EQ(Verdict(path, nullptr, false), "Brontok-12B");
  EXPECT_EQ(Verdict(path, &inactive, false), "Brontok-12B");
  EXPECT_TRUE(inactive.asked.empty()) << "an inactive engine was asked";
}

TEST_F(FileVerdictTest, TableThenHeuristicThenEngine) {
  const std::string variant = tree.Write("v3.exe", test::VariantFile(3));
  const std::string patterned = tree.Write("pattern.exe", test::HeuristicFile());
  const std::string both = tree.Write("both.exe", test::ForgeFileWithCrc(test::HeuristicFile(), VariantCrcTable[12]));
  const std::string clean = tree.Write("clean.exe", test::MzFile(4000));

  EXPECT_EQ(Verdict(variant, &engine, true), "Brontok-4");
  EXPECT_EQ(Verdict(variant, &engine, false), "Brontok-4");
  EXPECT_EQ(Verdict(patterned, &engine, true), "Brontok.Variant");
  EXPECT_EQ(Verdict(patterned, &engine, false), "Engine.Name");
  EXPECT_EQ(Verdict(patterned, nullptr, true), "Brontok.Variant");
  EXPECT_EQ(Verdict(patterned, &silentEngine, true), "Brontok.Variant");
  EXPECT_EQ(Verdict(both, &engine, true), "Brontok-17A");
  EXPECT_EQ(Verdict(clean, &engine, true), "Engine.Name");
  EXPECT_EQ(Verdict(clean, &silentEngine, true), "");
  // The engine is asked for every file, even those the own tests name.
  EXPECT_EQ(engine.asked.size(), 6u);
}

TEST_F(FileVerdictTest, NothingToFindGivesAnEmptyVerdict) {
  const std::vector<std::string> paths = {
      tree.Write("text.txt", test::PlantHeuristicPattern(std::string(500, 't'), 100)),
      tree.Write("empty.exe", ""),
      tree.Write("tiny.exe", "MZ"),
  };
  for (const std::string& path : paths) {
    EXPECT_EQ(Verdict(path, nullptr, true), "") << path;
    EXPECT_EQ(Verdict(path, &engine, true), "Engine.Name") << path;
  }
}

TEST_F(FileVerdictTest, WhatCannotBeOpenedReachesNoTestAndTellsWhy) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {tree.Path("missing.exe"), "No such file or directory"},
      {tree.MakeDir("folder.exe"), "not a regular file"},
  };
#ifndef _WIN32
  // A link is not followed, even to a known variant; a FIFO is not waited on.
  fs::create_symlink(tree.Write("v2.exe", test::VariantFile(2)), tree.Path("link.exe"));
  ASSERT_EQ(::mkfifo(tree.Path("fifo.exe").c_str(), 0600), 0);
  cases.emplace_back(tree.Path("link.exe"), "not a regular file");
  cases.emplace_back(tree.Path("fifo.exe"), "not a regular file");
#endif
  for (const auto& [path, why] : cases) {
    std::string verdict = "left over";
    std::string error;
    EXPECT_FALSE(ScanFile(path, verdict, &engine, true, &error)) << path;
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(error, why) << path;
  }
  EXPECT_TRUE(engine.asked.empty()) << "the engine was handed what could not be opened";
  std::string verdict;
  std::string error = "left over";
  EXPECT_TRUE(ScanFile(tree.Write("v1.exe", test::VariantFile(1)), verdict, &engine, true, &error));
  EXPECT_EQ(error, "");
}

TEST_F(FileVerdictTest, AFileTheEngineCouldNotJudgeWholeIsNeverJustClean) {
  silentEngine.answer.notWhole = EngineLimitReached{"maxfilesize", 10485760};
  FileVerdictResult result = JudgeFile(tree.Write("big.bin", "data"), ScanContext{&silentEngine, true});
  EXPECT_EQ(result.verdict, "");
  EXPECT_EQ(result.notWhole, silentEngine.answer.notWhole);
  EXPECT_FALSE(result.JudgedWhole());
  // An own test that names it still decides the verdict.
  result = JudgeFile(tree.Write("v3.exe", test::VariantFile(3)), ScanContext{&silentEngine, true});
  EXPECT_EQ(result.verdict, "Brontok-4");
  EXPECT_TRUE(JudgeFile(tree.Write("small.bin", "data"), ScanContext{&engine, true}).JudgedWhole());
}

TEST_F(FileVerdictTest, EachCallStartsFromAnEmptyVerdict) {
  std::string verdict;
  EXPECT_TRUE(ScanFile(tree.Write("v1.exe", test::VariantFile(1)), verdict, nullptr, false));
  EXPECT_EQ(verdict, "Brontok-1");
  EXPECT_FALSE(ScanFile(tree.Write("clean.exe", test::MzFile(100)), verdict, nullptr, false));
  EXPECT_EQ(verdict, "");
}

TEST_F(FileVerdictTest, ContextFormReadsTheScansSources) {
  const std::string patterned = tree.Write("pattern.exe", test::HeuristicFile());
  std::string verdict;
  EXPECT_FALSE(ScanFile(patterned, verdict, ScanContext{nullptr, false}));
  EXPECT_TRUE(ScanFile(patterned, verdict, ScanContext{nullptr, true}));
  EXPECT_EQ(verdict, "Brontok.Variant");
  EXPECT_TRUE(ScanFile(patterned, verdict, ScanContext{&engine, false}));
  EXPECT_EQ(verdict, "Engine.Name");
}

TEST_F(FileVerdictTest, LargeFileIsStreamedAcrossBlocks) {
  // Several blocks, the pattern across the first boundary, the checksum forged:
  // every part of the file has to be read and carried over correctly.
  const std::size_t block = kExamineBlockSize;
  std::string body = test::PlantHeuristicPattern(test::MzFile(3 * block + 12345, 4), block - 40);
  const std::string forged = tree.Write("big-v16.exe", test::ForgeFileWithCrc(body, VariantCrcTable[15]));
  const std::string patterned = tree.Write("big.exe", body);
  EXPECT_EQ(Verdict(forged, &engine, true), "Brontok-18R");
  EXPECT_EQ(Verdict(patterned, &engine, true), "Brontok.Variant");
  EXPECT_EQ(Verdict(patterned, nullptr, false), "");
}

TEST_F(FileVerdictTest, UnreadableFileGetsNoVerdictFromAnyTest) {
  const std::string path = tree.Write("locked.exe", test::HeuristicFile(10, 10));
  const std::string forged = tree.Write("locked-v2.exe", test::VariantFile(2));
  fs::permissions(path, fs::perms::none);
  fs::permissions(forged, fs::perms::none);
  const auto result = test::RunWithoutRoot([&] {
    if (IsPEFile(path)) return false;  // readable after all: nothing would be shown
    std::string verdict = "left over";
    std::string error;
    FakeEngine named(true, "Engine.Name");
    bool sound = !ScanFile(path, verdict, nullptr, true) && verdict.empty();
    sound = sound && !ScanFile(forged, verdict, nullptr, true);
    sound = sound && !ScanFile(path, verdict, &named, true, &error) && named.asked.empty();
    return sound && error == "Permission denied";
  });
  if (!result) GTEST_SKIP() << "cannot run the check as a user that the permissions keep out";
  EXPECT_TRUE(*result);
}

}  // namespace
}  // namespace korbu
