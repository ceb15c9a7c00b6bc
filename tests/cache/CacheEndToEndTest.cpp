// The verdict cache through the real korbu-scan: no change to a file escapes it,
// a database update is judged against the added signatures with the verdicts of a
// full scan, a file not judged whole is never kept, and another user's cache
// folder is refused.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/Sha256.h"
#include "support/CacheTrust.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::TempTree;

struct ScanRun {
  int status = -1;
  json report;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// korbu-scan on files only, with the cache of cacheHome, as JSON.
ScanRun Scan(const std::string& cacheHome, std::vector<std::string> args) {
  TempTree errTree;
  std::string command = "env WINEPREFIX=/nonexistent-prefix XDG_CACHE_HOME=" + Quote(cacheHome) + " " +
                        Quote(KORBU_SCAN_EXE) + " --no-memory --no-registry --json";
  for (const auto& a : args) command += " " + Quote(a);
  command += " 2>" + Quote(errTree.Path("err"));
  ScanRun run;
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.report = json::parse(out, nullptr, false);
  run.err = test::ReadFileBytes(errTree.Path("err"));
  return run;
}

std::map<std::string, std::string> Detections(const ScanRun& run) {
  std::map<std::string, std::string> found;
  if (run.report.is_object()) {
    for (const json& d : run.report["detections"]) found[d["file"]] = d["virus"];
  }
  return found;
}

long long FromCache(const ScanRun& run) { return run.report["cache"]["from_cache"].get<long long>(); }
long long Rechecked(const ScanRun& run) { return run.report["cache"]["checked_against_new_signatures"].get<long long>(); }

// The file system stamps a change with its coarse clock: a verdict is kept only
// for a file changed in an earlier tick than the one it is judged in.
void LetTheClockTick() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

void PutBackModified(const std::string& path, const struct stat& old) {
  const timespec times[2] = {old.st_atim, old.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(CacheEndToEnd, NoChangeToAFileEscapesTheCache) {
  TempTree tree;
  if (const std::string why = test::CacheDistrusts(tree.Path()); !why.empty()) GTEST_SKIP() << why;
  const std::string cache = tree.MakeDir("cache");
  const std::string infected = test::VariantFile(4);
  const char* names[] = {"rewritten.exe", "renamed.exe", "same-size.exe", "reused.exe"};
  for (std::uint32_t i = 0; i < 4; ++i) tree.Write(std::string("t/") + names[i], test::MzFile(infected.size(), i + 1));
  LetTheClockTick();
  const std::vector<std::string> args = {"--no-engine", tree.Path("t")};
  ScanRun first = Scan(cache, args);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(FromCache(first), 0);
  ScanRun second = Scan(cache, args);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(FromCache(second), 4) << "the clean files should come from the cache";
  EXPECT_GT(first.report["data_read"].get<long long>(), 0);
  EXPECT_EQ(second.report["data_read"].get<long long>(), 0) << "nothing of a file the cache knows is read";
  struct stat st {};
  ASSERT_EQ(::stat((cache + "/korbu").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((cache + "/korbu/verdicts").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Rewritten in place, its modification time put back.
  const std::string rewritten = tree.Path("t/rewritten.exe");
  ASSERT_EQ(::stat(rewritten.c_str(), &st), 0);
  test::WriteFileBytes(rewritten, infected);
  PutBackModified(rewritten, st);
  // Replaced by a rename, with the old file's times.
  const std::string renamed = tree.Path("t/renamed.exe");
  ASSERT_EQ(::stat(renamed.c_str(), &st), 0);
  const std::string incoming = tree.Write("t/incoming.tmp", infected);
  PutBackModified(incoming, st);
  fs::rename(incoming, renamed);
  // Overwritten with as many bytes.
  test::WriteFileBytes(tree.Path("t/same-size.exe"), infected);
  // Deleted, and a new file made in its place (the file system hands out the freed
  // inode again where it can), with the old times.
  const std::string reused = tree.Path("t/reused.exe");
  ASSERT_EQ(::stat(reused.c_str(), &st), 0);
  fs::remove(reused);
  test::WriteFileBytes(reused, infected);
  PutBackModified(reused, st);

  ScanRun third = Scan(cache, args);
  EXPECT_EQ(third.status, 1) << third.err;
  EXPECT_EQ(FromCache(third), 0);
  const auto found = Detections(third);
  for (const char* name : names) EXPECT_EQ(found.count(tree.Path(std::string("t/") + name)), 1u) << name;
}

class CacheWithEngine : public testing::Test {
 protected:
  void SetUp() override {
    const std::string shared = test::SharedDir();
    if (shared.empty() || !fs::exists(shared + "/engine-test-db/main.cvd")) GTEST_SKIP() << "no shared test databases";
    if (const std::string why = test::CacheDistrusts(tree_.Path()); !why.empty()) GTEST_SKIP() << why;
    database_ = tree_.MakeDir("db");
    for (const char* name : {"main.cvd", "daily.cvd"}) {
      fs::copy_file(shared + "/engine-test-db/" + name, database_ + "/" + name);
      fs::permissions(database_ + "/" + name, fs::perms::owner_read | fs::perms::owner_write);
    }
  }
  // Scans with the cache, then without, and expects the same verdicts.
  ScanRun ScanBothWays() {
    LetTheClockTick();
    ScanRun cached = Scan(tree_.Path("cache"), {"--database", database_, tree_.Path("t")});
    ScanRun full = Scan(tree_.Path("cache"), {"--no-cache", "--database", database_, tree_.Path("t")});
    EXPECT_TRUE(cached.report["engine"]["active"].get<bool>()) << cached.err;
    EXPECT_EQ(Detections(cached), Detections(full));
    EXPECT_EQ(cached.err.find("verdict cache not used"), std::string::npos) << cached.err;
    return cached;
  }

  TempTree tree_;
  std::string database_;
};

TEST_F(CacheWithEngine, AnUpdateIsJudgedAgainstTheAddedSignaturesWithTheVerdictsOfAFullScan) {
  const std::string target = tree_.Write("t/report.dat", std::string(3000, 'r') + "quarterly figures");
  tree_.Write("t/notes.txt", "nothing to see");
  tree_.Write("t/eicar.com", "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
  ScanBothWays();
  EXPECT_EQ(FromCache(ScanBothWays()), 2);  // the detection is never kept

  // An update whose one signature matches a cached file.
  const std::string content = test::ReadFileBytes(target);
  const std::string md5 = [&] {
    FILE* pipe = ::popen(("md5sum " + Quote(target)).c_str(), "r");
    char hex[33] = {};
    if (pipe != nullptr && std::fread(hex, 1, 32, pipe) != 32) hex[0] = '\0';
    if (pipe != nullptr) ::pclose(pipe);
    return std::string(hex);
  }();
  ASSERT_EQ(md5.size(), 32u);
  tree_.Write("db/update.hdb", md5 + ":" + std::to_string(content.size()) + ":Korbu.Test.Update\n");
  ScanRun updated = ScanBothWays();
  EXPECT_EQ(Detections(updated)[target], "Korbu.Test.Update.UNOFFICIAL");
  EXPECT_EQ(Rechecked(updated), 2);
  EXPECT_EQ(FromCache(updated), 0);

  // An update that takes signatures away leaves every kept verdict standing.
  fs::remove(tree_.Path("db/update.hdb"));
  ScanRun removed = ScanBothWays();
  EXPECT_EQ(FromCache(removed), 1);  // the file detected before is judged anew
  EXPECT_EQ(Rechecked(removed), 0);

  // A change the added signatures alone cannot tell (a file-type rule): judged in full.
  tree_.Write("db/types.ftm", "0:0:7175617274:Quarterly:CL_TYPE_ANY:CL_TYPE_TEXT_ASCII\n");
  ScanRun retyped = ScanBothWays();
  EXPECT_EQ(FromCache(retyped), 0);
  EXPECT_EQ(Rechecked(retyped), 0);
}

// A file the engine matched as its bytes lie is tested for an update's byte
// patterns without the engine: it must find them where the engine does.
TEST_F(CacheWithEngine, AnUpdateFindsItsPatternsWhereTheEngineMatchesThem) {
  std::string data("\x9f\x9f\0\x01", 4);  // no text of any kind
  for (unsigned i = 0; i < 6000; ++i) data.push_back(static_cast<char>((i * 7919u) >> 3));
  const std::string rawMarker = "\xf1\xf2raw marker\xf3";
  const std::string raw = tree_.Write("t/data.bin", data + rawMarker + data);
  const std::string ascii = tree_.Write("t/minutes.txt", "Minutes: the minutes-marker-42 was seen.\n");
  std::string wide = "\xff\xfe";
  for (char c : std::string("Report:\r\n  KORBU \t Wide   MARKER, end")) wide += std::string{c, '\0'};
  const std::string text = tree_.Write("t/wide.txt", wide);
  tree_.Write("t/other.bin", data);
  ScanBothWays();
  ASSERT_EQ(FromCache(ScanBothWays()), 4);

  const auto hex = [](const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
    return out;
  };
  // The last two occur only in the text the engine would normalize, which it does
  // not with this program's options: found by neither scan.
  tree_.Write("db/update.ndb", "Korbu.Test.Raw:0:*:" + hex(rawMarker) + "\nKorbu.Test.Ascii:0:*:" +
                                   hex("minutes-marker-42") + "\nKorbu.Test.Wide:0:*:" + hex(std::string("W\0i\0d\0e", 7)) +
                                   "\nKorbu.Test.Normalized:0:*:" + hex("korbu wide marker") +
                                   "\nKorbu.Test.Lowered:0:*:" + hex("minutes: the") + "\n");
  ScanRun updated = ScanBothWays();
  EXPECT_EQ(Rechecked(updated), 4);
  auto found = Detections(updated);
  EXPECT_EQ(found[raw], "Korbu.Test.Raw.UNOFFICIAL");
  EXPECT_EQ(found[ascii], "Korbu.Test.Ascii.UNOFFICIAL");
  EXPECT_EQ(found[text], "Korbu.Test.Wide.UNOFFICIAL");
  EXPECT_EQ(found.size(), 3u);
}

TEST_F(CacheWithEngine, AFileNotJudgedWholeIsNeverKept) {
  tree_.Write("t/large.bin", std::string(std::size_t{11} << 20, 'x'));  // past the engine's 10 MiB
  LetTheClockTick();
  const std::vector<std::string> args = {"--max-filesize=0", "--database", database_, tree_.Path("t")};
  Scan(tree_.Path("cache"), args);
  ScanRun again = Scan(tree_.Path("cache"), args);
  EXPECT_EQ(FromCache(again), 0) << again.err;
  EXPECT_EQ(again.report["not_scanned_whole"].size(), 1u) << again.report.dump();
}

TEST(CacheEndToEnd, AnotherUsersCacheFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  TempTree tree;
  const std::string theirs = tree.MakeDir("theirs/korbu");
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  tree.Write("t/a.txt", "clean");
  ScanRun run = Scan(tree.Path("theirs"), {"--no-engine", tree.Path("t")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("verdict cache not used"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("another user"), std::string::npos) << run.err;
  EXPECT_FALSE(run.report["cache"]["used"].get<bool>());
  EXPECT_FALSE(fs::exists(theirs + "/verdicts"));
}

}  // namespace
}  // namespace korbu
