#include "support/WinePrefixFixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace korbu::test {
namespace fs = std::filesystem;

std::string WineRegString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

WinePrefixFixture::WinePrefixFixture(std::string_view extraSystemReg, std::string_view extraUserReg)
    : wineprefix_("WINEPREFIX", tree_.Path()) {
  std::string system =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n"
      "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n\n";
  system += extraSystemReg;
  std::string user =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n"
      "\"Local AppData\"=\"C:\\\\users\\\\tester\\\\AppData\\\\Local\"\n"
      "\"My Pictures\"=\"C:\\\\users\\\\tester\\\\Pictures\"\n\n";
  user += extraUserReg;
  tree_.Write("system.reg", system);
  tree_.Write("user.reg", user);
  tree_.MakeDir("drive_c/windows/system32/drivers/etc");
  tree_.MakeDir("drive_c/users/tester/AppData/Local");
  tree_.MakeDir("drive_c/users/tester/Pictures");
  tree_.MakeDir("dosdevices");
  fs::create_directory_symlink("../drive_c", tree_.Path("dosdevices/c:"));
}

std::string WinePrefixFixture::DriveC(std::string_view relative) const {
  std::string base = tree_.Path("drive_c");
  return relative.empty() ? base : base + "/" + std::string(relative);
}

std::string WinePrefixFixture::WriteC(std::string_view relative, std::string_view bytes) const {
  return tree_.Write("drive_c/" + std::string(relative), bytes);
}

std::string WinePrefixFixture::Snapshot() const {
  std::vector<std::string> lines;
  for (auto it = fs::recursive_directory_iterator(tree_.Root()); it != fs::recursive_directory_iterator(); ++it) {
    const auto& entry = *it;
    std::string line = fs::relative(entry.path(), tree_.Root()).string();
    if (entry.is_symlink()) {
      line += " -> " + fs::read_symlink(entry.path()).string();
      it.disable_recursion_pending();
    } else if (entry.is_regular_file()) {
      line += " = " + ReadFileBytes(entry.path());
      line += " mode " + std::to_string(static_cast<unsigned>(fs::status(entry.path()).permissions()));
    } else {
      line += "/";
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

}  // namespace korbu::test
