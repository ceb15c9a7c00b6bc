// The history view's logic over real records: what it lists, what Restore may do
// and what it says when the undo refuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/FolderHandle.h"
#include "repair/Journal.h"
#include "repair/JournalSink.h"
#include "scan/DetectionList.h"
#include "support/TempTree.h"
#include "ui/HistoryModel.h"

namespace korbu {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

class HistoryModelTest : public ::testing::Test {
 protected:
  std::string Actions() const { return tree.Path("data/actions"); }

  // Deletes the file through the journal, as a window's Delete does; the action's id.
  std::string DeleteRecorded(const std::string& path, const char* action = "delete") {
    DetectionList rows;
    rows.AddDetection(path, "Eicar-Test-Signature");
    rows.SetChecked(0, true);
    JournalSink sink(action, rows, Actions());
    // Split as bytes: on Windows a path object would read UTF-8 in the ANSI code page.
    const std::size_t slash = path.find_last_of("/\\");
    const auto folder = platform::Folder::Open(path.substr(0, slash));
    EXPECT_TRUE(folder);
    if (!folder) return {};
    EXPECT_TRUE(sink.DeleteFile(*folder, path.substr(slash + 1)));
    EXPECT_TRUE(sink.Error().empty()) << sink.Error();
    return sink.Id();
  }

  test::TempTree tree;
};

TEST_F(HistoryModelTest, ListsActionsNewestFirstAndRestoresADeletedFileOnce) {
  const std::string first = tree.Write("files/eicar.com", "the first file");
  const std::string second = tree.Write("files/other.com", "the second file");
  const std::string older = DeleteRecorded(first);
  const std::string newer = DeleteRecorded(second, "guard: quarantined");
  ASSERT_FALSE(fs::exists(first));

  HistoryModel model(Actions());
  ASSERT_EQ(model.Reload(), "");
  ASSERT_EQ(model.Entries().size(), 2U);
  EXPECT_EQ(model.Entries()[0].id, newer);
  EXPECT_EQ(model.Entries()[1].id, older);
  const HistoryEntry& deleted = model.Entries()[1];
  EXPECT_NE(deleted.title.find("Delete: 1 row(s), 1 change(s)"), std::string::npos) << deleted.title;
  EXPECT_NE(model.Entries()[0].title.find("Quarantined by the guard"), std::string::npos);
  ASSERT_EQ(deleted.rows.size(), 1U);
  EXPECT_EQ(deleted.rows[0], first + ": Eicar-Test-Signature");
  ASSERT_EQ(deleted.changes.size(), 1U);
  EXPECT_EQ(deleted.changes[0], "Removed to the quarantine: " + first);
  EXPECT_TRUE(deleted.restorable);
  EXPECT_NE(model.Details(1).find("Removed to the quarantine: " + first), std::string::npos);

  EXPECT_EQ(model.Restore(1), "Restored: everything the action changed is as it was before.");
  EXPECT_EQ(ReadFileBytes(first), "the first file");
  EXPECT_FALSE(fs::exists(second));  // the other action is left as it is
  // Read again: the restored action says so and cannot be restored twice.
  ASSERT_EQ(model.Entries().size(), 2U);
  EXPECT_NE(model.Entries()[1].title.find(", restored "), std::string::npos);
  EXPECT_FALSE(model.Entries()[1].restorable);
  EXPECT_EQ(model.Restore(1).rfind("Already restored on ", 0), 0U);
  EXPECT_EQ(model.Restore(7), "No action is selected.");
}

TEST_F(HistoryModelTest, SaysInWordsWhatRestoreRefusesOrLeavesAlone) {
  // A note of the guard changed nothing: nothing to restore.
  {
    JournalWriter note(Actions(), ActionHeader{{}, {}, "guard: refused", {{"/srv/worm.exe", "Worm.Test"}}});
    ASSERT_TRUE(note.Start()) << note.Error();
    note.KeepWithoutEntries();
  }
  // A file put back under the deleted one's name since: the undo leaves it alone.
  const std::string path = tree.Write("files/eicar.com", "the deleted file");
  DeleteRecorded(path);
  WriteFileBytes(path, "someone else's letter");

  HistoryModel model(Actions());
  ASSERT_EQ(model.Reload(), "");
  ASSERT_EQ(model.Entries().size(), 2U);
  const HistoryEntry& note = model.Entries()[1];
  EXPECT_NE(note.title.find("Refused by the guard: 1 row(s), 0 change(s)"), std::string::npos) << note.title;
  EXPECT_FALSE(note.restorable);
  EXPECT_EQ(model.Restore(1), "Nothing to restore: this action changed nothing.");

  const std::string told = model.Restore(0);
  EXPECT_EQ(told.rfind("Restored in part: ", 0), 0U) << told;
  EXPECT_NE(told.find("\nLeft alone: " + path), std::string::npos) << told;
  EXPECT_EQ(ReadFileBytes(path), "someone else's letter");
  EXPECT_TRUE(model.Entries()[0].restorable);  // not everything is back: it may be tried again
}

TEST_F(HistoryModelTest, ShowsEachNameOnOneLineAndRefusesRecordsOthersCanWrite) {
  // A right-to-left override, which would turn the rest of the line around.
  const std::string path = tree.Write("files/\xE2\x80\xAEmoc.exe", "x");
  DeleteRecorded(path);
  HistoryModel model(Actions());
  ASSERT_EQ(model.Reload(), "");
  ASSERT_EQ(model.Entries().size(), 1U);
  EXPECT_EQ(model.Entries()[0].rows[0].find("\xE2\x80\xAE"), std::string::npos);
  EXPECT_NE(model.Entries()[0].rows[0].find("\\xE2\\x80\\xAEmoc.exe: "), std::string::npos) << model.Entries()[0].rows[0];
#ifndef _WIN32
  fs::permissions(Actions(), fs::perms::others_write, fs::perm_options::add);
  const std::string why = model.Reload();
  EXPECT_EQ(why.rfind("The history cannot be read: ", 0), 0U) << why;
  EXPECT_TRUE(model.Entries().empty());
  EXPECT_EQ(model.Restore(0), "No action is selected.");
#endif
}

}  // namespace
}  // namespace korbu
