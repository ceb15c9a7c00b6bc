#include "platform/wine/WinePrefix.h"

#include <pwd.h>

#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/WindowsSystemChoice.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {
namespace {

bool IsPrefix(const std::string& folder) {
  return FileExists(folder + "/system.reg") && FileExists(folder + "/user.reg") &&
         DirectoryExists(folder + "/drive_c");
}

}  // namespace

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return {};
}

std::string FindWinePrefix() {
  std::string folder;
  if (const WindowsSystemRef& chosen = CurrentWindowsSystem(); chosen.kind == WindowsSystemRef::Kind::WinePrefix) {
    folder = chosen.root;  // never another prefix in its place
  } else if (chosen.kind == WindowsSystemRef::Kind::WindowsVolume) {
    return {};  // a mounted Windows installation is no prefix
  } else if (const char* named = std::getenv("WINEPREFIX"); named != nullptr && named[0] != '\0') {
    folder = named;
  } else {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    folder = home + "/.wine";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return IsPrefix(folder) ? folder : std::string();
}

}  // namespace korbu::platform::posix

namespace korbu::platform {

std::string ChosenWinePrefix() { return posix::FindWinePrefix(); }

bool SamePrefixFolder(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace korbu::platform
