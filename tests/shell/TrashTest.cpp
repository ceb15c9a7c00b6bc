#include "platform/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <vector>

#include "ShellFixture.h"
#include "services/ShellUtils.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnv;
using test::TempTree;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string InfoPath(const std::string& info) {
  std::smatch m;
  static const std::regex kPath("(^|\n)Path=([^\n]*)\n");
  return std::regex_search(info, m, kPath) ? m[2].str() : std::string("<none>");
}

// A home trash inside a temporary tree.
class HomeTrashTest : public ::testing::Test {
 protected:
  HomeTrashTest()
      : root_(fs::canonical(tree_.Root()).string()),
        data_("XDG_DATA_HOME", root_ + "/data"),
        home_("HOME", root_ + "/home") {}

  std::string Item(const std::string& relative) const { return root_ + "/" + relative; }
  fs::path Files() const { return root_ + "/data/Trash/files"; }
  fs::path Info() const { return root_ + "/data/Trash/info"; }

  TempTree tree_;
  std::string root_;
  ScopedEnv data_;
  ScopedEnv home_;
};

TEST_F(HomeTrashTest, FileGoesWithItsRecord) {
  const std::string original = tree_.Write("docs/report.doc", "content");
  ASSERT_TRUE(MoveToTrash(original));

  EXPECT_FALSE(fs::exists(original));
  EXPECT_EQ(ReadFileBytes(Files() / "report.doc"), "content");
  const std::string info = ReadFileBytes(Info() / "report.doc.trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << info;
  EXPECT_EQ(InfoPath(info), Item("docs/report.doc"));
  EXPECT_TRUE(std::regex_search(info, std::regex("\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
      << info;
  // The trash is private to the user.
  struct stat st {};
  ASSERT_EQ(::stat((root_ + "/data/Trash").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(HomeTrashTest, RecordedPathIsPercentEncoded) {
  const std::string original = tree_.Write("a b%\xC3\xBC#.txt", "x");
  ASSERT_TRUE(MoveToTrash(original));
  EXPECT_EQ(InfoPath(ReadFileBytes(Info() / "a b%\xC3\xBC#.txt.trashinfo")),
            Item("a%20b%25%C3%BC%23.txt"));
}

TEST_F(HomeTrashTest, FolderGoesWhole) {
  tree_.Write("worm/inner/deep.exe", "MZ");
  tree_.Write("worm/top.txt", "t");
  ASSERT_TRUE(RecycleFile(Item("worm/")));
  EXPECT_FALSE(fs::exists(Item("worm")));
  EXPECT_EQ(ReadFileBytes(Files() / "worm/inner/deep.exe"), "MZ");
  EXPECT_EQ(ReadFileBytes(Files() / "worm/top.txt"), "t");
  EXPECT_EQ(InfoPath(ReadFileBytes(Info() / "worm.trashinfo")), Item("worm"));
}

TEST_F(HomeTrashTest, SameNamesNeverReplaceEachOther) {
  const std::string first = tree_.Write("one/x.exe", "first");
  const std::string second = tree_.Write("two/x.exe", "second");
  const std::string third = tree_.Write("three/x.exe", "third");
  ASSERT_TRUE(MoveToTrash(first));
  ASSERT_TRUE(MoveToTrash(second));
  // A stray entry without a record is not overwritten either.
  test::WriteFileBytes(Files() / "x.exe.3", "stray");
  ASSERT_TRUE(MoveToTrash(third));

  const auto files = Names(Files());
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(ReadFileBytes(Files() / "x.exe.3"), "stray");
  for (const auto& name : files) {
    if (name == "x.exe.3") continue;
    const std::string info = ReadFileBytes(Info() / (name + ".trashinfo"));
    const std::string content = ReadFileBytes(Files() / name);
    EXPECT_EQ(InfoPath(info), Item((content == "first" ? "one" : content == "second" ? "two" : "three") +
                                   std::string("/x.exe")))
        << name;
  }
  EXPECT_EQ(Names(Info()).size(), 3u);
}

TEST_F(HomeTrashTest, LongPathsAndNamesAreTakenWhole) {
  std::string deep;
  for (int i = 0; i < 30; ++i) deep += "folder-number-" + std::to_string(i) + "/";
  const std::string original = tree_.Write(deep + "victim.exe", "MZ");
  ASSERT_GT(original.size(), 400u);
  ASSERT_TRUE(MoveToTrash(original));
  EXPECT_FALSE(fs::exists(original));
  EXPECT_EQ(InfoPath(ReadFileBytes(Info() / "victim.exe.trashinfo")), original);

  // A name at the file system's limit gets a shorter name in the trash, while its
  // record keeps the whole original path.
  const std::string longName(255, 'L');
  const std::string longFile = tree_.Write(longName, "long");
  ASSERT_TRUE(MoveToTrash(longFile));
  EXPECT_FALSE(fs::exists(longFile));
  const std::string shortened(245, 'L');
  EXPECT_EQ(ReadFileBytes(Files() / shortened), "long");
  EXPECT_EQ(InfoPath(ReadFileBytes(Info() / (shortened + ".trashinfo"))), longFile);
}

TEST_F(HomeTrashTest, LinksGoAsLinks) {
  const std::string target = tree_.Write("kept/target.exe", "MZ");
  tree_.MakeDir("kept/folder");
  tree_.Write("kept/folder/inside.txt", "i");
  fs::create_symlink(target, Item("file-link"));
  fs::create_directory_symlink(Item("kept/folder"), Item("folder-link"));

  ASSERT_TRUE(MoveToTrash(Item("file-link")));
  ASSERT_TRUE(MoveToTrash(Item("folder-link")));
  EXPECT_TRUE(fs::is_symlink(Files() / "file-link"));
  EXPECT_TRUE(fs::is_symlink(Files() / "folder-link"));
  EXPECT_EQ(ReadFileBytes(target), "MZ");
  EXPECT_TRUE(fs::exists(Item("kept/folder/inside.txt")));
  EXPECT_FALSE(fs::exists(Files() / "target.exe"));
}

TEST_F(HomeTrashTest, RefusesWhatCannotGo) {
  EXPECT_FALSE(MoveToTrash(Item("missing.exe")));
  EXPECT_FALSE(MoveToTrash(""));
  EXPECT_FALSE(MoveToTrash("/"));
  const std::string file = tree_.Write("x.exe", "MZ");
  ASSERT_TRUE(MoveToTrash(file));
  // The trash itself, and a folder holding it, stay where they are.
  EXPECT_FALSE(MoveToTrash(root_ + "/data/Trash"));
  EXPECT_FALSE(MoveToTrash(root_ + "/data"));
  EXPECT_FALSE(MoveToTrash((Files() / "x.exe").string()));
  EXPECT_TRUE(fs::exists(Files() / "x.exe"));
  EXPECT_TRUE(Names(Info()) == std::vector<std::string>{"x.exe.trashinfo"});
}

TEST_F(HomeTrashTest, BrokenHomeTrashLeavesTheFile) {
  // A home trash that cannot be made must not send the file to another trash.
  test::WriteFileBytes(root_ + "/data", "not a folder");
  const std::string file = tree_.Write("x.exe", "MZ");
  EXPECT_FALSE(MoveToTrash(file));
  EXPECT_EQ(ReadFileBytes(file), "MZ");
}

// Items on another file system go to the trash at its top. /dev/shm is the only
// other writable file system a test can count on.
TEST(TopdirTrash, OtherFileSystemUsesItsOwnTrash) {
  TempTree home;
  struct stat shm {}, tmp {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(home.Path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
      ::access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "needs a writable /dev/shm on its own file system";
  }
  {
    struct stat st {};
    if (::lstat("/dev/shm/.Trash", &st) == 0 || ::lstat(("/dev/shm/.Trash-" + std::to_string(::getuid())).c_str(), &st) == 0)
      GTEST_SKIP() << "/dev/shm already has a trash";
  }
  ScopedEnv data("XDG_DATA_HOME", home.Path("data"));
  const std::string uid = std::to_string(::getuid());
  const fs::path own = "/dev/shm/.Trash-" + uid;
  const fs::path shared = "/dev/shm/.Trash";
  const std::string name = "korbu-trash-test-" + std::to_string(::getpid());
  const fs::path item = fs::path("/dev/shm") / name;
  struct Cleanup {
    fs::path a, b, c;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(a, ec);
      fs::remove_all(b, ec);
      fs::remove_all(c, ec);
    }
  } cleanup{own, shared, item};

  // No trash can be had there: the item stays.
  test::WriteFileBytes(own, "in the way");
  test::WriteFileBytes(item, "one");
  EXPECT_FALSE(MoveToTrash(item.string()));
  EXPECT_EQ(ReadFileBytes(item), "one");
  EXPECT_FALSE(fs::exists(home.Path("data/Trash/files") + "/" + name));

  fs::remove(own);
  ASSERT_TRUE(MoveToTrash(item.string()));
  EXPECT_EQ(ReadFileBytes(own / "files" / name), "one");
  // Records of a top-level trash hold paths relative to the top of its file system.
  EXPECT_EQ(InfoPath(ReadFileBytes(own / "info" / (name + ".trashinfo"))), name);

  // An administrator's sticky .Trash takes precedence; without the sticky bit it
  // would not be used.
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  test::WriteFileBytes(item, "two");
  ASSERT_TRUE(MoveToTrash(item.string()));
  EXPECT_EQ(ReadFileBytes(shared / uid / "files" / name), "two");
}

}  // namespace
}  // namespace korbu::platform
