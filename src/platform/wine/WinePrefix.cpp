#include "platform/wine/WinePrefix.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform::wine {
namespace {

bool IsPrefix(const std::string& folder) {
  return FileExists(folder + "/system.reg") && FileExists(folder + "/user.reg") &&
         DirectoryExists(folder + "/drive_c");
}

}  // namespace

std::string FindWinePrefix(const WindowsSystemRef& ref) {
  std::string folder;
  if (ref.kind == WindowsSystemRef::Kind::WinePrefix) {
    folder = ref.root;  // never another prefix in its place
  } else if (ref.kind == WindowsSystemRef::Kind::WindowsVolume) {
    return {};  // a mounted Windows installation is no prefix
  } else if (const char* named = std::getenv("WINEPREFIX"); named != nullptr && named[0] != '\0') {
    folder = named;
  } else {
    std::string home = posix::HomeFolder();
    if (home.empty()) return {};
    folder = home + "/.wine";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return IsPrefix(folder) ? folder : std::string();
}

bool SamePrefixFolder(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace korbu::platform::wine
