// A hive written whole is kept first, with its logs, exactly as it is on the
// disk: one that changed since it was read (the owner wrote into it meanwhile)
// is not replaced, the record names every kept file and survives the journal's
// round trip, and its undo puts the bytes back. (A hive written since the clean:
// RescueScan.AHiveChangedSinceTheCleanIsUndoneValueByValue.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Sha256.h"
#include "platform/WholeFileKeeper.h"
#include "platform/rescue/Hive.h"
#include "repair/JournalEntry.h"
#include "repair/KeptFiles.h"
#include "rescue/HiveFixture.h"
#include "rescue/RealHives.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

using platform::rescue::Hive;

// Overwrites one byte of a file where it stands, as its owner may: the same
// file, other content.
void PokeInPlace(const std::string& path, std::size_t at) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(static_cast<std::streamoff>(at));
  const char byte = static_cast<char>(file.get() ^ 0x01);
  file.seekp(static_cast<std::streamoff>(at));
  file.put(byte);
}

std::size_t Entries(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

class KeptHive : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteEmptyHive(hivePath_);
    test::HiveEdit(hivePath_).SetString("Software\\Run", "Worm", "C:\\worm.exe").Commit();
    test::WriteFileBytes(tree_.Path("hive/NTUSER.DAT.LOG1"), std::string(1024, 'l'));
    auto folder = platform::Folder::Open(tree_.Path("hive"));
    auto quarantine = platform::Folder::Open(tree_.MakeDir("quarantine"));
    ASSERT_TRUE(folder && quarantine);
    folder_ = std::move(*folder);
    quarantine_ = std::move(*quarantine);
  }

  // Deletes the worm's value with the keeper in place; what it recorded goes to kept.
  Status Clean() {
    platform::ScopedWholeFileKeeper keeper([&](const platform::WholeFileReplacement& replacement) -> Status {
      auto change = KeepReplacedFiles(replacement, *quarantine_, counter_, {});
      if (!change) return change.error();
      kept_.push_back(std::move(*change));
      return Ok();
    });
    auto hive = Hive::Open(*folder_, "NTUSER.DAT", Hive::Access::Write);
    if (!hive) return hive.error();
    if (Status removed = hive->DeleteValue("Software\\Run", "Worm"); !removed) return removed;
    return hive->Commit();
  }

  test::TempTree tree_;
  std::string hivePath_ = tree_.Path("hive/NTUSER.DAT");
  std::optional<platform::Folder> folder_;
  std::optional<platform::Folder> quarantine_;
  int counter_ = 0;
  std::vector<KeptFilesChange> kept_;
};

TEST_F(KeptHive, AHiveChangedSinceItWasReadIsNotReplaced) {
  platform::ScopedWholeFileKeeper keeper([&](const platform::WholeFileReplacement& replacement) -> Status {
    auto change = KeepReplacedFiles(replacement, *quarantine_, counter_, {});
    return change ? Ok() : Status(change.error());
  });
  auto hive = Hive::Open(*folder_, "NTUSER.DAT", Hive::Access::Write);
  ASSERT_TRUE(hive) << hive.Reason();
  ASSERT_TRUE(hive->DeleteValue("Software\\Run", "Worm"));
  PokeInPlace(hivePath_, 12);  // a byte of its time stamp
  const std::string theirs = test::FileBytes(hivePath_);
  const Status committed = hive->Commit();
  ASSERT_FALSE(committed);
  EXPECT_NE(committed.Reason().find("changed since it was read"), std::string::npos) << committed.Reason();
  EXPECT_EQ(test::FileBytes(hivePath_), theirs) << "what its owner wrote stays";
  EXPECT_EQ(Entries(quarantine_->Path()), 0u) << "nothing half kept stays";
  EXPECT_EQ(Entries(folder_->Path()), 2u) << "no new file is left beside the hive";
  EXPECT_EQ(counter_, 0) << "refused before anything is kept";
}

TEST_F(KeptHive, TheUndoPutsBackTheHiveAndItsLogsOnlyOverWhatTheCleanWrote) {
  // A file of a log's name larger than any log (sparse) is no log to keep.
  test::WriteFileBytes(tree_.Path("hive/NTUSER.DAT.LOG2"), "");
  std::filesystem::resize_file(tree_.Path("hive/NTUSER.DAT.LOG2"), (std::uintmax_t{1} << 30) + 1);
  const std::string hive = test::FileBytes(hivePath_);
  const std::string log = test::FileBytes(tree_.Path("hive/NTUSER.DAT.LOG1"));
  const Status cleaned = Clean();
  ASSERT_TRUE(cleaned) << cleaned.Reason();
  ASSERT_EQ(kept_.size(), 1u);
  const KeptFilesChange& change = kept_.front();
  ASSERT_EQ(change.files.size(), 2u);
  EXPECT_EQ(change.files[0].name, "NTUSER.DAT");
  EXPECT_EQ(change.files[0].sha256, platform::Sha256Hex(hive));
  EXPECT_EQ(change.files[1].name, "NTUSER.DAT.LOG1");
  EXPECT_EQ(change.writtenSha256, platform::Sha256Hex(test::FileBytes(hivePath_)));
  EXPECT_FALSE(test::ReadHiveValue(hivePath_, "Software\\Run", "Worm"));

  // The record as the journal writes and reads it.
  auto back = EntryFromJson(nlohmann::json::parse(ToJson(JournalEntry{3, change}).dump()));
  ASSERT_TRUE(back) << back.Reason();
  const auto* read = std::get_if<KeptFilesChange>(&back->record);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->path, change.path);
  EXPECT_EQ(read->files.size(), 2u);
  EXPECT_EQ(read->writtenSha256, change.writtenSha256);
  // A record whose item or file name leaves its folder is damaged, not followed.
  for (const char* field : {"item", "name"}) {
    nlohmann::json line = ToJson(JournalEntry{1, change});
    line["files"][0][field] = "../../etc/passwd";
    EXPECT_FALSE(EntryFromJson(line)) << field;
  }

  // Something at the place of the log (Windows wrote it since) is put back too,
  // while the hive is what the clean wrote.
  test::WriteFileBytes(tree_.Path("hive/NTUSER.DAT.LOG1"), "later");
  const UndoStep step = UndoKeptFiles(*read, *quarantine_);
  EXPECT_EQ(step.outcome, UndoOutcome::Restored) << step.note;
  EXPECT_TRUE(test::FileBytes(hivePath_) == hive);
  EXPECT_EQ(test::FileBytes(tree_.Path("hive/NTUSER.DAT.LOG1")), log);
  EXPECT_EQ(Entries(quarantine_->Path()), 0u) << "the kept copies go once they are back";
  EXPECT_EQ(UndoKeptFiles(*read, *quarantine_).outcome, UndoOutcome::AlreadyAsBefore);
}

}  // namespace
}  // namespace korbu
