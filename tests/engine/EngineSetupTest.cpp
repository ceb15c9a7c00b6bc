#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>
#include <thread>

#include "EngineTestSupport.h"
#include "engine/CvdHeader.h"
#include "engine/DatabaseSet.h"
#include "engine/EngineStartup.h"
#include "engine/VirusClamAV.h"
#include "platform/FileStamp.h"
#include "platform/OpenedFile.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

std::string Header(const std::string& fields) {
  std::string header = fields;
  header.resize(512, ' ');
  return header + "body";
}

TEST(CvdHeader, VersionWholeAndDateCutToDayMonthYear) {
  CvdHeaderInfo info = ParseCvdHeader("ClamAV-VDB:22 Jun 2021 21-34 -0400:6:14:81:sig:user:1624412045");
  EXPECT_EQ(info.version, "6");
  EXPECT_EQ(info.date, "22 Jun 2021");
  // Runs of separators count as one; a long version is kept whole.
  info = ParseCvdHeader("ClamAV-VDB::01 Feb 1999 10-00 +0000:::123456789012345678901234567890:x");
  EXPECT_EQ(info.version, "123456789012345678901234567890");
  EXPECT_EQ(info.date, "01 Feb 1999");
}

TEST(CvdHeader, MissingShortOrFieldPoorFilesGiveEmptyTexts) {
  test::TempTree tree;
  EXPECT_EQ(ReadCvdHeader(tree.Path("absent.cvd")).version, "");
  // A shorter file, however well formed, has no complete header.
  CvdHeaderInfo info = ReadCvdHeader(tree.Write("short.cvd", "ClamAV-VDB:22 Jun 2021:6:14"));
  EXPECT_EQ(info.version, "");
  EXPECT_EQ(info.date, "");
  info = ReadCvdHeader(tree.Write("two.cvd", Header("ClamAV-VDB:22 Jun 2021 21-34")));
  EXPECT_EQ(info.date, "22 Jun 2021");
  EXPECT_EQ(info.version, "");
  info = ReadCvdHeader(tree.Write("one.cvd", Header("ClamAV-VDB")));
  EXPECT_EQ(info.date, "");
  EXPECT_EQ(ReadCvdHeader(tree.MakeDir("folder.cvd")).version, "");
}

TEST(DatabaseFolder, ChosenThenBesideExecutableThenSystem) {
  test::TempTree tree;
  std::string exe = tree.MakeDir("bin");
  std::string system = tree.MakeDir("system");
  EXPECT_EQ(ChooseDatabaseFolder(tree.Path("mine"), exe, system), tree.Path("mine") + "/");
  EXPECT_EQ(ChooseDatabaseFolder("", exe, system), system + "/");
  EXPECT_EQ(ChooseDatabaseFolder("", exe, ""), exe + "/");
  EXPECT_EQ(ChooseDatabaseFolder("", "", system), system + "/");
  EXPECT_EQ(ChooseDatabaseFolder("", "", ""), "");
  tree.Write("bin/main.cld", "x");  // freshclam's form counts as well
  EXPECT_EQ(ChooseDatabaseFolder("", exe + "/", system), exe + "/");
}

TEST(DatabaseFile, CvdOrCldAndTheNewerVersionWhenBoth) {
  test::TempTree tree;
  std::string folder = tree.Path() + "/";
  EXPECT_EQ(DatabaseFile(folder, "daily"), "");
  tree.Write("daily.cvd", Header("ClamAV-VDB:06 Jun 2006 10-00 +0000:9:1"));
  EXPECT_EQ(DatabaseFile(folder, "daily"), folder + "daily.cvd");
  tree.Write("daily.cld", Header("ClamAV-VDB:07 Jun 2006 10-00 +0000:10:1"));
  EXPECT_EQ(DatabaseFile(folder, "daily"), folder + "daily.cld");  // 10 > 9, not "10" < "9"
  tree.Write("daily.cvd", Header("ClamAV-VDB:08 Jun 2006 10-00 +0000:11:1"));
  EXPECT_EQ(DatabaseFile(folder, "daily"), folder + "daily.cvd");
  EXPECT_EQ(DatabaseFile(folder, "main"), "");
}

class EngineSetup : public test::FakeEngineTest {
 protected:
  std::string Databases(const std::string& folder, bool withDaily = true) {
    tree_.Write(folder + "/main.cvd", Header("ClamAV-VDB:05 May 2005 10-00 +0000:55:1"));
    if (withDaily) tree_.Write(folder + "/daily.cvd", Header("ClamAV-VDB:06 Jun 2006 10-00 +0000:66:1"));
    return tree_.Path(folder);
  }
  test::TempTree tree_;
};

TEST_F(EngineSetup, CreatesTheConfiguredInactiveComponent) {
  CreateVirusEngine();
  ASSERT_NE(VirusEngine, nullptr);
  EXPECT_EQ(VirusEngine->Name(), "ClamAV");
  EXPECT_FALSE(VirusEngine->Active());
  EXPECT_EQ(VirusEngine->ScanOptions(), 1023);
  EXPECT_EQ(VirusEngine->Limits().maxreclevel, 6);
  EXPECT_EQ(VirusEngine->Limits().maxfilesize, 10485760);
  EXPECT_TRUE(EngineLibraryAvailable());
  EXPECT_EQ(GetSignatureCount(), 0u);
}

TEST_F(EngineSetup, LoadsFromTheOneDatabaseFolder) {
  std::string folder = Databases("good-db");
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, folder);
  ASSERT_TRUE(LoadVirusDatabase());
  EXPECT_TRUE(VirusEngine->Active());
  EXPECT_EQ(VirusEngine->DBDir(), folder + "/");
  EXPECT_STREQ(Record().lastLoadPath, (folder + "/").c_str());
  EXPECT_EQ(GetSignatureCount(), 12u);

  EngineInfo info = GetEngineInfo(*VirusEngine);
  EXPECT_TRUE(info.libraryLoaded);
  EXPECT_TRUE(info.loaded);
  EXPECT_TRUE(info.active);
  EXPECT_EQ(info.signatureCount, 12u);
  EXPECT_EQ(info.databaseFolder, folder + "/");
  EXPECT_EQ(info.mainVersion, "55");
  EXPECT_EQ(info.dailyVersion, "66");
  EXPECT_EQ(info.mainDate, "05 May 2005");
  EXPECT_EQ(info.dailyDate, "06 Jun 2006");
}

#ifndef _WIN32
// The front ends start the engine with TMPDIR's folder, checked as a folder named
// for the engine's temporary files is: one others may change keeps it off.
TEST_F(EngineSetup, TheTemporaryFolderOfTmpdirIsUsedOnlyWhenNoOtherUserCanChangeIt) {
  const std::string databases = Databases("good-db");  // the fake verifies only "good" paths
  const std::string open = tree_.MakeDir("open");
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  {
    test::ScopedEnvironment tmpdir("TMPDIR", open);
    const EngineInfo info = StartEngine(*MakeEngineStartup(databases));
    EXPECT_FALSE(info.active);
    EXPECT_FALSE(info.loaded);
    EXPECT_EQ(info.loaded.Reason(), "cannot keep temporary files in " + open + " (TMPDIR): " + open +
                                " may be written by other users and is not sticky");
  }
  const std::string own = tree_.MakeDir("own");
  test::ScopedEnvironment tmpdir("TMPDIR", own);
  const EngineInfo info = StartEngine(*MakeEngineStartup(databases));
  EXPECT_TRUE(info.active) << info.loaded.Reason();
}
#endif

TEST_F(EngineSetup, TheLoadedSetIsKnownByContentAndNotOnceAFileChangedAfterTheLoad) {
  std::string folder = Databases("good-db");
  // The load begins after the files' own stamps, which the file system may take
  // from a finer clock than NowNs and so put ahead of it.
  std::int64_t written = 0;
  for (const char* name : {"main.cvd", "daily.cvd"}) {
    platform::OpenedFile file = platform::OpenedFile::Open(folder + "/" + name);
    const Expected<platform::FileStamp> stamp = platform::StampOf(file);
    ASSERT_TRUE(stamp) << stamp.error().reason;
    written = std::max({written, stamp->changedNs, stamp->modifiedNs});
  }
  while (platform::NowNs() <= written) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, folder);
  ASSERT_TRUE(LoadVirusDatabase());
  EXPECT_EQ(VirusEngine->LibraryVersion(), "fake");
  const Expected<DatabaseSet> loaded = IdentifyDatabases(folder, VirusEngine->LoadStartedNs());
  ASSERT_TRUE(loaded) << loaded.error().reason;
  EXPECT_EQ(loaded->digest.size(), 64u);
  // A database put beside them after the load is not in the engine.
  tree_.Write("good-db/extra.ndb", "Sig:0:*:41424344");
  const Expected<DatabaseSet> after = IdentifyDatabases(folder, VirusEngine->LoadStartedNs());
  ASSERT_FALSE(after);
  EXPECT_NE(after.error().reason.find("extra.ndb"), std::string::npos) << after.error().reason;
  // Another file, or the same one rewritten, is another set.
  // A load begun after every change, whatever clock stamped them.
  constexpr std::int64_t kLater = std::numeric_limits<std::int64_t>::max();
  const Expected<DatabaseSet> withExtra = IdentifyDatabases(folder, kLater);
  ASSERT_TRUE(withExtra) << withExtra.error().reason;
  EXPECT_NE(withExtra->digest, loaded->digest);
  tree_.Write("good-db/extra.ndb", "Sig:0:*:4142434445");
  const Expected<DatabaseSet> rewritten = IdentifyDatabases(folder, kLater);
  ASSERT_TRUE(rewritten) << rewritten.error().reason;
  EXPECT_NE(rewritten->digest, withExtra->digest);
  EXPECT_FALSE(IdentifyDatabases(tree_.Path("absent"), kLater));
}

TEST_F(EngineSetup, LoadedOnlyWhenTheEngineBecameActive) {
  // Both files present and verified, but the engine cannot be built.
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, Databases("good-nobuild"));
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_FALSE(VirusEngine->Active());
  EXPECT_FALSE(GetEngineInfo(*VirusEngine).loaded);
  EXPECT_NE(GetEngineInfo(*VirusEngine).loaded.Reason().find("the engine did not load it: build: fake"), std::string::npos)
      << GetEngineInfo(*VirusEngine).loaded.Reason();
}

TEST_F(EngineSetup, MissingOrUnverifiedDatabaseIsNotLoaded) {
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, Databases("good-main-only", false));
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_EQ(Record().loaddbdirCalls, 0);
  std::string mainVersion, dailyVersion, mainDate, dailyDate;
  GetDatabaseVersions(mainVersion, dailyVersion);
  GetDatabaseDates(mainDate, dailyDate);
  EXPECT_EQ(mainVersion, "55");
  EXPECT_EQ(dailyVersion, "");
  EXPECT_EQ(mainDate, "05 May 2005");
  EXPECT_EQ(dailyDate, "");

  EXPECT_NE(DatabaseProblem(*VirusEngine).find("daily.cvd or daily.cld is missing"), std::string::npos);
  SetDatabaseFolder(*VirusEngine, Databases("unsigned"));  // the fake verifies only "good" paths
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_NE(DatabaseProblem(*VirusEngine).find("main.cvd failed verification"), std::string::npos);
  EXPECT_FALSE(VirusEngine->Active());
  EXPECT_EQ(Record().loaddbdirCalls, 0);
}

TEST_F(EngineSetup, NoLibraryMeansNoDatabaseButHeadersStillRead) {
  SetEngineLibraryLocationForTests("libkorbu-no-such-engine.so", tree_.Path());
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, Databases("good-db"));
  EXPECT_FALSE(EngineLibraryAvailable());
  EXPECT_FALSE(LoadVirusDatabase());
  EngineInfo info = GetEngineInfo(*VirusEngine);
  EXPECT_FALSE(info.libraryLoaded);
  EXPECT_FALSE(info.active);
  EXPECT_EQ(info.signatureCount, 0u);
  EXPECT_EQ(info.mainVersion, "55");
}

TEST(EngineSetupWithoutEngine, AnswersWithoutCrashing) {
  VirusEngine.reset();
  EXPECT_FALSE(EngineLibraryAvailable());
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_EQ(GetSignatureCount(), 0u);
}

}  // namespace
}  // namespace korbu
