#include "platform/rescue/UserFolders.h"

#include <array>
#include <string_view>

#include "platform/AsciiCase.h"
#include "platform/Registry.h"
#include "platform/WindowsSystem.h"
#include "platform/rescue/HiveNames.h"

namespace korbu::platform::rescue {
namespace {

constexpr std::string_view kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

struct ShellFolder {
  int csidl;
  std::string_view valueName;
  std::array<std::string_view, 2> defaults;  // below the profile, newest Windows first
};

constexpr std::array<ShellFolder, 2> kShellFolders = {{
    {kCsidlLocalAppData, "Local AppData", {"AppData\\Local", "Local Settings\\Application Data"}},
    {kCsidlMyPictures, "My Pictures", {"Pictures", "My Documents\\My Pictures"}},
}};

// The value's text in one of Explorer's two keys; empty when it has none.
std::string RecordedPath(InstallationRegistry& registry, const WindowsUser& user, std::string_view key,
                         std::string_view valueName) {
  auto values = registry.Values(kHkeyUsers, user.key + "\\" + std::string(kExplorer) + std::string(key));
  if (!values) return {};
  for (const HiveValue& value : *values) {
    if (!EqualsIgnoringCase(value.name, valueName) || (value.type != kRegSz && value.type != kRegExpandSz)) continue;
    return ExpandInstallationPath(HiveText(value.data), registry.Installation(), &user);
  }
  return {};
}

}  // namespace

std::string UserShellFolderPath(InstallationRegistry& registry, const WindowsUser& user, int csidl) {
  for (const ShellFolder& folder : kShellFolders) {
    if (folder.csidl != csidl) continue;
    for (std::string_view key : {"User Shell Folders", "Shell Folders"}) {
      const std::string path = RecordedPath(registry, user, key, folder.valueName);
      if (!path.empty() && !InstallationPath(registry.Installation(), path).empty()) return path;
    }
    for (std::string_view below : folder.defaults) {
      const std::string path = user.profilePath + "\\" + std::string(below);
      if (OpenInstallationFolder(registry.Installation(), path)) return path;
    }
  }
  return {};
}

}  // namespace korbu::platform::rescue
