// The hive layer against libhivex's own reading: changes land whole and only on
// Commit, names come back exactly, and what cannot be written back is refused.
#include "platform/rescue/Hive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "rescue/HiveFixture.h"
#include "support/TempTree.h"

namespace korbu::platform::rescue {
namespace {

using test::HiveData;
using test::ReadHiveValue;
using test::StringData;

constexpr const char* kRun = "Microsoft\\Windows\\CurrentVersion\\Run";

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

Hive OpenHive(const test::TempTree& tree, const std::string& name, Hive::Access access) {
  auto folder = Folder::Open(tree.Path());
  EXPECT_TRUE(folder);
  auto hive = Hive::Open(*folder, name, access);
  EXPECT_TRUE(hive) << hive.Reason();
  return std::move(*hive);
}

TEST(Hive, ChangesReachTheFileOnlyOnCommitAndWhole) {
  test::TempTree tree;
  const std::string path = tree.Path("SOFTWARE");
  test::WriteEmptyHive(path);
  test::HiveEdit(path)
      .SetString(kRun, "Good", "C:\\good.exe")
      .SetString(kRun, "Worm", "C:\\worm.exe")
      .Set(kRun, "Blob", 3, std::string("\x01\x00\x02", 3))
      .Commit();
  const ino_t before = Inode(path);

  Hive hive = OpenHive(tree, "SOFTWARE", Hive::Access::Write);
  // Names match ignoring letter case; data comes back as stored.
  auto good = hive.Value("microsoft\\WINDOWS\\currentversion\\run", "good");
  ASSERT_TRUE(good) << good.Reason();
  EXPECT_EQ(good->name, "Good");
  EXPECT_EQ(good->data, StringData("C:\\good.exe"));

  ASSERT_TRUE(hive.DeleteValue(kRun, "WORM"));
  ASSERT_TRUE(hive.SetValue("Policies\\System", {"DisableTaskMgr", 4, test::DwordData(0)}));
  EXPECT_TRUE(hive.Changed());
  EXPECT_TRUE(ReadHiveValue(path, kRun, "Worm")) << "written before Commit";
  EXPECT_EQ(Inode(path), before);

  {
    Status committed = hive.Commit();
    ASSERT_TRUE(committed) << committed.Reason();
  }
  EXPECT_FALSE(hive.Changed());
  EXPECT_NE(Inode(path), before) << "the hive is replaced by a new file, not rewritten in place";
  EXPECT_FALSE(ReadHiveValue(path, kRun, "Worm"));
  EXPECT_EQ(ReadHiveValue(path, kRun, "Good"), (HiveData{1, StringData("C:\\good.exe")}));
  EXPECT_EQ(ReadHiveValue(path, kRun, "Blob"), (HiveData{3, std::string("\x01\x00\x02", 3)}));
  EXPECT_EQ(ReadHiveValue(path, "Policies\\System", "DisableTaskMgr"), (HiveData{4, test::DwordData(0)}));
  // Nothing is left beside it.
  std::size_t files = 0;
  std::string names;
  for (const auto& entry : std::filesystem::directory_iterator(tree.Path())) {
    ++files;
    names += entry.path().filename().string() + " ";
  }
  EXPECT_EQ(files, 1u) << names;
  // A key emptied by an undo can go again, its parent staying.
  ASSERT_TRUE(hive.DeleteValue("Policies\\System", "DisableTaskMgr"));
  ASSERT_TRUE(hive.DeleteEmptyKey("Policies\\System"));
  EXPECT_EQ(test::ErrorCode(hive.DeleteEmptyKey("Microsoft")), ENOTEMPTY);
  ASSERT_TRUE(hive.Commit());
  EXPECT_EQ(test::HiveValueNames(path, kRun), (std::vector<std::string>{"Good", "Blob"}));
  auto subkeys = hive.Subkeys("Policies");
  ASSERT_TRUE(subkeys);
  EXPECT_TRUE(subkeys->empty());
}

TEST(Hive, NamesNoUtf8SpellsComeBackExactlyAndAreNeverRewrittenWrongly) {
  test::TempTree tree;
  const std::string path = tree.Path("NTUSER.DAT");
  // A lone surrogate, as a worm may write with the wide API, and a plain name.
  test::WriteEmptyHive(path, {{std::u16string(u"\xD800x"), 4, test::DwordData(1)}, {u"Keep", 4, test::DwordData(2)}});
  const std::string lone = "\xED\xA0\x80x";

  Hive hive = OpenHive(tree, "NTUSER.DAT", Hive::Access::Write);
  auto values = hive.Values("");
  ASSERT_TRUE(values) << values.Reason();
  ASSERT_EQ(values->size(), 2u);
  EXPECT_EQ((*values)[0].name, lone);
  EXPECT_EQ((*values)[1].name, "Keep");

  // A value set beside it leaves its name as it was, unit for unit.
  ASSERT_TRUE(hive.SetValue("", {"New", 4, test::DwordData(3)}));
  EXPECT_FALSE(hive.SetValue("Key", {"\xFF", 4, test::DwordData(3)}));
  EXPECT_FALSE(hive.Subkeys("Key")) << "nothing is created for a value that cannot be stored";
  // A key name libhivex cannot write is refused, in words that keep the name whole.
  Status key = hive.CreateKey(std::string("A\0B", 3));
  EXPECT_NE(key.Reason().find(std::string("\"A\0B\"", 5)), std::string::npos) << key.Reason();
  ASSERT_TRUE(hive.Commit());
  values = hive.Values("");
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[0].name, lone);

  // Removing it needs only the names that stay.
  ASSERT_TRUE(hive.DeleteValue("", lone)) << "delete";
  ASSERT_TRUE(hive.Commit());
  EXPECT_EQ(test::HiveValueNames(path, ""), (std::vector<std::string>{"Keep", "New"}));
}

TEST(Hive, RefusesWhatWouldLoseData) {
  test::TempTree tree;
  const std::string path = tree.Path("SOFTWARE");
  test::WriteEmptyHive(path);
  test::HiveEdit(path).Set("Big", "Blob", 3, std::string(16345, 'x')).Commit();

  {
    Hive readOnly = OpenHive(tree, "SOFTWARE", Hive::Access::Read);
    EXPECT_EQ(test::ErrorCode(readOnly.SetValue("Big", {"A", 4, test::DwordData(0)})), EROFS);
    EXPECT_EQ(test::KindOf(readOnly.Values("Missing")), ErrorKind::NotFound);
    EXPECT_EQ(test::KindOf(readOnly.Value("Big", "Missing")), ErrorKind::NotFound);
    EXPECT_FALSE(readOnly.Values("Big\\\\x")) << "an empty component";
  }

  Hive hive = OpenHive(tree, "SOFTWARE", Hive::Access::Write);
  // A hive replaced since it was read is not overwritten.
  ASSERT_TRUE(hive.SetValue("Other", {"A", 4, test::DwordData(0)}));
  const std::string copy = test::ReadFileBytes(path);
  std::filesystem::remove(path);
  test::WriteFileBytes(path, copy);
  Status replaced = hive.Commit();
  EXPECT_NE(replaced.Reason().find("replaced"), std::string::npos) << replaced.Reason();
  EXPECT_FALSE(ReadHiveValue(path, "Other", "A"));
}

}  // namespace
}  // namespace korbu::platform::rescue
