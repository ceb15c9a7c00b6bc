#include "platform/rescue/VolumeSystem.h"

#include <map>
#include <mutex>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/posix/InsideRoot.h"
#include "platform/posix/WindowsVariables.h"
#include "platform/rescue/HiveFile.h"
#include "platform/rescue/InstallationRegistry.h"
#include "platform/rescue/UserFolders.h"
#include "platform/rescue/VolumeChecks.h"

namespace korbu::platform::rescue {
namespace {

using Found = Expected<std::shared_ptr<const WindowsInstallation>>;

// Every hive a repair may write: the machine's and each user's.
std::vector<std::pair<std::string, std::string>> RepairedHives(const WindowsInstallation& found) {
  std::vector<std::pair<std::string, std::string>> hives = {{found.config, found.softwareHive},
                                                            {found.config, found.systemHive}};
  for (const WindowsUser& user : found.users) hives.emplace_back(user.profile, user.hiveName);
  return hives;
}

}  // namespace

// Finding an installation reads its machine hives whole: once a volume per run.
Expected<std::shared_ptr<const WindowsInstallation>> InstallationOn(const std::string& root) {
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

VolumeSystem::VolumeSystem(WindowsSystemRef ref) : ref_(std::move(ref)), installation_(InstallationOn(ref_.root)) {}

bool VolumeSystem::Is(const WindowsSystemRef& other) const {
  return other.kind == WindowsSystemRef::Kind::WindowsVolume && other.root == ref_.root && other.user == ref_.user;
}

const WindowsUser* VolumeSystem::User(const WindowsInstallation& installation) const {
  if (ref_.user.empty()) return nullptr;
  for (const WindowsUser& candidate : installation.users) {
    if (EqualsIgnoringCase(candidate.key, ref_.user)) return &candidate;
  }
  return nullptr;
}

std::string VolumeSystem::UserProfilePath() const {
  const WindowsUser* user = installation_ ? User(**installation_) : nullptr;
  return user != nullptr ? user->profilePath : std::string();
}

std::string VolumeSystem::WindowsDirectoryPath() const {
  return installation_ ? (*installation_)->windowsPath : std::string();
}

std::string VolumeSystem::SystemDirectoryPath() const {
  const std::string windows = WindowsDirectoryPath();
  return windows.empty() ? windows : windows + "\\System32";
}

// The Wine drive letters have no meaning here: the installation's drive is the
// volume's root, and there is no other. Every link is resolved inside it.
posix::WindowsPathMap VolumeSystem::Paths() const {
  auto drive = [installation = installation_](char letter) -> std::string {
    if (!installation) return {};
    return AsciiUpper(letter) == AsciiUpper((*installation)->Drive()) ? (*installation)->root : std::string();
  };
  return posix::WindowsPathMap(drive, CurrentDirectoryPath(), true);
}

std::string VolumeSystem::NativePath(std::string_view windowsPath) const { return Paths().NativePath(windowsPath); }

std::string VolumeSystem::NativeFolder(std::string_view windowsPath) const { return Paths().NativeFolder(windowsPath); }

// The volume is another user's: the file is opened inside it, as its paths resolve.
OpenedFile VolumeSystem::OpenFile(const std::string& nativePath) const {
  if (!installation_) return OpenedFile::Refused(installation_.error().reason);
  return posix::OpenFileInsideRoot((*installation_)->root, nativePath);
}

std::optional<Folder> VolumeSystem::OpenSystemFolder(std::string_view windowsPath) const {
  return Paths().OpenFolder(windowsPath);
}

std::string VolumeSystem::SpecialFolderWindowsPath(int csidl) const {
  if (!installation_) return {};
  const WindowsUser* user = User(**installation_);
  if (user == nullptr) return {};
  InstallationRegistry registry(**installation_);
  return UserShellFolderPath(registry, *user, csidl);
}

std::optional<Folder> VolumeSystem::OpenSpecialFolder(int csidl) const {
  const std::string windowsPath = SpecialFolderWindowsPath(csidl);
  if (windowsPath.empty()) return std::nullopt;
  return OpenSystemFolder(windowsPath);
}

std::string VolumeSystem::ExpandEnvironment(std::string_view text) const {
  // The installation's user is the record's, if any.
  return posix::ExpandWindowsVariables(*this, text, UserProfilePath());
}

RegistryKeyList VolumeSystem::EnvironmentRegistryKeys() const { return posix::WindowsVariableKeys(); }

std::vector<std::string> VolumeSystem::Users() const {
  std::vector<std::string> keys;
  if (installation_) {
    for (const WindowsUser& user : (*installation_)->users) keys.push_back(user.key);
  }
  return keys;
}

std::vector<std::string> VolumeSystem::UserFolders() const {
  std::vector<std::string> folders;
  if (installation_) {
    for (const WindowsUser& user : (*installation_)->users) {
      if (DirectoryExists(user.profile)) folders.push_back(user.profile);
    }
  }
  return folders;
}

Status VolumeSystem::Found() const { return installation_ ? Ok() : Status(installation_.error()); }

Status VolumeSystem::Writable() const {
  if (!installation_) return installation_.error();
  const WindowsInstallation& found = **installation_;
  const auto root = Folder::Open(found.root);
  if (!root) return root.error().Context("cannot open " + found.root);
  // Every reason at once, each hive named: the user mends them all in one go.
  std::vector<std::string> reasons;
  if (Status writable = CheckWritableVolume(*root); !writable) reasons.push_back(writable.Reason());
  if (Status awake = CheckNotHibernated(*root); !awake) reasons.push_back(awake.Reason());
  for (const auto& [folderPath, name] : RepairedHives(found)) {
    const auto folder = Folder::Open(folderPath);
    if (!folder) {
      reasons.push_back(folder.error().Context("cannot open " + folderPath).reason);
    } else if (Status clean = CheckHiveClean(*folder, name); !clean) {
      reasons.push_back(clean.Reason());
    }
  }
  if (reasons.empty()) return Ok();
  std::string joined;
  for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "; ") + reason;
  return Failure(joined);
}

std::vector<std::string> VolumeSystem::Notes() const {
  std::vector<std::string> notes;
  if (!installation_) return notes;
  for (const auto& [folderPath, name] : RepairedHives(**installation_)) {
    const auto folder = Folder::Open(folderPath);
    if (!folder) continue;
    auto hive = LoadHive(*folder, name);
    if (!hive || !hive->replay.replayed) continue;
    std::string logs;
    for (const std::string& log : hive->replay.used) logs += (logs.empty() ? "" : ", ") + log;
    notes.push_back("the hive " + hive->path + " is read with its transaction logs replayed (" + logs +
                    "), as Windows reads it");
  }
  return notes;
}

}  // namespace korbu::platform::rescue
