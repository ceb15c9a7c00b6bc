#include "platform/rescue/VolumeRegistry.h"

#include <functional>
#include <memory>

#include "platform/AsciiCase.h"
#include "platform/rescue/InstallationRegistry.h"
#include "platform/rescue/VolumeSystem.h"

namespace korbu::platform::rescue {
namespace {

// The session of a volume: the batch's, else one for this call. HKEY_CURRENT_USER
// is the user of each call's system.
struct Session {
  std::shared_ptr<InstallationRegistry> registry;
  bool own = false;
};

Expected<Session> SessionOf(const WindowsSystemRef& system) {
  auto installation = InstallationOn(system.root);
  if (!installation) return installation.error();
  Session session;
  VolumeBatch* batch = CurrentBatchPart<VolumeBatch>("rescue");
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
  auto session = SessionOf(system);
  if (!session) return session.error();
  Result result = call(*session->registry);
  // What the hives lack is missing as the registry interface says it.
  if (!result && result.error().kind == ErrorKind::NotFound) return Failure(result.error().reason, ErrorKind::NotFound);
  if (session->own && session->registry->HasPending()) {
    const auto lost = session->registry->Commit();
    if (!lost.empty()) return Failure(lost.front().reason);
  }
  return result;
}

RegistryValue FromHive(HiveValue value) { return {std::move(value.name), value.type, std::move(value.data)}; }

// An open key of the volume, with the system (and so the user) it was opened in.
struct VolumeKey final : RegistryKey::State {
  WindowsSystemRef system;
  RootKey root = 0;
  std::string keyPath;

  VolumeKey(WindowsSystemRef in, RootKey at, std::string_view path, KeyAccess how)
      : system(std::move(in)), root(at), keyPath(path) {
    access = how;
  }

  Expected<std::vector<RegistryValue>> Values() const override {
    using Result = Expected<std::vector<RegistryValue>>;
    return InSession<Result>(system, [&](InstallationRegistry& registry) -> Result {
      auto values = registry.Values(root, keyPath);
      if (!values) return values.error();
      std::vector<RegistryValue> out;
      for (HiveValue& value : *values) out.push_back(FromHive(std::move(value)));
      return out;
    });
  }

  Expected<RegistryValue> Value(std::string_view name) const override {
    auto values = Values();
    if (!values) return values.error();
    for (RegistryValue& value : *values) {
      if (EqualsIgnoringCase(value.name, name)) return std::move(value);
    }
    return Failure("no such value", ErrorKind::NotFound);
  }

  Status Set(std::string_view name, std::uint32_t type, std::string_view data) override {
    return InSession<Status>(system, [&](InstallationRegistry& registry) {
      return registry.SetValue(root, keyPath, HiveValue{std::string(name), type, std::string(data)});
    });
  }

  Status Delete(std::string_view name) override {
    return InSession<Status>(system,
                             [&](InstallationRegistry& registry) { return registry.DeleteValue(root, keyPath, name); });
  }
};

Status Exists(const WindowsSystemRef& system, RootKey root, std::string_view keyPath) {
  return InSession<Status>(system, [&](InstallationRegistry& registry) -> Status {
    auto subkeys = registry.Subkeys(root, keyPath);
    return subkeys ? Ok() : Status(subkeys.error());
  });
}

}  // namespace

Expected<RegistryKey> VolumeSystem::OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const {
  if (auto exists = Exists(ref_, root, keyPath); !exists) return exists.error();
  return RegistryKey(std::make_unique<VolumeKey>(ref_, root, keyPath, access));
}

Expected<RegistryKey> VolumeSystem::CreateKey(RootKey root, std::string_view keyPath) const {
  auto made = InSession<Status>(ref_, [&](InstallationRegistry& registry) -> Status {
    // Making a key that is there changes nothing, and writes nothing.
    if (registry.Subkeys(root, keyPath)) return Ok();
    return registry.CreateKey(root, keyPath);
  });
  if (!made) return made.error();
  return RegistryKey(std::make_unique<VolumeKey>(ref_, root, keyPath, KeyAccess::ReadWrite));
}

KeyState VolumeSystem::ProbeKey(RootKey root, std::string_view keyPath) const {
  const Status exists = Exists(ref_, root, keyPath);
  if (exists) return KeyState::Exists;
  return exists.error().kind == ErrorKind::NotFound ? KeyState::Missing : KeyState::Unreachable;
}

Status VolumeSystem::DeleteEmptyKey(RootKey root, std::string_view keyPath) const {
  return InSession<Status>(ref_, [&](InstallationRegistry& registry) { return registry.DeleteEmptyKey(root, keyPath); });
}

bool VolumeBatch::HasPending() const {
  for (const auto& [name, registry] : volumes) {
    if (registry->HasPending()) return true;
  }
  return false;
}

std::vector<RegistryWriteFailure> VolumeBatch::Commit() {
  std::vector<RegistryWriteFailure> failures;
  for (auto& [name, registry] : volumes) {
    auto lost = registry->Commit();
    failures.insert(failures.end(), lost.begin(), lost.end());
  }
  return failures;
}

}  // namespace korbu::platform::rescue
