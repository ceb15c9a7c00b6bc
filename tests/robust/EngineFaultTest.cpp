// Signature databases that are damaged, or replaced while the engine component
// loads them over the real engine library: a load either gives the whole database
// or fails cleanly, and the scanner runs on with its own detection either way.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/ClamAV.h"
#include "engine/LibClamAV.h"
#include "scan/FileVerdict.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

// Both test databases together, and the daily one alone.
constexpr std::uint32_t kWholeSignatureCount = 17;
constexpr std::uint32_t kDailySignatureCount = 7;
constexpr char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

class EngineDatabaseFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
    const std::string shared = test::SharedDir() + "/engine-test-db";
    if (!fs::exists(shared + "/main.cvd") || !fs::exists(shared + "/daily.cvd")) {
      GTEST_SKIP() << "no test databases in " << shared;
    }
    if (!fs::exists(test::BuildDir() + "/" + kEngineLibraryFileName)) GTEST_SKIP() << "engine library not built";
    ResetEngineLibraryForTests();
    db_ = tree_.MakeDir("db");
    for (const char* name : {"main.cvd", "daily.cvd"}) {
      fs::copy_file(shared + "/" + name, db_ + "/" + name);
      // The shared files are read-only; the copies are there to be damaged.
      fs::permissions(db_ + "/" + name, fs::perms::owner_write, fs::perm_options::add);
    }
    daily_ = ReadFileBytes(db_ + "/daily.cvd");
    ASSERT_GT(daily_.size(), 1024u);
    variant_ = tree_.Write("worm.exe", test::VariantFile(3));
    heuristic_ = tree_.Write("new.exe", test::HeuristicFile());
    eicar_ = tree_.Write("eicar.com", kEicar);
  }
  void TearDown() override { ResetEngineLibraryForTests(); }

  // The own detection, with the engine asked first as the scanner does.
  void ExpectOwnDetection(TClamAV& engine) {
    std::string verdict;
    EXPECT_TRUE(ScanFile(variant_, verdict, &engine, true));
    EXPECT_EQ(verdict, "Brontok-4");
    EXPECT_TRUE(ScanFile(heuristic_, verdict, &engine, true));
    EXPECT_EQ(verdict, "Brontok.Variant");
  }

  test::TempTree tree_;
  std::string db_;
  std::string daily_;
  std::string variant_;
  std::string heuristic_;
  std::string eicar_;
};

TEST_F(EngineDatabaseFaults, DamagedDatabaseFailsTheLoadAndTheOwnDetectionRunsOn) {
  const std::string garbage(4096, '\x5a');
  const struct {
    const char* what;
    std::string bytes;
  } damaged[] = {
      {"empty", ""},
      {"header only", daily_.substr(0, 512)},
      {"cut in half", daily_.substr(0, daily_.size() / 2)},
      {"one byte short", daily_.substr(0, daily_.size() - 1)},
      {"header and garbage", daily_.substr(0, 512) + garbage},
  };
  for (const auto& each : damaged) {
    SCOPED_TRACE(each.what);
    WriteFileBytes(db_ + "/daily.cvd", each.bytes);
    for (bool oneFile : {false, true}) {
      TClamAV engine;
      ASSERT_TRUE(engine.LibraryLoaded());
      if (oneFile) engine.SetDBFile(db_ + "/daily.cvd"); else engine.SetDBDir(db_);
      engine.SetScanOptions(878);
      engine.SetActive(true);
      EXPECT_FALSE(engine.Active()) << (oneFile ? "the file alone" : "the folder");
      EXPECT_EQ(engine.Scan(eicar_), "");
      ExpectOwnDetection(engine);
    }
  }
  // A signature file without signatures loads as an engine with nothing in it,
  // which is no loaded database either.
  for (const char* name : {"empty.hdb", "comments.ndb"}) {
    SCOPED_TRACE(name);
    TClamAV engine;
    engine.SetDBFile(tree_.Write(name, std::string(name) == "empty.hdb" ? "" : "# nothing here\n"));
    engine.SetActive(true);
    EXPECT_FALSE(engine.Active());
    EXPECT_EQ(engine.SignatureCount(), 0u);
    ExpectOwnDetection(engine);
  }
  // Whole again, the same component loads it.
  WriteFileBytes(db_ + "/daily.cvd", daily_);
  TClamAV engine;
  engine.SetDBDir(db_);
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());
  EXPECT_EQ(engine.SignatureCount(), kWholeSignatureCount);
}

// Replaces the database over and over while it runs: by a rename of a whole copy,
// as an updater does, or also by rewriting it in place in pieces, as a plain copy
// does.
class DatabaseChurn {
 public:
  DatabaseChurn(std::string path, std::string bytes, bool inPlace)
      : path_(std::move(path)), bytes_(std::move(bytes)), inPlace_(inPlace) {
    thread_ = std::thread([this] { Run(); });
  }
  ~DatabaseChurn() { Stop(); }
  DatabaseChurn(const DatabaseChurn&) = delete;
  DatabaseChurn& operator=(const DatabaseChurn&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int Rounds() const { return rounds_; }

 private:
  void Run() {
    const std::string spare = path_ + ".new";
    while (!stop_) {
      WriteFileBytes(spare, bytes_);
      fs::rename(spare, path_);
      // Whole for a while, so that some loads see it so.
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      if (inPlace_) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        const std::size_t piece = bytes_.size() / 4 + 1;
        for (std::size_t at = 0; at < bytes_.size() && !stop_; at += piece) {
          out.write(bytes_.data() + at, static_cast<std::streamsize>(std::min(piece, bytes_.size() - at)));
          out.flush();
          std::this_thread::yield();
        }
      }
      ++rounds_;
    }
    WriteFileBytes(path_, bytes_);
  }

  const std::string path_;
  const std::string bytes_;
  const bool inPlace_;
  std::atomic<bool> stop_{false};
  std::atomic<int> rounds_{0};
  std::thread thread_;
};

struct LoadOutcomes {
  int whole = 0;
  int refused = 0;
};

// Reloads the engine while the database churns; every load that makes the engine
// active must have the whole database (both files, or daily.cvd alone).
LoadOutcomes LoadRepeatedly(TClamAV& engine, const std::string& db, const std::string& eicar, bool folders) {
  LoadOutcomes outcomes;
  for (int round = 0; round < 100; ++round) {
    const bool oneFile = !folders || round % 2 == 1;
    engine.SetDBFile(oneFile ? db + "/daily.cvd" : std::string());
    engine.SetDBDir(db);
    engine.SetActive(false);
    engine.SetActive(true);
    if (!engine.Active()) {
      ++outcomes.refused;
      continue;
    }
    ++outcomes.whole;
    if (oneFile) {
      EXPECT_EQ(engine.SignatureCount(), kDailySignatureCount) << "round " << round;
    } else {
      EXPECT_EQ(engine.SignatureCount(), kWholeSignatureCount) << "round " << round;
      EXPECT_EQ(engine.Scan(eicar), "Eicar-Test-Signature") << "round " << round;
    }
  }
  return outcomes;
}

TEST_F(EngineDatabaseFaults, DatabaseReplacedWhileLoadingGivesAWholeDatabaseOrNone) {
  TClamAV engine;
  ASSERT_TRUE(engine.LibraryLoaded());
  engine.SetScanOptions(878);
  const struct {
    const char* what;
    bool inPlace;
    bool folders;
  } churns[] = {
      {"renamed, folder and file loads", false, true},
      {"rewritten in place, file loads", true, false},
  };
  for (const auto& churn : churns) {
    SCOPED_TRACE(churn.what);
    DatabaseChurn writer(db_ + "/daily.cvd", daily_, churn.inPlace);
    const LoadOutcomes outcomes = LoadRepeatedly(engine, db_, eicar_, churn.folders);
    writer.Stop();
    ExpectOwnDetection(engine);
    RecordProperty(std::string(churn.inPlace ? "in_place" : "renamed") + "_loads_whole", outcomes.whole);
    RecordProperty(std::string(churn.inPlace ? "in_place" : "renamed") + "_loads_refused", outcomes.refused);
    std::printf("database %s: %d loads whole, %d refused\n", churn.what, outcomes.whole, outcomes.refused);
  }

  // Left whole, it loads again.
  engine.SetDBFile("");
  engine.SetActive(false);
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());
  EXPECT_EQ(engine.SignatureCount(), kWholeSignatureCount);
  EXPECT_EQ(engine.Scan(eicar_), "Eicar-Test-Signature");
  ExpectOwnDetection(engine);
}

}  // namespace
}  // namespace korbu
