#include "platform/rescue/VolumeRegistry.h"

#include <functional>
#include <memory>

#include "platform/AsciiCase.h"
#include "platform/wine/WineRegistryRoutes.h"
#include "platform/rescue/InstallationRegistry.h"
#include "platform/rescue/VolumeSystem.h"

namespace korbu::platform::rescue {
namespace {

// The session of the chosen volume: the batch's, else one for this call. One
// session a volume, so that no hive is open twice for writing; HKEY_CURRENT_USER
// is the user of each call's system.
struct Session {
  std::shared_ptr<InstallationRegistry> registry;
  bool own = false;
};

Expected<Session> ChosenSession() {
  auto installation = ChosenInstallation();
  if (!installation) return installation.error();
  const WindowsSystemRef& system = CurrentWindowsSystem();
  Session session;
  RegistryBatch::State* batch = posix::CurrentBatch();
  std::shared_ptr<InstallationRegistry>* kept = batch != nullptr ? &batch->volumes[system.root] : nullptr;
  if (kept != nullptr && *kept) {
    session.registry = *kept;
  } else {
    session.registry = std::make_shared<InstallationRegistry>(**installation);
    if (kept != nullptr) *kept = session.registry;
    session.own = kept == nullptr;
  }
  session.registry->SetCurrentUser(system.user);
  return session;
}

// Runs one call in the system the key was opened in; a change made outside a
// batch is written before the call returns.
template <typename Result>
Result InSession(const WindowsSystemRef& system, const std::function<Result(InstallationRegistry&)>& call) {
  ScopedWindowsSystem chosen(system);
  auto session = ChosenSession();
  if (!session) return session.error();
  Result result = call(*session->registry);
  // What the hives lack is missing as the registry interface says it.
  if (!result && result.error().code == kHiveNotFound) return Error{result.error().reason, kRegistryNotFound};
  if (session->own && session->registry->HasPending()) {
    const auto lost = session->registry->Commit();
    if (!lost.empty()) return Failure(lost.front().reason);
  }
  return result;
}

RegistryValue FromHive(HiveValue value) { return {std::move(value.name), value.type, std::move(value.data)}; }

Expected<VolumeKey> Existing(RootKey root, std::string_view keyPath) {
  VolumeKey key{CurrentWindowsSystem(), root, std::string(keyPath)};
  auto exists = InSession<Status>(key.system, [&](InstallationRegistry& registry) -> Status {
    auto subkeys = registry.Subkeys(root, keyPath);
    return subkeys ? Ok() : Status(subkeys.error());
  });
  if (!exists) return exists.error();
  return key;
}

}  // namespace

Expected<VolumeKey> OpenVolumeKey(RootKey root, std::string_view keyPath) { return Existing(root, keyPath); }

Expected<VolumeKey> CreateVolumeKey(RootKey root, std::string_view keyPath) {
  VolumeKey key{CurrentWindowsSystem(), root, std::string(keyPath)};
  auto made = InSession<Status>(key.system, [&](InstallationRegistry& registry) -> Status {
    // Making a key that is there changes nothing, and writes nothing.
    if (registry.Subkeys(root, keyPath)) return Ok();
    return registry.CreateKey(root, keyPath);
  });
  if (!made) return made.error();
  return key;
}

KeyState ProbeVolumeKey(RootKey root, std::string_view keyPath) {
  auto key = Existing(root, keyPath);
  if (key) return KeyState::Exists;
  return IsNotFound(key.error()) ? KeyState::Missing : KeyState::Unreachable;
}

Status DeleteEmptyVolumeKey(RootKey root, std::string_view keyPath) {
  return InSession<Status>(CurrentWindowsSystem(),
                           [&](InstallationRegistry& registry) { return registry.DeleteEmptyKey(root, keyPath); });
}

Expected<std::vector<RegistryValue>> VolumeValues(const VolumeKey& key) {
  using Result = Expected<std::vector<RegistryValue>>;
  return InSession<Result>(key.system, [&](InstallationRegistry& registry) -> Result {
    auto values = registry.Values(key.root, key.keyPath);
    if (!values) return values.error();
    std::vector<RegistryValue> out;
    for (HiveValue& value : *values) out.push_back(FromHive(std::move(value)));
    return out;
  });
}

Expected<RegistryValue> VolumeValue(const VolumeKey& key, std::string_view name) {
  auto values = VolumeValues(key);
  if (!values) return values.error();
  for (RegistryValue& value : *values) {
    if (EqualsIgnoringCase(value.name, name)) return std::move(value);
  }
  return Failure("no such value", kRegistryNotFound);
}

Status SetVolumeValue(const VolumeKey& key, std::string_view name, std::uint32_t type, std::string_view data) {
  return InSession<Status>(key.system, [&](InstallationRegistry& registry) {
    return registry.SetValue(key.root, key.keyPath, HiveValue{std::string(name), type, std::string(data)});
  });
}

Status DeleteVolumeValue(const VolumeKey& key, std::string_view name) {
  return InSession<Status>(key.system,
                           [&](InstallationRegistry& registry) { return registry.DeleteValue(key.root, key.keyPath, name); });
}

bool VolumesPending(const RegistryBatch::State& batch) {
  for (const auto& [name, registry] : batch.volumes) {
    if (registry->HasPending()) return true;
  }
  return false;
}

std::vector<RegistryWriteFailure> CommitVolumes(RegistryBatch::State& batch) {
  std::vector<RegistryWriteFailure> failures;
  for (auto& [name, registry] : batch.volumes) {
    auto lost = registry->Commit();
    failures.insert(failures.end(), lost.begin(), lost.end());
  }
  return failures;
}

}  // namespace korbu::platform::rescue
