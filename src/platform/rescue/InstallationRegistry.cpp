#include "platform/rescue/InstallationRegistry.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "platform/AsciiCase.h"
#include "platform/Registry.h"
#include "platform/SystemError.h"
#include "platform/rescue/HiveNames.h"
#include "platform/rescue/VolumeChecks.h"

namespace korbu::platform::rescue {
namespace {

// The first component of a key path and the rest after its backslash.
std::pair<std::string_view, std::string_view> Head(std::string_view keyPath) {
  const std::size_t cut = keyPath.find('\\');
  if (cut == std::string_view::npos) return {keyPath, {}};
  return {keyPath.substr(0, cut), keyPath.substr(cut + 1)};
}

std::string Join(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  if (b.empty()) return std::string(a);
  return std::string(a) + "\\" + std::string(b);
}

Error NotFound(std::string what) { return Failure(std::move(what), ErrorKind::NotFound); }

}  // namespace

struct InstallationRegistry::Target {
  enum class Kind { Hive, Machine, Users } kind = Kind::Hive;
  std::string folder;  // the hive's folder, native
  std::string file;    // the hive file's name in it
  std::string path;    // the key inside the hive
};

struct InstallationRegistry::OpenHive {
  Folder folder;
  std::optional<Hive> hive;
  std::optional<Status> writable;  // once asked
};

InstallationRegistry::InstallationRegistry(WindowsInstallation installation, std::string currentUser)
    : installation_(std::move(installation)), currentUser_(std::move(currentUser)) {}

InstallationRegistry::~InstallationRegistry() = default;

Expected<InstallationRegistry::Target> InstallationRegistry::Locate(std::uint32_t root, std::string_view keyPath) const {
  const auto [first, rest] = Head(keyPath);
  Target target;
  target.folder = installation_.config;
  switch (root) {
    case kHkeyLocalMachine:
      if (keyPath.empty()) {
        target.kind = Target::Kind::Machine;
      } else if (EqualsIgnoringCase(first, "SOFTWARE")) {
        target.file = installation_.softwareHive;
        target.path = std::string(rest);
      } else if (EqualsIgnoringCase(first, "SYSTEM")) {
        target.file = installation_.systemHive;
        // CurrentControlSet exists only while Windows runs: it is the set in use.
        const auto [set, below] = Head(rest);
        char number[16];
        std::snprintf(number, sizeof number, "ControlSet%03d", installation_.controlSet);
        target.path = EqualsIgnoringCase(set, "CurrentControlSet") ? Join(number, below) : std::string(rest);
      } else {
        return NotFound("HKEY_LOCAL_MACHINE\\" + std::string(first) + " is not in the installation's hives");
      }
      return target;
    case kHkeyClassesRoot:
      target.file = installation_.softwareHive;
      target.path = Join("Classes", keyPath);
      return target;
    case kHkeyCurrentUser:
      if (currentUser_.empty()) {
        return Failure("a Windows installation has no current user: its users are below HKEY_USERS");
      }
      return Locate(kHkeyUsers, Join(currentUser_, keyPath));
    case kHkeyUsers:
      if (keyPath.empty()) {
        target.kind = Target::Kind::Users;
        return target;
      }
      for (const WindowsUser& user : installation_.users) {
        if (!EqualsIgnoringCase(user.key, first)) continue;
        target.folder = user.profile;
        target.file = user.hiveName;
        target.path = std::string(rest);
        return target;
      }
      return NotFound("no user " + std::string(first) + " below HKEY_USERS");
    default:
      return Failure("the root key cannot be opened in a Windows installation");
  }
}

Status InstallationRegistry::CheckWritable() {
  if (!volumeWritable_) {
    Status status = Ok();
    const auto root = Folder::Open(installation_.root);
    if (!root) {
      status = root.error().Context("cannot open " + installation_.root);
    } else if (Status rw = CheckWritableVolume(*root); !rw) {
      status = rw;
    } else {
      status = CheckNotHibernated(*root);
    }
    volumeWritable_ = std::make_unique<Status>(std::move(status));
  }
  return *volumeWritable_;
}

Expected<InstallationRegistry::OpenHive*> InstallationRegistry::Reach(const Target& target, bool write) {
  const std::string key = target.folder + "/" + target.file;
  auto found = hives_.find(key);
  if (found == hives_.end()) {
    auto folder = Folder::Open(target.folder);
    if (!folder) return folder.error().Context("cannot open " + target.folder);
    found = hives_.emplace(key, std::make_unique<OpenHive>(OpenHive{std::move(*folder), {}, {}})).first;
  }
  OpenHive& open = *found->second;
  if (write && !open.writable) {
    Status status = CheckWritable();
    if (status) status = CheckWritableVolume(open.folder);
    if (status) status = CheckHiveClean(open.folder, target.file);
    open.writable = std::move(status);
    // A hive read so far is read again for writing (nothing of it has changed).
    if (*open.writable) open.hive.reset();
  }
  if (write && !*open.writable) return open.writable->error();
  if (!open.hive) {
    const bool forWriting = open.writable && *open.writable;
    auto hive = Hive::Open(open.folder, target.file, forWriting ? Hive::Access::Write : Hive::Access::Read);
    if (!hive) return hive.error();
    open.hive.emplace(std::move(*hive));
  }
  return &open;
}

Expected<std::vector<std::string>> InstallationRegistry::Subkeys(std::uint32_t root, std::string_view keyPath) {
  auto target = Locate(root, keyPath);
  if (!target) return target.error();
  if (target->kind == Target::Kind::Machine) return std::vector<std::string>{"SOFTWARE", "SYSTEM"};
  if (target->kind == Target::Kind::Users) {
    std::vector<std::string> keys;
    for (const WindowsUser& user : installation_.users) keys.push_back(user.key);
    return keys;
  }
  auto open = Reach(*target, false);
  if (!open) return open.error();
  return (*open)->hive->Subkeys(target->path);
}

Expected<std::vector<HiveValue>> InstallationRegistry::Values(std::uint32_t root, std::string_view keyPath) {
  auto target = Locate(root, keyPath);
  if (!target) return target.error();
  if (target->kind != Target::Kind::Hive) return std::vector<HiveValue>{};
  auto open = Reach(*target, false);
  if (!open) return open.error();
  return (*open)->hive->Values(target->path);
}

Status InstallationRegistry::Note(Status made, const Target& target, std::uint32_t root, std::string_view keyPath,
                                  std::string_view valueName, bool deletion, bool key) {
  if (made) {
    pending_.emplace_back(target.folder + "/" + target.file,
                          // A volume is no Wine prefix: its changes name none.
                          RegistryWriteFailure{root, std::string(keyPath), std::string(valueName), deletion, key,
                                               std::string(), std::string()});
  }
  return made;
}

Status InstallationRegistry::CreateKey(std::uint32_t root, std::string_view keyPath) {
  auto target = Locate(root, keyPath);
  if (!target) return target.error();
  if (target->kind != Target::Kind::Hive) return Ok();  // the roots always exist
  auto open = Reach(*target, true);
  if (!open) return open.error();
  return Note((*open)->hive->CreateKey(target->path), *target, root, keyPath, {}, false, true);
}

Status InstallationRegistry::SetValue(std::uint32_t root, std::string_view keyPath, const HiveValue& value) {
  auto target = Locate(root, keyPath);
  if (!target) return target.error();
  if (target->kind != Target::Kind::Hive) return Failure("no values are kept there", EINVAL);
  auto open = Reach(*target, true);
  if (!open) return open.error();
  return Note((*open)->hive->SetValue(target->path, value), *target, root, keyPath, value.name, false, false);
}

Status InstallationRegistry::DeleteValue(std::uint32_t root, std::string_view keyPath, std::string_view name) {
  auto target = Locate(root, keyPath);
  if (!target) return target.error();
  if (target->kind != Target::Kind::Hive) return NotFound("no values are kept there");
  auto open = Reach(*target, true);
  if (!open) return open.error();
  return Note((*open)->hive->DeleteValue(target->path, name), *target, root, keyPath, name, true, false);
}

Status InstallationRegistry::DeleteEmptyKey(std::uint32_t root, std::string_view keyPath) {
  auto target = Locate(root, keyPath);
  if (!target) return target.error();
  if (target->kind != Target::Kind::Hive || target->path.empty()) {
    return Failure("the root of a hive is never removed", EINVAL);
  }
  auto open = Reach(*target, true);
  if (!open) return open.error();
  return Note((*open)->hive->DeleteEmptyKey(target->path), *target, root, keyPath, {}, true, true);
}

std::vector<RegistryWriteFailure> InstallationRegistry::Commit() {
  std::vector<RegistryWriteFailure> failures;
  for (auto& [path, open] : hives_) {
    if (!open->hive || !open->hive->Changed()) continue;
    const Status written = open->hive->Commit();
    if (written) continue;
    for (const auto& [hive, change] : pending_) {
      if (hive != path) continue;
      failures.push_back(change);
      failures.back().reason = written.Reason();
    }
    // Nothing of it stays waiting: the hive is read afresh next time.
    open->hive.reset();
  }
  pending_.clear();
  return failures;
}

}  // namespace korbu::platform::rescue
