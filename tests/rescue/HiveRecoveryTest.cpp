// Hives read as Windows loads them: a real dirty hive recovered from its two
// logs as an independent recovery tool recovers it, damaged hives refused in
// words, and the copy read is the program's own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Sha256.h"
#include "platform/rescue/Hive.h"
#include "platform/rescue/HiveFile.h"
#include "platform/rescue/HiveImage.h"
#include "rescue/HiveFixture.h"
#include "rescue/HiveLogForge.h"
#include "rescue/RealHives.h"
#include "support/TempTree.h"

namespace korbu::platform::rescue {
namespace {

constexpr std::size_t kSector = 512;

// What yarp (written by the author of the published description of the format)
// recovers from regipy's SYSTEM_B and its two logs: 24 entries, sequence
// numbers 2107 to 2130, the file's length kept.
constexpr const char* kSystemBRecoveredSha256 = "734095bf043ea72300feb8bc380a585d8a9c925cdd5ffc190ca5ff6bc5a7c231";
// A key that only the logs of SYSTEM_B hold.
constexpr const char* kOnlyInLogs = "ControlSet001\\Control\\Class\\{4d36e967-e325-11ce-bfc1-08002be10318}\\0003";

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool PlaceSystemB(const test::TempTree& tree) {
  return test::PlaceRealHive("regipy_SYSTEM_B", tree.Path(), "SYSTEM") &&
         test::PlaceRealHive("regipy_SYSTEM_B.LOG1", tree.Path(), "SYSTEM.LOG1") &&
         test::PlaceRealHive("regipy_SYSTEM_B.LOG2", tree.Path(), "SYSTEM.LOG2");
}

TEST(HiveRecovery, RealDirtyHiveRecoversAsAnIndependentToolRecoversIt) {
  auto primary = test::RealHive("regipy_SYSTEM_B");
  auto log1 = test::RealHive("regipy_SYSTEM_B.LOG1");
  auto log2 = test::RealHive("regipy_SYSTEM_B.LOG2");
  if (!primary || !log1 || !log2) GTEST_SKIP() << "no ../shared/test-hives (or no xz to unpack them)";
  ASSERT_TRUE(SequencesDiffer(*primary));

  std::string hive = *primary;
  auto replay = ReplayLogs(hive, {{"SYSTEM.LOG1", *log1}, {"SYSTEM.LOG2", *log2}});
  ASSERT_TRUE(replay) << replay.Reason();
  EXPECT_TRUE(replay->replayed);
  EXPECT_EQ(replay->used, (std::vector<std::string>{"SYSTEM.LOG1", "SYSTEM.LOG2"}));
  EXPECT_EQ(replay->sequence, 2130u);
  EXPECT_FALSE(SequencesDiffer(hive));
  EXPECT_TRUE(ChecksumRight(hive));
  EXPECT_EQ(Sha256Hex(hive), kSystemBRecoveredSha256);
  EXPECT_TRUE(CheckHiveImage(hive)) << CheckHiveImage(hive).Reason();

  // A clean hive is left as it is, whatever logs lie beside it.
  const std::string recovered = hive;
  auto again = ReplayLogs(hive, {{"SYSTEM.LOG1", *log1}, {"SYSTEM.LOG2", *log2}});
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->replayed);
  EXPECT_EQ(hive, recovered);

  // An entry whose hash does not check ends the replay before it: one byte of a
  // page late in the second log.
  std::string damaged = *log2;
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
  hive = *primary;
  auto partial = ReplayLogs(hive, {{"SYSTEM.LOG1", *log1}, {"SYSTEM.LOG2", damaged}});
  ASSERT_TRUE(partial) << partial.Reason();
  EXPECT_GE(partial->sequence, 2107u);
  EXPECT_LT(partial->sequence, 2130u);
  EXPECT_FALSE(SequencesDiffer(hive));

  // Without its logs a dirty hive cannot be recovered, and says so.
  hive = *primary;
  EXPECT_FALSE(ReplayLogs(hive, {}));
  EXPECT_EQ(hive, *primary);
}

TEST(HiveRecovery, CleanOfADirtyHiveWritesTheRecoveredHiveWhole) {
  test::TempTree tree;
  if (!PlaceSystemB(tree)) GTEST_SKIP() << "no ../shared/test-hives (or no xz to unpack them)";
  const std::string path = tree.Path("SYSTEM");
  const std::string before = test::FileBytes(path);
  EXPECT_FALSE(test::ReadHiveValue(path, kOnlyInLogs, "DriverDesc")) << "the file alone lacks the key";
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  {
    auto reading = Hive::Open(*folder, "SYSTEM", Hive::Access::Read);
    ASSERT_TRUE(reading) << reading.Reason();
    EXPECT_TRUE(reading->Replay().replayed);
    EXPECT_TRUE(reading->Values(kOnlyInLogs));
  }
  EXPECT_EQ(test::FileBytes(path), before) << "reading changes nothing";

  auto hive = Hive::Open(*folder, "SYSTEM", Hive::Access::Write);
  ASSERT_TRUE(hive) << hive.Reason();
  ASSERT_TRUE(hive->SetValue("Select", {"Korbu", 4, test::DwordData(7)}));
  // A value of a key deep in the hive, no key made: the keys above it are
  // checked as they are.
  ASSERT_TRUE(hive->SetValue("ControlSet001\\Control\\SafeBoot", {"AlternateShell", 1, test::StringData("korbu.exe")}));
  Status committed = hive->Commit();
  ASSERT_TRUE(committed) << committed.Reason();

  // Windows' view: clean (equal sequence numbers, one past the logs' last), a
  // right checksum; every key the logs held is in the file itself now.
  const std::string after = test::FileBytes(path);
  EXPECT_EQ(Le32At(after, base::kPrimarySequence), 2131u);
  EXPECT_EQ(Le32At(after, base::kSecondarySequence), 2131u);
  EXPECT_TRUE(ChecksumRight(after));
  EXPECT_TRUE(CheckHiveImage(after)) << CheckHiveImage(after).Reason();
  EXPECT_EQ(test::ReadHiveValue(path, "Select", "Korbu"), (test::HiveData{4, test::DwordData(7)}));
  EXPECT_EQ(test::ReadHiveValue(path, "ControlSet001\\Control\\SafeBoot", "AlternateShell"),
            (test::HiveData{1, test::StringData("korbu.exe")}));
  EXPECT_TRUE(test::ReadHiveValue(path, kOnlyInLogs, "DriverDesc"));
  EXPECT_EQ(test::FileBytes(tree.Path("SYSTEM.LOG1")).empty(), false);
}

// The volume's owner writes the logs: entries that each claim a hive as large
// as the one before and the whole log grow it by no more than the log holds.
TEST(HiveRecovery, ALogGrowsTheHiveByNoMoreThanItHolds) {
  test::TempTree tree;
  const std::string path = tree.Path("SYSTEM");
  test::WriteEmptyHive(path, {}, true);
  const std::string hive = test::FileBytes(path);
  constexpr std::uint32_t kEntries = 64;
  const std::size_t logSize = kSector * (kEntries + 1);
  std::string log = hive.substr(0, kSector);
  PutLe32(log, base::kFileType, 6);
  SealBaseBlock(log);
  const std::uint32_t first = Le32At(hive, base::kSecondarySequence);
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    const auto bins = static_cast<std::uint32_t>((hive.size() + (i + 1) * logSize) / kHiveBinAlignment * kHiveBinAlignment);
    log += test::LogEntry(first + i, bins, {}, {});
  }
  ASSERT_EQ(log.size(), logSize);
  std::string replayed = hive;
  (void)ReplayLogs(replayed, {{"SYSTEM.LOG1", log}});
  EXPECT_LE(replayed.size(), hive.size() + log.size());
}

TEST(HiveRecovery, DamagedHivesAreRefusedInWordsAndNeverWritten) {
  test::TempTree tree;
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  auto damage = [&](const std::string& name, auto&& change) {
    test::WriteEmptyHive(tree.Path(name), {{u"Worm", 4, test::DwordData(1)}});
    std::string bytes = test::ReadFileBytes(tree.Path(name));
    change(bytes);
    test::WriteFileBytes(tree.Path(name), bytes);
    return bytes;
  };
  struct Case {
    std::string name;
    std::string words;
    std::string bytes;
  };
  std::vector<Case> cases;
  // A 12 KB file whose header claims 487 KB, as an interrupted copy leaves it.
  cases.push_back({"TRUNCATED", "cut short", damage("TRUNCATED", [](std::string& b) {
                     b.resize(12 * 1024, '\0');
                     PutLe32(b, base::kBinsSize, 487 * 1024 / 4096 * 4096);
                     SealBaseBlock(b);
                   })});
  cases.push_back({"CHECKSUM", "bad checksum", damage("CHECKSUM", [](std::string& b) { b[base::kChecksum] ^= 1; })});
  cases.push_back({"CELLS", "broken cell", damage("CELLS", [](std::string& b) {
                     PutLe32(b, kBaseBlockBytes + 32, 0xFFFFFFF3u);  // -13: no multiple of 8
                   })});
  cases.push_back({"NOHIVE", "not a registry hive", damage("NOHIVE", [](std::string& b) { b.replace(0, 4, "gerf"); })});
  for (const Case& c : cases) {
    auto read = Hive::Open(*folder, c.name, Hive::Access::Read);
    ASSERT_FALSE(read) << c.name;
    EXPECT_NE(read.Reason().find(c.words), std::string::npos) << read.Reason();
    EXPECT_EQ(read.error().code, kHiveDamaged) << c.name;
    EXPECT_EQ(read.Reason().find("Invalid argument"), std::string::npos) << read.Reason();
    EXPECT_FALSE(Hive::Open(*folder, c.name, Hive::Access::Write)) << c.name;
    EXPECT_EQ(test::ReadFileBytes(tree.Path(c.name)), c.bytes) << c.name;
  }
}

TEST(HiveRecovery, TheHiveReadIsTheProgramsOwnCopy) {
  test::TempTree tree;
  const std::string path = tree.Path("NTUSER.DAT");
  test::WriteEmptyHive(path);
  test::HiveEdit(path).SetString("Software\\Run", "Worm", "C:\\worm.exe").Commit();
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  auto hive = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Read);
  ASSERT_TRUE(hive) << hive.Reason();
  // The volume's owner shortens the file while it is read: no map of it fails
  // under the reader (SIGBUS), the values read are those of the copy.
  std::filesystem::resize_file(path, 0);
  auto worm = hive->Value("Software\\Run", "Worm");
  ASSERT_TRUE(worm) << worm.Reason();
  EXPECT_EQ(worm->data, test::StringData("C:\\worm.exe"));
  // Shortened before it is read, it is refused in words.
  auto cut = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Read);
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error().code, kHiveDamaged) << cut.Reason();
}

TEST(HiveRecovery, ValuesBesideTheChangedOneKeepEveryByte) {
  test::TempTree tree;
  const std::string path = tree.Path("NTUSER.DAT");
  const std::u16string nulName(u"Up\0date", 7);
  test::WriteEmptyHive(path, {{nulName, 4, test::DwordData(5)}, {u"Worm", 4, test::DwordData(6)}});
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  const std::string big(3 * 16344 + 100, 'b');
  const std::string oneCell(16000, 'c');
  {
    auto hive = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Write);
    ASSERT_TRUE(hive) << hive.Reason();
    Status setBig = hive->SetValue("", {"Big", 3, big});
    ASSERT_TRUE(setBig) << setBig.Reason();
    ASSERT_TRUE(hive->SetValue("", {"Cell", 3, oneCell}));
    Status first = hive->Commit();
    ASSERT_TRUE(first) << first.Reason();
  }
  // libhivex, reading on its own, finds the big data as Windows stores it.
  EXPECT_EQ(test::ReadHiveValue(path, "", "Big"), (test::HiveData{3, big}));
  EXPECT_EQ(test::ReadHiveValue(path, "", "Cell"), (test::HiveData{3, oneCell}));

  auto hive = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Write);
  ASSERT_TRUE(hive) << hive.Reason();
  ASSERT_TRUE(hive->DeleteValue("", "worm"));
  ASSERT_TRUE(hive->SetValue("", {"Cell", 1, test::StringData("x")}));
  Status committed = hive->Commit();
  ASSERT_TRUE(committed) << committed.Reason();
  EXPECT_EQ(test::ReadHiveValue(path, "", "Big"), (test::HiveData{3, big}));
  EXPECT_EQ(test::ReadHiveValue(path, "", "Cell"), (test::HiveData{1, test::StringData("x")}));
  auto values = hive->Values("");
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[0].name, std::string("Up\0date", 7));
  EXPECT_EQ((*values)[0].data, test::DwordData(5));
  EXPECT_EQ((*values)[1].name, "Big");
}

TEST(HiveRecovery, AHiveWithoutAChangeIsNotWritten) {
  test::TempTree tree;
  const std::string path = tree.Path("SYSTEM");
  test::WriteEmptyHive(path);
  test::HiveEdit(path).SetDword("ControlSet001\\Services\\Worm", "Start", 4).Commit();
  const std::string before = test::FileBytes(path);
  const ino_t inode = Inode(path);
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  auto hive = Hive::Open(*folder, "SYSTEM", Hive::Access::Write);
  ASSERT_TRUE(hive) << hive.Reason();
  ASSERT_TRUE(hive->SetValue("controlset001\\services\\worm", {"START", 4, test::DwordData(4)}));
  EXPECT_FALSE(hive->Changed());
  ASSERT_TRUE(hive->Commit());
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(test::FileBytes(path), before);
}

}  // namespace
}  // namespace korbu::platform::rescue

namespace korbu::platform::rescue {
namespace {

// A log of the format before Windows 8.1, as its published description lays it
// out: the first sector of the base block (file type 1), a dirty vector of
// 512-byte pages of the hive bins, then those pages.
std::string OldFormatLog(const std::string& from, const std::string& to) {
  std::string log = to.substr(0, 512);
  PutLe32(log, base::kFileType, 1);
  log.replace(base::kTimestamp, 8, from, base::kTimestamp, 8);
  SealBaseBlock(log);
  const std::size_t pages = (to.size() - kBaseBlockBytes) / 512;
  std::string bitmap((pages + 7) / 8, '\0');
  std::string dirty;
  for (std::size_t page = 0; page < pages; ++page) {
    const std::size_t at = kBaseBlockBytes + page * 512;
    if (from.compare(at, 512, to, at, 512) == 0) continue;
    bitmap[page / 8] = static_cast<char>(bitmap[page / 8] | (1 << (page % 8)));
    dirty += to.substr(at, 512);
  }
  log += "DIRT" + bitmap;
  log.resize((log.size() + 511) / 512 * 512, '\0');
  return log + dirty;
}

TEST(HiveRecovery, ReplaysALogOfTheOldFormat) {
  test::TempTree tree;
  const std::string path = tree.Path("NTUSER.DAT");
  test::WriteEmptyHive(path, {{u"Worm", 4, test::DwordData(1)}});
  const std::string before = test::FileBytes(path);
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  {
    auto hive = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Write);
    ASSERT_TRUE(hive) << hive.Reason();
    ASSERT_TRUE(hive->SetValue("", {"Worm", 4, test::DwordData(0)}));
    ASSERT_TRUE(hive->SetValue("", {"Logged", 1, test::StringData("only in the log")}));
    ASSERT_TRUE(hive->Commit());
  }
  const std::string after = test::FileBytes(path);
  ASSERT_EQ(after.size(), before.size()) << "the test wants the change inside the first bin";

  // The crash: the log is written, the hive is not.
  test::WriteFileBytes(path, before);
  test::MarkHiveDirty(path);
  const std::string dirty = test::FileBytes(path);
  test::WriteFileBytes(tree.Path("NTUSER.DAT.LOG"), OldFormatLog(dirty, after));
  auto hive = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Read);
  ASSERT_TRUE(hive) << hive.Reason();
  EXPECT_EQ(hive->Replay().used, std::vector<std::string>{"NTUSER.DAT.LOG"});
  EXPECT_EQ(hive->Value("", "Logged")->data, test::StringData("only in the log"));
  EXPECT_EQ(hive->Value("", "Worm")->data, test::DwordData(0));

  // A log of another state of the hive (its time stamp differs) is not applied.
  std::string other = after;
  other[base::kTimestamp] = static_cast<char>(other[base::kTimestamp] ^ 1);
  SealBaseBlock(other);
  test::WriteFileBytes(tree.Path("NTUSER.DAT.LOG"), OldFormatLog(other, after));
  auto refused = Hive::Open(*folder, "NTUSER.DAT", Hive::Access::Write);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.Reason().find("cannot be replayed"), std::string::npos) << refused.Reason();
}

}  // namespace
}  // namespace korbu::platform::rescue
