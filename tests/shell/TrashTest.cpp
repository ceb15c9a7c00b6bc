#include "platform/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "ShellFixture.h"
#include "services/ShellUtils.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnv;
using test::TempTree;

std::string RecordedPath(const fs::path& info) {
  std::smatch m;
  const std::string text = ReadFileBytes(info);
  static const std::regex kPath("^\\[Trash Info\\]\nPath=([^\n]*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$");
  return std::regex_match(text, m, kPath) ? m[1].str() : "<malformed: " + text + ">";
}

class HomeTrashTest : public ::testing::Test {
 protected:
  std::string Item(const std::string& relative) const { return root_ + "/" + relative; }
  fs::path Files() const { return root_ + "/data/Trash/files"; }
  fs::path Info() const { return root_ + "/data/Trash/info"; }

  TempTree tree_;
  std::string root_ = fs::canonical(tree_.Root()).string();
  ScopedEnv data_{"XDG_DATA_HOME", root_ + "/data"};
};

TEST_F(HomeTrashTest, FilesAndFoldersGoWithTheirRecord) {
  const std::string file = tree_.Write("a b%\xC3\xBC#.doc", "content");
  ASSERT_TRUE(MoveToTrash(file));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(ReadFileBytes(Files() / "a b%\xC3\xBC#.doc"), "content");
  EXPECT_EQ(RecordedPath(Info() / "a b%\xC3\xBC#.doc.trashinfo"), Item("a%20b%25%C3%BC%23.doc"));
  EXPECT_EQ(fs::status(root_ + "/data/Trash").permissions(), fs::perms::owner_all);

  tree_.Write("worm/inner/deep.exe", "MZ");
  ASSERT_TRUE(RecycleFile(Item("worm/")));
  EXPECT_FALSE(fs::exists(Item("worm")));
  EXPECT_EQ(ReadFileBytes(Files() / "worm/inner/deep.exe"), "MZ");
  EXPECT_EQ(RecordedPath(Info() / "worm.trashinfo"), Item("worm"));
}

TEST_F(HomeTrashTest, SameNamesNeverReplaceEachOther) {
  ASSERT_TRUE(MoveToTrash(tree_.Write("one/x.exe", "one")));
  ASSERT_TRUE(MoveToTrash(tree_.Write("two/x.exe", "two")));
  test::WriteFileBytes(Files() / "x.exe.3", "stray");  // an entry without a record
  ASSERT_TRUE(MoveToTrash(tree_.Write("three/x.exe", "three")));
  EXPECT_EQ(ReadFileBytes(Files() / "x.exe"), "one");
  EXPECT_EQ(ReadFileBytes(Files() / "x.exe.2"), "two");
  EXPECT_EQ(ReadFileBytes(Files() / "x.exe.3"), "stray");
  EXPECT_EQ(ReadFileBytes(Files() / "x.exe.4"), "three");
  EXPECT_EQ(RecordedPath(Info() / "x.exe.2.trashinfo"), Item("two/x.exe"));
  EXPECT_EQ(RecordedPath(Info() / "x.exe.4.trashinfo"), Item("three/x.exe"));
  EXPECT_FALSE(fs::exists(Info() / "x.exe.3.trashinfo"));
}

TEST_F(HomeTrashTest, LongPathsAndNamesAreTakenWhole) {
  std::string deep;
  for (int i = 0; i < 30; ++i) deep += "folder-number-" + std::to_string(i) + "/";
  const std::string file = tree_.Write(deep + "victim.exe", "MZ");
  ASSERT_GT(file.size(), 400u);
  ASSERT_TRUE(MoveToTrash(file));
  EXPECT_EQ(RecordedPath(Info() / "victim.exe.trashinfo"), file);
  // A name at the file system's limit is shortened in the trash so that its
  // record's name fits; the record keeps the whole path.
  const std::string longFile = tree_.Write(std::string(255, 'L'), "long");
  ASSERT_TRUE(MoveToTrash(longFile));
  EXPECT_EQ(ReadFileBytes(Files() / std::string(245, 'L')), "long");
  EXPECT_EQ(RecordedPath(Info() / (std::string(245, 'L') + ".trashinfo")), longFile);
}

TEST_F(HomeTrashTest, LinksGoAsLinks) {
  const std::string target = tree_.Write("kept/folder/target.exe", "MZ");
  fs::create_symlink(target, Item("file-link"));
  fs::create_directory_symlink(Item("kept/folder"), Item("folder-link"));
  ASSERT_TRUE(MoveToTrash(Item("file-link")));
  ASSERT_TRUE(MoveToTrash(Item("folder-link")));
  EXPECT_TRUE(fs::is_symlink(Files() / "file-link"));
  EXPECT_TRUE(fs::is_symlink(Files() / "folder-link"));
  EXPECT_EQ(ReadFileBytes(target), "MZ");
}

TEST_F(HomeTrashTest, RefusesWhatCannotGo) {
  EXPECT_EQ(MoveToTrash(Item("missing.exe")).Reason(), "No such file or directory");
  EXPECT_FALSE(MoveToTrash("/"));
  ASSERT_TRUE(MoveToTrash(tree_.Write("x.exe", "MZ")));
  EXPECT_EQ(MoveToTrash(root_ + "/data/Trash").Reason(), "it is the trash, holds it or is in it");
  EXPECT_FALSE(MoveToTrash(root_ + "/data"));
  EXPECT_FALSE(MoveToTrash((Files() / "x.exe").string()));
  EXPECT_TRUE(fs::exists(Files() / "x.exe"));
  // A home trash that cannot be made sends nothing to any other trash.
  fs::remove_all(root_ + "/data");
  test::WriteFileBytes(root_ + "/data", "not a folder");
  const std::string file = tree_.Write("y.exe", "MZ");
  EXPECT_FALSE(MoveToTrash(file));
  EXPECT_EQ(ReadFileBytes(file), "MZ");
}

// Another file system has its trash at its top; /dev/shm is the one a test can use.
TEST(TopdirTrash, OtherFileSystemUsesItsOwnTrash) {
  TempTree home;
  const std::string uid = std::to_string(::getuid());
  const fs::path own = "/dev/shm/.Trash-" + uid, shared = "/dev/shm/.Trash";
  struct stat shm {}, tmp {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(home.Path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
      ::access("/dev/shm", W_OK) != 0 || fs::exists(fs::symlink_status(own)) || fs::exists(fs::symlink_status(shared))) {
    GTEST_SKIP() << "needs a writable /dev/shm of its own file system, without a trash";
  }
  ScopedEnv data("XDG_DATA_HOME", home.Path("data"));
  const std::string name = "korbu-trash-test-" + std::to_string(::getpid());
  const fs::path item = fs::path("/dev/shm") / name;
  struct Cleanup {
    std::vector<fs::path> paths;
    ~Cleanup() {
      std::error_code ec;
      for (const auto& p : paths) fs::remove_all(p, ec);
    }
  } cleanup{{own, shared, item}};

  test::WriteFileBytes(own, "in the way");  // no trash can be had there: the item stays
  test::WriteFileBytes(item, "one");
  EXPECT_FALSE(MoveToTrash(item.string()));
  EXPECT_EQ(ReadFileBytes(item), "one");

  fs::remove(own);
  ASSERT_TRUE(MoveToTrash(item.string()));
  EXPECT_EQ(ReadFileBytes(own / "files" / name), "one");
  EXPECT_EQ(RecordedPath(own / "info" / (name + ".trashinfo")), name);  // relative to the top

  fs::create_directory(shared);  // an administrator's sticky .Trash comes first
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  test::WriteFileBytes(item, "two");
  ASSERT_TRUE(MoveToTrash(item.string()));
  EXPECT_EQ(ReadFileBytes(shared / uid / "files" / name), "two");
}

}  // namespace
}  // namespace korbu::platform
