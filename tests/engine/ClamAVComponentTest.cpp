#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "EngineTestSupport.h"
#include "engine/ClamAV.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

class ClamAVComponent : public test::FakeEngineTest {
 protected:
  test::TempTree tree_;
};

TEST_F(ClamAVComponent, ActivationLoadsFilePreferablyAndOnlyOnce) {
  TClamAV engine;
  ASSERT_TRUE(engine.LibraryLoaded());
  engine.SetActive(true);  // neither DBFile nor DBDir
  EXPECT_FALSE(engine.Active());
  EXPECT_EQ(Record().loaddbCalls + Record().loaddbdirCalls, 0);

  engine.SetDBDir(tree_.MakeDir("good-dir"));
  engine.SetDBFile(tree_.Write("good.cvd", ""));
  engine.SetActive(true);
  EXPECT_TRUE(engine.Active());
  EXPECT_EQ(Record().loaddbCalls, 1);
  EXPECT_EQ(Record().loaddbdirCalls, 0);
  EXPECT_EQ(engine.SignatureCount(), 7u);

  engine.SetActive(true);  // already active: nothing reloaded
  EXPECT_EQ(Record().loaddbCalls, 1);
  EXPECT_EQ(Record().freeCalls, 0);

  // Deactivation keeps the engine; the next activation releases it and loads anew.
  engine.SetActive(false);
  EXPECT_NE(engine.Engine(), nullptr);
  EXPECT_EQ(Record().freeCalls, 0);
  engine.SetDBFile("");
  engine.SetActive(true);
  EXPECT_EQ(Record().freeCalls, 1);
  EXPECT_EQ(Record().loaddbdirCalls, 1);
  EXPECT_EQ(engine.SignatureCount(), 12u);
  EXPECT_TRUE(engine.Active());
}

TEST_F(ClamAVComponent, FailedLoadOrBuildLeavesItInactive) {
  TClamAV engine;
  engine.SetDBDir(tree_.MakeDir("good"));
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());
  engine.SetActive(false);

  engine.SetDBDir(tree_.MakeDir("missing"));
  engine.SetActive(true);
  EXPECT_FALSE(engine.Active());
  EXPECT_EQ(engine.Engine(), nullptr);
  EXPECT_EQ(engine.SignatureCount(), 0u);  // not the count of the earlier load
  EXPECT_EQ(Record().freeCalls, 1);

  engine.SetDBDir(tree_.MakeDir("good-nobuild"));
  engine.SetActive(true);
  EXPECT_FALSE(engine.Active());
  EXPECT_NE(engine.Engine(), nullptr);
  EXPECT_EQ(engine.Scan(tree_.Write("infected", "NAME:X")), "");
  EXPECT_EQ(Record().scandescCalls, 0);
}

TEST_F(ClamAVComponent, ScanHandsOverLimitsRecordAndOptionWord) {
  TClamAV engine;
  std::string clean = tree_.Write("clean", "nothing here");
  EXPECT_EQ(engine.Scan(clean), "");
  EXPECT_EQ(Record().scandescCalls, 0) << "an inactive engine must not call the library";

  engine.SetDBDir(tree_.MakeDir("good"));
  engine.SetActive(true);
  engine.SetScanOptions(879);
  EXPECT_EQ(engine.Scan(clean), "");
  ASSERT_EQ(Record().scandescCalls, 1);
  EXPECT_EQ(Record().lastOptions, 879u);
  // Read back from the bytes the library was given, at the record's offsets.
  auto int32At = [&](std::size_t offset) {
    std::int32_t value = 0;
    std::memcpy(&value, Record().lastLimits + offset, sizeof value);
    return value;
  };
  auto int16At = [&](std::size_t offset) {
    std::int16_t value = 0;
    std::memcpy(&value, Record().lastLimits + offset, sizeof value);
    return value;
  };
  EXPECT_EQ(int32At(0), 6);
  EXPECT_EQ(int32At(4), 1000);
  EXPECT_EQ(int32At(8), 1000);
  EXPECT_EQ(int16At(12), 0);
  EXPECT_EQ(int32At(16), 10485760);

  engine.SetScanOptions(878);
  engine.Limits().maxfilesize = 123;
  engine.Limits().archivememlim = -2;
  engine.Scan(clean);
  EXPECT_EQ(Record().lastOptions, 878u);
  EXPECT_EQ(int32At(16), 123);
  EXPECT_EQ(int16At(12), -2);
}

TEST_F(ClamAVComponent, VirusNameOnlyForResultOneAndNeverBeyondTheBuffer) {
  TClamAV engine;
  engine.SetDBDir(tree_.MakeDir("good"));
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());

  EXPECT_EQ(engine.Scan(tree_.Write("a", "NAME:Worm.Test")), "Worm.Test");
  EXPECT_EQ(engine.VirusName(), "Worm.Test");
  // Any other code is no virus, whatever the buffer holds; the old name is gone.
  EXPECT_EQ(engine.Scan(tree_.Write("b", "CODE:2")), "");
  EXPECT_EQ(engine.VirusName(), "");
  EXPECT_EQ(engine.Scan(tree_.Write("c", "CODE:0")), "");
  EXPECT_EQ(engine.Scan(tree_.Write("d", "CODE:-1")), "");

  // A library that fills all 512 bytes without a terminating zero.
  std::string full(600, 'W');
  EXPECT_EQ(engine.Scan(tree_.Write("e", "NAME:" + full)), std::string(512, 'W'));
  // The name ends at its first zero even when bytes follow it.
  EXPECT_EQ(engine.Scan(tree_.Write("f", std::string("NAME:Short\0tail", 15))), "Short");

  EngineScanner& seam = engine;
  EXPECT_TRUE(seam.IsActive());
  platform::OpenedFile opened = platform::OpenedFile::Open(tree_.Path("a"));
  const EngineVerdict verdict = seam.ScanForVirus(opened);
  EXPECT_EQ(verdict.virusName, "Worm.Test");
  EXPECT_EQ(verdict.readError, "");
  EXPECT_FALSE(verdict.notWhole);
}

TEST_F(ClamAVComponent, LimitResultsMeanReadButNotJudgedWhole) {
  TClamAV engine;
  engine.SetDBDir(tree_.MakeDir("good"));
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());
  engine.Limits().maxfiles = 77;
  const std::pair<const char*, EngineLimitReached> results[] = {
      {"CODE:24", {"maxfilesize", 10485760}}, {"CODE:25", {"maxfiles", 77}}, {"CODE:23", {"maxreclevel", 6}}};
  for (const auto& [content, limit] : results) {
    EXPECT_EQ(engine.Scan(tree_.Write("past", content)), "") << content;
    EXPECT_EQ(engine.ReadError(), "") << content;
    EXPECT_EQ(engine.LastVerdict().notWhole, limit) << content;
  }
  EXPECT_EQ(engine.Scan(tree_.Write("clean", "CODE:0")), "");
  EXPECT_FALSE(engine.LastVerdict().notWhole);
}

TEST_F(ClamAVComponent, ReadErrorsAreToldAndOnlyRegularFilesReachTheLibrary) {
  TClamAV engine;
  engine.SetDBDir(tree_.MakeDir("good"));
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());
  EXPECT_EQ(engine.Scan(tree_.Write("unread", "CODE:12")), "");
  EXPECT_EQ(engine.ReadError(), "fake read error");
  EXPECT_EQ(engine.Scan(tree_.Write("clean", "CODE:0")), "");
  EXPECT_EQ(engine.ReadError(), "");
  const int calls = Record().scandescCalls;
  // A link to an infected file is never followed, a FIFO never opened.
  std::filesystem::create_symlink(tree_.Write("target", "NAME:Worm.Test"), tree_.Path("link"));
  EXPECT_EQ(engine.Scan(tree_.Path("link")), "");
  EXPECT_EQ(engine.ReadError(), "not a regular file");
  ASSERT_EQ(::mkfifo(tree_.Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(engine.Scan(tree_.Path("fifo")), "");
  EXPECT_EQ(engine.ReadError(), "not a regular file");
  EXPECT_EQ(engine.Scan(tree_.Path("absent")), "");
  EXPECT_EQ(engine.ReadError(), "No such file or directory");
  EXPECT_EQ(Record().scandescCalls, calls);
}

TEST_F(ClamAVComponent, VerifyDatabaseNeedsNoActivation) {
  TClamAV engine;
  EXPECT_TRUE(engine.VerifyDatabase(tree_.Write("good.cvd", "")));
  EXPECT_FALSE(engine.VerifyDatabase(tree_.Write("bad.cvd", "")));
  EXPECT_FALSE(engine.Active());
}

}  // namespace
}  // namespace korbu
