#include "platform/rescue/VolumeSystem.h"

#include <map>
#include <mutex>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/WindowsSystemChoice.h"
#include "platform/rescue/HiveFile.h"
#include "platform/rescue/InstallationRegistry.h"
#include "platform/rescue/UserFolders.h"
#include "platform/rescue/VolumeChecks.h"

namespace korbu::platform::rescue {
namespace {

using Found = Expected<std::shared_ptr<const WindowsInstallation>>;

// Finding an installation reads its machine hives whole: once a volume per run.
Found Installation(const std::string& root) {
  static std::mutex mutex;
  static std::map<std::string, Found> found;
  const std::lock_guard<std::mutex> lock(mutex);
  auto it = found.find(root);
  if (it == found.end()) {
    auto installation = FindWindowsInstallation(root);
    Found entry = installation ? Found(std::make_shared<const WindowsInstallation>(std::move(*installation)))
                               : Found(installation.error());
    it = found.emplace(root, std::move(entry)).first;
  }
  return it->second;
}

}  // namespace

bool VolumeChosen() { return CurrentWindowsSystem().kind == WindowsSystemRef::Kind::WindowsVolume; }

Expected<std::shared_ptr<const WindowsInstallation>> ChosenInstallation() {
  if (!VolumeChosen()) return Failure("no Windows volume is chosen");
  return Installation(CurrentWindowsSystem().root);
}

const WindowsUser* ChosenUser(const WindowsInstallation& installation) {
  const std::string& user = CurrentWindowsSystem().user;
  if (user.empty()) return nullptr;
  for (const WindowsUser& candidate : installation.users) {
    if (EqualsIgnoringCase(candidate.key, user)) return &candidate;
  }
  return nullptr;
}

std::string VolumeDriveRoot(char letter) {
  auto installation = ChosenInstallation();
  if (!installation) return {};
  return AsciiUpper(letter) == AsciiUpper((*installation)->Drive()) ? (*installation)->root : std::string();
}

std::string VolumeUserProfilePath() {
  auto installation = ChosenInstallation();
  const WindowsUser* user = installation ? ChosenUser(**installation) : nullptr;
  return user != nullptr ? user->profilePath : std::string();
}

std::string VolumeSpecialFolderPath(int csidl) {
  auto installation = ChosenInstallation();
  if (!installation) return {};
  const WindowsUser* user = ChosenUser(**installation);
  if (user == nullptr) return {};
  InstallationRegistry registry(**installation);
  return UserShellFolderPath(registry, *user, csidl);
}

}  // namespace korbu::platform::rescue

namespace korbu::platform {

std::string ChosenWindowsVolume() { return rescue::VolumeChosen() ? CurrentWindowsSystem().root : std::string(); }

std::vector<std::string> SystemUserFolders() {
  std::vector<std::string> folders;
  if (auto installation = rescue::ChosenInstallation()) {
    for (const rescue::WindowsUser& user : (*installation)->users) {
      if (DirectoryExists(user.profile)) folders.push_back(user.profile);
    }
  }
  return folders;
}

Status ChosenSystemFound() {
  if (!rescue::VolumeChosen()) {
    if (ChosenWinePrefix().empty()) return Failure("no Wine prefix (a folder with system.reg, user.reg and drive_c)");
    return Ok();
  }
  auto installation = rescue::ChosenInstallation();
  return installation ? Ok() : Status(installation.error());
}

namespace {

// Every hive a repair may write: the machine's and each user's.
std::vector<std::pair<std::string, std::string>> RepairedHives(const rescue::WindowsInstallation& found) {
  std::vector<std::pair<std::string, std::string>> hives = {{found.config, found.softwareHive},
                                                            {found.config, found.systemHive}};
  for (const rescue::WindowsUser& user : found.users) hives.emplace_back(user.profile, user.hiveName);
  return hives;
}

}  // namespace

Status ChosenSystemWritable() {
  if (!rescue::VolumeChosen()) return Ok();
  auto installation = rescue::ChosenInstallation();
  if (!installation) return installation.error();
  const rescue::WindowsInstallation& found = **installation;
  const auto root = Folder::Open(found.root);
  if (!root) return LastSystemError().Context("cannot open " + found.root);
  // Every reason at once, each hive named: the user mends them all in one go.
  std::vector<std::string> reasons;
  if (Status writable = rescue::CheckWritableVolume(*root); !writable) reasons.push_back(writable.Reason());
  if (Status awake = rescue::CheckNotHibernated(*root); !awake) reasons.push_back(awake.Reason());
  for (const auto& [folderPath, name] : RepairedHives(found)) {
    const auto folder = Folder::Open(folderPath);
    if (!folder) {
      reasons.push_back(LastSystemError().Context("cannot open " + folderPath).reason);
    } else if (Status clean = rescue::CheckHiveClean(*folder, name); !clean) {
      reasons.push_back(clean.Reason());
    }
  }
  if (reasons.empty()) return Ok();
  std::string joined;
  for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "; ") + reason;
  return Failure(joined);
}

std::vector<std::string> ChosenSystemNotes() {
  std::vector<std::string> notes;
  if (!rescue::VolumeChosen()) return notes;
  auto installation = rescue::ChosenInstallation();
  if (!installation) return notes;
  for (const auto& [folderPath, name] : RepairedHives(**installation)) {
    const auto folder = Folder::Open(folderPath);
    if (!folder) continue;
    auto hive = rescue::LoadHive(*folder, name);
    if (!hive || !hive->replay.replayed) continue;
    std::string logs;
    for (const std::string& log : hive->replay.used) logs += (logs.empty() ? "" : ", ") + log;
    notes.push_back("the hive " + hive->path + " is read with its transaction logs replayed (" + logs +
                    "), as Windows reads it");
  }
  return notes;
}

std::vector<std::string> SystemUsers() {
  std::vector<std::string> keys;
  if (auto installation = rescue::ChosenInstallation()) {
    for (const rescue::WindowsUser& user : (*installation)->users) keys.push_back(user.key);
  }
  return keys;
}

}  // namespace korbu::platform
