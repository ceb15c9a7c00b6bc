#include "ShellFixture.h"

#include <cstdlib>
#include <filesystem>

namespace korbu::test {
namespace fs = std::filesystem;

FakePrefix::FakePrefix()
    : prefix_(fs::canonical(tree_.Root()).string() + "/prefix"),
      wineprefix_("WINEPREFIX", prefix_),
      home_("HOME", fs::canonical(tree_.Root()).string()) {
  tree_.Write("prefix/system.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n");
  tree_.Write("prefix/user.reg",
              "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
              "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n"
              "#time=1da0000000000000\n"
              "\"Local AppData\"=\"C:\\\\users\\\\tester\\\\AppData\\\\Local\"\n"
              "\"My Pictures\"=\"C:\\\\users\\\\tester\\\\Pictures\"\n");
  tree_.MakeDir("prefix/drive_c/windows/system32");
  tree_.MakeDir("prefix/dosdevices");
  fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:");
}

std::string FakePrefix::WriteC(const std::string& relative, const std::string& bytes) const {
  WriteFileBytes(DriveC(relative), bytes);
  return DriveC(relative);
}

}  // namespace korbu::test
