// The engine library over libclamav with the signed test databases.

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>

#include "EngineTestSupport.h"
#include "engine/ClamAV.h"
#include "engine/VirusClamAV.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr char kTestFiles[] = "/usr/share/clamav-testfiles";
constexpr char kEicar[] =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

// The unpacked bytes of a gzip stream; empty when it is damaged.
std::string Gunzip(const std::string& packed) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return {};
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  std::string out;
  int result = Z_OK;
  while (result == Z_OK) {
    char chunk[65536];
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  return result == Z_STREAM_END ? out : std::string();
}

class RealEngine : public test::EngineStateTest {
 protected:
  void SetUp() override {
    if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
    databases_ = test::SharedDir() + "/engine-test-db";
  }

  // A copy of the test databases that a test may change.
  std::string CopyOfDatabases() {
    std::string copy = tree_.MakeDir("db");
    for (const char* name : {"main.cvd", "daily.cvd"}) {
      fs::copy_file(databases_ + "/" + name, copy + "/" + name);
    }
    return copy;
  }

  std::string databases_;
  test::TempTree tree_;
};

TEST_F(RealEngine, StartUpLoadsBothTestDatabases) {
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, databases_);
  ASSERT_TRUE(EngineLibraryAvailable());
  ASSERT_TRUE(LoadVirusDatabase());
  EngineInfo info = GetEngineInfo(*VirusEngine);
  EXPECT_TRUE(info.active);
  EXPECT_EQ(info.signatureCount, 17u);  // shown as 17 + 16 = "33 viruses"
  EXPECT_EQ(info.mainVersion, "6");
  EXPECT_EQ(info.dailyVersion, "3");
  EXPECT_EQ(info.mainDate, "22 Jun 2021");
  EXPECT_EQ(info.dailyDate, "22 Jun 2021");
}

TEST_F(RealEngine, DetectsTestFilesArchivesOnlyWithTheArchiveBit) {
  if (!fs::exists(std::string(kTestFiles) + "/clam.exe")) GTEST_SKIP() << "clamav-testfiles not installed";
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, databases_);
  ASSERT_TRUE(LoadVirusDatabase());
  TClamAV& engine = *VirusEngine;
  std::string exe = std::string(kTestFiles) + "/clam.exe";
  std::string zip = std::string(kTestFiles) + "/clam.zip";

  engine.SetScanOptions(878);
  EXPECT_EQ(engine.Scan(exe), "Clamav.Test.File-6");
  EXPECT_EQ(engine.Scan(zip), "");
  engine.SetScanOptions(879);
  EXPECT_EQ(engine.Scan(zip), "Clamav.Test.File-6");
  // A verdict found with one option word is not remembered for another.
  engine.SetScanOptions(878);
  EXPECT_EQ(engine.Scan(zip), "");

  EXPECT_EQ(engine.Scan(tree_.Write("eicar.com", kEicar)), "Eicar-Test-Signature");
  EXPECT_EQ(engine.Scan(tree_.Write("clean.txt", "just some text\n")), "");
  EXPECT_EQ(engine.Scan(tree_.Path("absent")), "");
}

TEST_F(RealEngine, FileBeyondTheSizeLimitIsNotANamelessVirus) {
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, databases_);
  ASSERT_TRUE(LoadVirusDatabase());
  std::string big = tree_.Write("big.bin", "MZ");
  fs::resize_file(big, 11u << 20);  // sparse, above the 10 MiB limit
  VirusEngine->SetScanOptions(878);
  EXPECT_EQ(VirusEngine->Scan(big), "");
}

TEST_F(RealEngine, MissingOrTamperedDatabasesAreNotLoaded) {
  std::string db = CopyOfDatabases();
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, db);

  // One byte of the signed content changed.
  std::string daily = test::ReadFileBytes(db + "/daily.cvd");
  daily[daily.size() - 1] = static_cast<char>(daily.back() ^ 0x01);
  test::WriteFileBytes(db + "/daily.cvd", daily);
  EXPECT_TRUE(VirusEngine->VerifyDatabase(db + "/main.cvd"));
  EXPECT_FALSE(VirusEngine->VerifyDatabase(db + "/daily.cvd"));
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_FALSE(VirusEngine->Active());
  EXPECT_EQ(DatabaseProblem(*VirusEngine), "database folder \"" + db + "/\": daily.cvd failed verification");

  fs::remove(db + "/daily.cvd");
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_EQ(GetSignatureCount(), 0u);  // shown as "16 viruses"
  EngineInfo info = GetEngineInfo(*VirusEngine);
  EXPECT_EQ(info.loaded.Reason(), "database folder \"" + db + "/\": daily.cvd or daily.cld is missing");
  EXPECT_EQ(info.mainVersion, "6");
  EXPECT_EQ(info.dailyVersion, "");
  EXPECT_EQ(info.dailyDate, "");

  fs::remove(db + "/main.cvd");
  EXPECT_FALSE(LoadVirusDatabase());
  EXPECT_EQ(GetEngineInfo(*VirusEngine).mainVersion, "");
}

// freshclam keeps "daily" as a .cld: the .cvd's header over its unpacked body.
TEST_F(RealEngine, FreshclamFolderWithCldLoadsAndDetects) {
  std::string db = tree_.MakeDir("freshclam");
  fs::copy_file(databases_ + "/main.cvd", db + "/main.cvd");
  std::string cvd = test::ReadFileBytes(databases_ + "/daily.cvd");
  std::string body = Gunzip(cvd.substr(512));
  ASSERT_FALSE(body.empty());
  test::WriteFileBytes(db + "/daily.cld", cvd.substr(0, 512) + body);
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, db);
  ASSERT_TRUE(LoadVirusDatabase()) << DatabaseProblem(*VirusEngine);
  EngineInfo info = GetEngineInfo(*VirusEngine);
  EXPECT_EQ(info.signatureCount, 17u);
  EXPECT_EQ(info.dailyVersion, "3");
  EXPECT_EQ(info.dailyDate, "22 Jun 2021");
  EXPECT_EQ(info.loaded.Reason(), "");
  VirusEngine->SetScanOptions(878);
  EXPECT_EQ(VirusEngine->Scan(tree_.Write("eicar.com", kEicar)), "Eicar-Test-Signature");
}

TEST_F(RealEngine, OneDatabaseFileAlone) {
  TClamAV engine;
  engine.SetDBFile(databases_ + "/main.cvd");
  engine.SetDBDir(databases_);
  engine.SetActive(true);
  ASSERT_TRUE(engine.Active());
  EXPECT_EQ(engine.SignatureCount(), 10u);
}

}  // namespace
}  // namespace korbu
