#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "cli/RowTexts.h"
#include "dispatch/QueuedDispatcher.h"
#include "engine/VirusClamAV.h"
#include "scan/ScanSession.h"
#include "scan/ScanTexts.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "support/WinePrefixFixture.h"

namespace korbu {
namespace {
using test::TempTree;

class FakeFrontEnd : public ScanFrontEnd {
 public:
  ScanOptions options;
  DetectionList list;
  std::vector<std::string> operations;
  std::vector<std::string> objects;
  std::thread::id mainThread = std::this_thread::get_id();
  bool offMainThread = false;

  ScanOptions ReadOptions() const override { return options; }
  DetectionList& Detections() override {
    Check();
    return list;
  }
  void ShowOperation(const std::string& text) override {
    Check();
    operations.push_back(text);
  }
  void ShowObject(const std::string& text) override {
    Check();
    objects.push_back(text);
  }
  void ProcessPendingMessages() override {}

 private:
  void Check() {
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
  }
};

struct Scan {
  explicit Scan(const ScanOptions& options) { frontEnd.options = options; }
  void Run(ScanSession::Phases phases = {false, false}) {
    session.RunScan(phases);
    session.WaitForEnd();
  }
  FakeFrontEnd frontEnd;
  QueuedDispatcher dispatcher;
  ScanSession session{frontEnd, dispatcher, nullptr};
};

std::vector<std::string> Names(const DetectionList& list) {
  std::vector<std::string> out;
  for (const auto& row : list.Rows()) out.push_back(RowFileName(row) + "|" + row.virusName + "|" + RowInformation(row));
  return out;
}

TEST(ScanSession, WalkJudgesEveryReportedFileOnTheMainThreadsList) {
  TempTree tree;
  const std::string worm = tree.Write("a/b/worm.exe", test::VariantFile(7));
  const std::string heur = tree.Write("a/new.dll", test::HeuristicFile());
  tree.Write("a/clean.txt", "hello");
  std::string big = test::ForgeFileWithCrc(test::MzFile(kWalkSizeLimit + 1 - 36), 0x55B54AF5);
  ASSERT_EQ(big.size(), kWalkSizeLimit + 1u);
  tree.Write("big.exe", big);
  std::string edge = test::ForgeFileWithCrc(test::MzFile(kWalkSizeLimit - 36), 0x55B54AF5);
  const std::string edgePath = tree.Write("edge.exe", edge);

  ScanOptions options;
  options.location = tree.Path();
  Scan scan(options);
  scan.Run();
  EXPECT_FALSE(scan.frontEnd.offMainThread);
  EXPECT_EQ(scan.session.FilesScanned(), 4);  // big.exe is over the size limit
  EXPECT_EQ(scan.session.FoldersScanned(), 3);
  auto rows = Names(scan.frontEnd.list);
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> expected{heur + "|Brontok.Variant|", worm + "|Brontok-12B|",
                                    edgePath + "|Brontok-1|"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(rows, expected);
  ASSERT_FALSE(scan.frontEnd.operations.empty());
  EXPECT_EQ(scan.frontEnd.operations.front(), kScanningFilesText);
  EXPECT_EQ(scan.frontEnd.operations.back(), SummaryLine(4, 3));
  EXPECT_EQ(scan.frontEnd.objects.back(), "");
}

TEST(ScanSession, OptionsNarrowTheWalk) {
  TempTree tree;
  tree.Write("top.com", test::VariantFile(1));
  tree.Write("top.dll", test::VariantFile(2));
  tree.Write("top.exe", test::HeuristicFile());
  tree.Write("sub/deep.exe", test::VariantFile(3));

  ScanOptions options;
  options.location = tree.Path();
  options.subfolders = false;
  options.allFiles = false;
  options.heuristic = false;
  Scan scan(options);
  scan.Run();
  EXPECT_FALSE(scan.session.Context().heuristic);
  EXPECT_EQ(scan.session.FilesScanned(), 2);  // top.com and top.exe
  EXPECT_EQ(scan.session.FoldersScanned(), 1);
  EXPECT_EQ(Names(scan.frontEnd.list), (std::vector<std::string>{tree.Path("top.com") + "|Brontok-1|"}));
}

TEST(ScanSession, NoLocationWalksNothingButStillEnds) {
  Scan scan(ScanOptions{});
  scan.Run();
  EXPECT_EQ(scan.session.FilesScanned(), 0);
  EXPECT_EQ(scan.frontEnd.operations.back(), SummaryLine(0, 0));
  EXPECT_FALSE(scan.session.Busy());
}

TEST(ScanSession, AFileAlreadyListedGetsNoSecondRow) {
  TempTree tree;
  const std::string worm = tree.Write("worm.exe", test::VariantFile(4));
  ScanOptions options;
  options.location = tree.Path();
  Scan scan(options);
  scan.frontEnd.list.AddDetection(worm, "Brontok-5", DetectionKind::Program);
  scan.Run();
  ASSERT_EQ(scan.frontEnd.list.Count(), 1u);
  EXPECT_EQ(scan.frontEnd.list.Row(0).kind, DetectionKind::Program);
}

TEST(ScanSession, AbortStopsTheWalkAndShowsTheCountsSoFar) {
  TempTree tree;
  for (int i = 0; i < 300; ++i) tree.Write("d" + std::to_string(i % 10) + "/f" + std::to_string(i), "x");
  ScanOptions options;
  options.location = tree.Path();
  Scan scan(options);
  bool aborted = false;
  scan.session.OnWalkAbort = [&] { aborted = true; };
  scan.session.RunScan(ScanSession::Phases{false, false});
  scan.session.Abort();
  EXPECT_FALSE(scan.session.Busy());
  EXPECT_TRUE(aborted);
  EXPECT_EQ(scan.frontEnd.operations.back(),
            SummaryLine(scan.session.FilesScanned(), scan.session.FoldersScanned()));
}

// A tree with detections of both own kinds spread among clean files over folders.
std::string MakeMixedTree(const TempTree& tree) {
  for (int i = 0; i < 240; ++i) {
    const std::string folder = "d" + std::to_string(i % 7) + "/s" + std::to_string(i % 3) + "/";
    const std::string name = folder + "f" + std::to_string(i);
    if (i % 11 == 0) {
      tree.Write(name + ".exe", test::VariantFile(1 + i % 16));
    } else if (i % 13 == 0) {
      tree.Write(name + ".dll", test::HeuristicFile());
    } else {
      tree.Write(name + ".txt", test::MzFile(64 + i));
    }
  }
  return tree.Path();
}

struct WalkOutcome {
  std::vector<std::string> rows;
  std::int32_t files = 0;
  std::int32_t folders = 0;
};

WalkOutcome ScanWithWorkers(const std::string& location, unsigned workers) {
  ScanOptions options;
  options.location = location;
  Scan scan(options);
  scan.session.SetVerdictWorkers(workers);
  scan.Run();
  EXPECT_FALSE(scan.frontEnd.offMainThread);
  return {Names(scan.frontEnd.list), scan.session.FilesScanned(), scan.session.FoldersScanned()};
}

TEST(ScanSession, SeveralVerdictWorkersGiveTheRowsAndCountsOfOneInWalkOrder) {
  TempTree tree;
  const std::string root = MakeMixedTree(tree);
  const WalkOutcome one = ScanWithWorkers(root, 1);
  ASSERT_EQ(one.files, 240);
  ASSERT_EQ(one.rows.size(), 22u + 17u);  // every 11th a variant, every 13th (not 11th) heuristic
  for (unsigned workers : {2u, 4u}) {
    const WalkOutcome several = ScanWithWorkers(root, workers);
    EXPECT_EQ(several.rows, one.rows) << workers << " workers";
    EXPECT_EQ(several.files, one.files);
    EXPECT_EQ(several.folders, one.folders);
  }
}

TEST(ScanSession, StopDuringAParallelWalkEndsPromptlyWithRowsInWalkOrder) {
  TempTree tree;
  const std::string root = MakeMixedTree(tree);
  const std::vector<std::string> all = ScanWithWorkers(root, 1).rows;
  for (int round = 0; round < 5; ++round) {
    ScanOptions options;
    options.location = root;
    Scan scan(options);
    scan.session.SetVerdictWorkers(3);
    scan.session.RunScan(ScanSession::Phases{false, false});
    std::this_thread::sleep_for(std::chrono::milliseconds(round));
    scan.session.Abort();
    EXPECT_FALSE(scan.session.Busy());
    // Whatever was added is a part of the full list, in the same order.
    const std::vector<std::string> rows = Names(scan.frontEnd.list);
    auto next = all.begin();
    for (const std::string& row : rows) {
      next = std::find(next, all.end(), row);
      ASSERT_NE(next, all.end()) << row << " out of walk order or unknown";
    }
    EXPECT_EQ(scan.frontEnd.operations.back(),
              SummaryLine(scan.session.FilesScanned(), scan.session.FoldersScanned()));
  }
}

#ifndef _WIN32  // a handwritten Wine prefix stands for the registry on POSIX only
class RegistryScanTest : public ::testing::Test {
 protected:
  static std::string RunKeyBlock(const std::string& key, const std::string& values) {
    return "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\" + key + "] 1700000000\n" + values + "\n";
  }
};

TEST_F(RegistryScanTest, RunValuesNamingInfectedFilesAreListedAndNothingIsChanged) {
  const std::string system = RunKeyBlock(
      "Run",
      "\"worm\"=" + test::WineRegString("C:\\windows\\worm.exe") + "\n" +
      "\"quoted\"=" + test::WineRegString("\"C:\\Program Files\\App\\app.exe\" -autorun /x") + "\n" +
      "\"missing\"=" + test::WineRegString("C:\\windows\\gone.exe") + "\n" +
      "\"expand\"=str(2):" + test::WineRegString("%SystemRoot%\\system32\\svc.exe") + "\n" +
      "\"number\"=dword:00000001\n");
  const std::string user = RunKeyBlock(
      "RunOnce", "\"later\"=" + test::WineRegString("C:\\users\\tester\\AppData\\Local\\b.exe") + "\n");
  test::WinePrefixFixture prefix(system, user);
  prefix.WriteC("windows/worm.exe", test::VariantFile(3));
  prefix.WriteC("Program Files/App/app.exe", test::VariantFile(5));
  prefix.WriteC("windows/system32/svc.exe", test::VariantFile(6));
  prefix.WriteC("users/tester/AppData/Local/b.exe", test::VariantFile(16));
  const std::string before = prefix.Snapshot();

  Scan scan(ScanOptions{});
  scan.Run(ScanSession::Phases{false, true});
  const std::string run = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\";
  const std::string runOnce = "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";
  // Each value is followed by the program it starts, a file row of its own.
  EXPECT_EQ(Names(scan.frontEnd.list),
            (std::vector<std::string>{run + "worm|Brontok-4|Registry was infected",
                                      prefix.DriveC("windows/worm.exe") + "|Brontok-4|",
                                      run + "quoted|Brontok-10|Registry was infected",
                                      prefix.DriveC("Program Files/App/app.exe") + "|Brontok-10|",
                                      run + "expand|Brontok-12|Registry was infected",
                                      prefix.DriveC("windows/system32/svc.exe") + "|Brontok-12|",
                                      runOnce + "later|Brontok-18R|Registry was infected",
                                      prefix.LocalAppData() + "/b.exe|Brontok-18R|"}));
  // A scan reads the registry only: the value naming a missing file stays too.
  EXPECT_EQ(prefix.Snapshot(), before);
}

// Two values starting one program, and a walk over its folder: one row for it.
TEST_F(RegistryScanTest, AProgramStartedByRunValuesIsListedOnce) {
  const std::string system = RunKeyBlock("Run", "\"a\"=" + test::WineRegString("C:\\windows\\worm.exe") + "\n" +
                                                    "\"b\"=" + test::WineRegString("C:\\windows\\worm.exe") + "\n");
  test::WinePrefixFixture prefix(system, std::string());
  prefix.WriteC("windows/worm.exe", test::VariantFile(3));
  ScanOptions options;
  options.location = prefix.WindowsFolder();
  options.allFiles = true;
  Scan scan(options);
  scan.Run(ScanSession::Phases{false, true});
  const std::string run = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\";
  EXPECT_EQ(Names(scan.frontEnd.list),
            (std::vector<std::string>{run + "a|Brontok-4|Registry was infected",
                                      prefix.DriveC("windows/worm.exe") + "|Brontok-4|",
                                      run + "b|Brontok-4|Registry was infected"}));
}

TEST_F(RegistryScanTest, NoPrefixMeansNoRegistryRows) {
  test::ScopedEnvironment noPrefix("WINEPREFIX", std::string("/nonexistent-prefix"));
  Scan scan(ScanOptions{});
  scan.Run(ScanSession::Phases{false, true});
  EXPECT_EQ(scan.frontEnd.list.Count(), 0u);
}
#endif

}  // namespace
}  // namespace korbu
