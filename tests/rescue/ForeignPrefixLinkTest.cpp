// A Wine prefix another user owns is hers: root scanning it follows none of her
// links out of it, neither a drive of hers that leads to / nor a folder link on
// a drive, to judge a file of root's. Through the real korbu-scan, as root; and
// the open of a file that was checked inside a folder stays inside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/posix/InsideRoot.h"
#include "support/CommandRun.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "support/WinePrefixFixture.h"

namespace korbu::test {
namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// "C:\a\b" for a Linux path "/a/b" on the drive letter given.
std::string OnDrive(char letter, const std::string& path) {
  std::string windows = std::string(1, letter) + ":";
  for (char c : path) windows += c == '/' ? '\\' : c;
  return windows;
}

TEST(ForeignPrefixLinks, RunValuesOfAnotherUsersPrefixStayInsideIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a prefix to another user needs root";
  TempTree outside;  // root's own, private folder
  const std::string secret = outside.Write("root-private/x.exe", VariantFile(1));
  fs::permissions(outside.Path("root-private"), fs::perms::owner_all);
  const std::string run = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 0\n\"ViaZ\"=" +
                          WineRegString(OnDrive('Z', secret)) + "\n\"ViaLink\"=" +
                          WineRegString("C:\\out\\x.exe") + "\n\"Inside\"=" +
                          WineRegString("C:\\windows\\inside.exe") + "\n";
  WinePrefixFixture prefix({}, run);
  prefix.WriteC("windows/inside.exe", VariantFile(2));
  fs::create_directory_symlink("/", prefix.Folder() + "/dosdevices/z:");
  fs::create_directory_symlink(outside.Path("root-private"), prefix.DriveC("out"));
  ASSERT_EQ(RunCommand("chown -hR 65534:65534 " + ShellQuote(prefix.Folder())).status, 0);

  TempTree data;
  const std::string empty = data.MakeDir("empty");
  const CommandRun scan = RunCommand("env XDG_DATA_HOME=" + ShellQuote(data.Path("data")) + " XDG_CACHE_HOME=" +
                                     ShellQuote(data.Path("cache")) + " " + ShellQuote(KORBU_SCAN_EXE) +
                                     " --no-engine --no-memory " + ShellQuote(empty) + " 2>&1");
  EXPECT_TRUE(Has(scan.output, "\\Run\\Inside: Brontok")) << scan.output;
  EXPECT_FALSE(Has(scan.output, "\\Run\\ViaZ")) << scan.output;
  EXPECT_FALSE(Has(scan.output, "\\Run\\ViaLink")) << scan.output;
  EXPECT_FALSE(Has(scan.output, outside.Path())) << "nothing of root's is judged:\n" << scan.output;
  EXPECT_TRUE(Has(scan.output, "drive z: of the Wine prefix")) << "the refused drive is named:\n" << scan.output;
}

TEST(ForeignPrefixLinks, AFileCheckedInsideAFolderIsOpenedInsideIt) {
  TempTree tree;
  const std::string root = tree.MakeDir("volume");
  tree.Write("volume/real/x.exe", "inside");
  tree.Write("elsewhere/x.exe", "outside");
  // The path names a folder of the volume; by the time it is opened that folder
  // is a link out of it.
  fs::create_directory_symlink(tree.Path("elsewhere"), root + "/swapped");
  platform::OpenedFile out = platform::posix::OpenFileInsideRoot(root, root + "/swapped/x.exe");
  EXPECT_FALSE(out.IsOpen()) << "a link out of the folder is not followed";
  EXPECT_FALSE(out.Error().empty());
  // An absolute link means the folder's own root, as on the volume's system.
  fs::create_directory_symlink("/real", root + "/here");
  platform::OpenedFile in = platform::posix::OpenFileInsideRoot(root, root + "/here/x.exe");
  ASSERT_TRUE(in.IsOpen()) << in.Error();
  char bytes[6] = {};
  EXPECT_EQ(in.ReadAt(bytes, sizeof bytes, 0), 6);
  EXPECT_EQ(std::string(bytes, 6), "inside");
  EXPECT_FALSE(platform::posix::OpenFileInsideRoot(root, tree.Path("elsewhere/x.exe")).IsOpen())
      << "a path outside the folder is refused";
}

}  // namespace
}  // namespace korbu::test
