// korbu's verdicts through a clamd of the test's own, set up with the project's
// clamd settings, against those of the local engine on the same databases: the
// same names for detections, clean files and an archive, over a local socket
// (the descriptor passed) and over TCP (the bytes streamed); a stream past
// clamd's limit and a clamd killed mid-scan give no clean verdict.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/ClamdProcess.h"
#include "cache/VerdictCache.h"
#include "engine/ClamdScanner.h"
#include "engine/VirusClamAV.h"
#include "scan/FileVerdict.h"
#include "scan/ScanSession.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr char kTestFiles[] = "/usr/share/clamav-testfiles";

class ClamdEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = test::ClamdProcess::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }

  // The files both engines judge: detections, clean ones, an archive, and a short
  // "MZ" file the heuristics call broken.
  std::vector<std::string> Files() {
    std::vector<std::string> files = {
        tree_.Write("f/eicar.com", kEicar),
        tree_.Write("f/clean.txt", "just some text\n"),
        tree_.Write("f/empty", ""),
        tree_.Write("f/short.exe", std::string("MZ\x90\0abc", 7)),
        tree_.Write("f/program.exe", test::MzFile(4096, 7)),
        tree_.Write("f/variant.exe", test::VariantFile(1)),
    };
    for (const char* name : {"clam.exe", "clam.zip", "clam-upx.exe", "clam.7z"}) {
      const std::string path = std::string(kTestFiles) + "/" + name;
      if (fs::exists(path)) files.push_back(path);
    }
    return files;
  }

  static FileVerdictResult Judge(EngineScanner* engine, const std::string& path) {
    ScanContext context;
    context.engine = engine;
    context.heuristic = true;
    return JudgeFile(path, context);
  }

  // The local engine as korbu-scan sets it up for a scan with archives.
  TClamAV& LocalEngine() {
    if (!local_) {
      local_ = std::make_unique<TClamAV>();
      SetDatabaseFolder(*local_, test::SharedDir() + "/engine-test-db");
      EXPECT_TRUE(LoadDatabases(*local_)) << DatabaseProblem(*local_);
      local_->SetScanOptions(kScanOptionsWord | kArchiveScanBit);
    }
    return *local_;
  }

  void ExpectSameAsLocal(ClamdScanner& clamd) {
    for (const std::string& file : Files()) {
      const FileVerdictResult mine = Judge(&LocalEngine(), file);
      const FileVerdictResult theirs = Judge(&clamd, file);
      EXPECT_EQ(theirs.verdict, mine.verdict) << file;
      EXPECT_EQ(theirs.error, mine.error) << file;
      EXPECT_EQ(theirs.notWhole.has_value(), mine.notWhole.has_value()) << file;
    }
  }

  test::TempTree tree_;
  std::unique_ptr<TClamAV> local_;
};

TEST_F(ClamdEngine, LocalSocketJudgesAsTheLocalEngine) {
  test::ClamdProcess clamd(tree_.MakeDir("clamd"), false);
  ASSERT_TRUE(clamd.Started()) << clamd.Problem();
  ClamdScanner scanner(clamd.Address());
  Expected<ClamdVersion> version = scanner.QueryVersion();
  ASSERT_TRUE(version) << version.Reason();
  EXPECT_EQ(version->database, "3");  // the daily database's version, as the local engine shows it
  ExpectSameAsLocal(scanner);
  EXPECT_EQ(Judge(&scanner, tree_.Path("f/eicar.com")).verdict, "Eicar-Test-Signature");
  // Over the engine's size limit: not sent, and not judged whole as the local engine says.
  const std::string big = tree_.Write("big.bin", "MZ");
  fs::resize_file(big, 11u << 20);
  const FileVerdictResult over = Judge(&scanner, big);
  ASSERT_TRUE(over.notWhole);
  EXPECT_EQ(over.notWhole, Judge(&LocalEngine(), big).notWhole);
}

TEST_F(ClamdEngine, TcpStreamsTheBytesWithinTheServersLimit) {
  test::ClamdProcess clamd(tree_.MakeDir("clamd"), true, {"StreamMaxLength 20K"});
  ASSERT_TRUE(clamd.Started()) << clamd.Problem();
  ClamdScanner scanner(clamd.Address());
  ExpectSameAsLocal(scanner);

  // Past StreamMaxLength: not scanned whole, even with the detection before the cut.
  const std::string big = tree_.Write("big.com", kEicar + std::string(60000, ' '));
  const FileVerdictResult cut = Judge(&scanner, big);
  EXPECT_EQ(cut.verdict, "");
  ASSERT_TRUE(cut.notWhole) << cut.verdict << " / " << cut.error;
  EXPECT_EQ(cut.notWhole->name, kStreamLimitName);
  EXPECT_EQ(cut.notWhole->value, static_cast<std::int64_t>(fs::file_size(big)));
  // clamd hung up after the cut: the next file gets a fresh session and a verdict.
  EXPECT_EQ(Judge(&scanner, tree_.Path("f/eicar.com")).verdict, "Eicar-Test-Signature");
}

TEST_F(ClamdEngine, ClamdKilledMidScanGivesErrorsAndNoCleanVerdicts) {
  test::ClamdProcess clamd(tree_.MakeDir("clamd"), false);
  ASSERT_TRUE(clamd.Started()) << clamd.Problem();
  std::vector<std::string> files;
  for (int i = 0; i < 200; ++i) files.push_back(tree_.Write("many/f" + std::to_string(i) + ".txt", "text " + std::to_string(i)));
  ClamdScanner scanner(clamd.Address(), ClamdTimeouts{std::chrono::milliseconds(500), std::chrono::milliseconds(2000)});
  // Four workers judge the files while clamd is killed part way.
  std::atomic<int> next{0};
  std::atomic<int> clean{0};
  std::atomic<int> errors{0};
  std::atomic<int> other{0};
  std::atomic<bool> killed{false};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = next++; i < static_cast<int>(files.size()); i = next++) {
        const bool afterKill = killed.load();
        const FileVerdictResult result = Judge(&scanner, files[static_cast<std::size_t>(i)]);
        if (result.JudgedWhole() && result.verdict.empty()) {
          ++clean;
          if (afterKill) ++other;  // a clean verdict from a clamd already gone
        } else if (!result.error.empty()) {
          ++errors;
        }
      }
    });
  }
  while (next.load() < 50) std::this_thread::yield();
  clamd.Kill();
  killed = true;
  for (std::thread& worker : workers) worker.join();
  EXPECT_GT(clean.load(), 0);
  EXPECT_GT(errors.load(), 0);
  EXPECT_EQ(clean.load() + errors.load(), 200);
  EXPECT_EQ(other.load(), 0);
}

// clamd's version line keys the cache: verdicts kept under one clamd database are
// judged again under another, and a clamd that tells no version keeps nothing.
TEST(ClamdVerdictCache, CleanVerdictsAreKeyedByTheServersVersion) {
  test::TempTree tree;
  const std::string file = tree.Write("c/clean.txt", "clean\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // not changed in the tick it is judged in
  auto cache = cache::VerdictCache::Open(tree.MakeDir("cache"));
  ASSERT_TRUE(cache) << cache.Reason();
  const auto begin = [&](const std::string& version) {
    cache::VerdictSettings settings;
    settings.heuristic = true;
    settings.engineServer = version;
    return (*cache)->BeginScan(settings);
  };
  const auto fromCache = [&] {
    platform::OpenedFile opened = platform::OpenedFile::Open(file);
    Expected<platform::FileStamp> stamp = platform::StampOf(opened);
    return stamp && (*cache)->Find(*stamp).kind == cache::VerdictCache::Answer::Kind::Clean;
  };
  ASSERT_TRUE(begin("ClamAV 1.4.6/27000/Wed Dec  9 09:34:52 2026"));
  ASSERT_FALSE(fromCache());
  {
    platform::OpenedFile opened = platform::OpenedFile::Open(file);
    Expected<platform::FileStamp> stamp = platform::StampOf(opened);
    ASSERT_TRUE(stamp);
    if (!stamp->trusted) GTEST_SKIP() << "the temporary folder's file system has no stamps the cache trusts";
    (*cache)->KeepClean(*stamp, platform::NowNs(), MatchedAs::Unknown);
  }
  ASSERT_TRUE(begin("ClamAV 1.4.6/27000/Wed Dec  9 09:34:52 2026"));
  EXPECT_TRUE(fromCache());
  ASSERT_TRUE(begin("ClamAV 1.4.6/27001/Thu Dec 10 09:34:52 2026"));
  EXPECT_FALSE(fromCache());
  ASSERT_TRUE(begin("ClamAV 1.4.7/27000/Wed Dec  9 09:34:52 2026"));
  EXPECT_FALSE(fromCache());
  EXPECT_FALSE(begin(""));
}

}  // namespace
}  // namespace korbu
