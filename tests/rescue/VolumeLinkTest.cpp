// A mounted volume is another user's: its links mean what they would on its own
// system, with the volume as the root, and none leads the scan out of it to
// judge a file of this machine's. Through the real korbu-scan --windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "rescue/HiveFixture.h"
#include "rescue/WindowsVolume.h"
#include "support/CommandRun.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kLocal = "C:\\Users\\alice\\AppData\\Local\\";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(VolumeLinks, RunValuesResolveInsideTheVolume) {
  WindowsVolume volume;
  TempTree outside;  // root's own, private folder
  const std::string secret = outside.Write("private/smss.exe", VariantFile(1));
  fs::permissions(outside.Path("private"), fs::perms::owner_all);
  volume.Write("Users/alice/AppData/Local/Real/smss.exe", VariantFile(2));
  const std::string local = volume.Path("Users/alice/AppData/Local");
  // Out of the volume: a folder link to the private folder, one that climbs
  // above the volume's root, and the program itself as a link.
  fs::create_directory_symlink(outside.Path("private"), local + "/Tools");
  fs::create_directory_symlink("../../../../../../../../../../.." + outside.Path("private"), local + "/Up");
  fs::create_symlink(secret, local + "/prog.exe");
  // Inside: an absolute link means the volume's own root, as on its system.
  fs::create_directory_symlink("/Users/alice/AppData/Local/Real", local + "/Here");
  HiveEdit(volume.UserHive("alice"))
      .SetString(kRun, "ViaFolder", std::string(kLocal) + "Tools\\smss.exe")
      .SetString(kRun, "ViaClimb", std::string(kLocal) + "Up\\smss.exe")
      .SetString(kRun, "ViaFile", std::string(kLocal) + "prog.exe")
      .SetString(kRun, "Inside", std::string(kLocal) + "Here\\smss.exe")
      .Commit();

  TempTree data;
  const std::string empty = data.MakeDir("empty");
  const CommandRun scan = RunCommand("env XDG_DATA_HOME=" + ShellQuote(data.Path("data")) + " XDG_CACHE_HOME=" +
                                     ShellQuote(data.Path("cache")) + " WINEPREFIX=/nonexistent-prefix " +
                                     ShellQuote(KORBU_SCAN_EXE) + " --no-engine --no-memory --windows " +
                                     ShellQuote(volume.Root()) + " " + ShellQuote(empty) + " 2>&1");
  EXPECT_TRUE(Has(scan.output, "\\Run\\Inside: Brontok")) << scan.output;
  EXPECT_FALSE(Has(scan.output, "\\Run\\ViaFolder")) << scan.output;
  EXPECT_FALSE(Has(scan.output, "\\Run\\ViaClimb")) << scan.output;
  EXPECT_FALSE(Has(scan.output, "\\Run\\ViaFile")) << scan.output;
  EXPECT_FALSE(Has(scan.output, outside.Path())) << "nothing outside the volume is judged:\n" << scan.output;
}

}  // namespace
}  // namespace korbu::test
