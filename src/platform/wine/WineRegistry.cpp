// Registry.h over a Wine prefix: each call takes the files' route while no
// wineserver runs for the prefix and the helper's route while one does
// (WineRegistryRoutes.h).
#include <ctime>
#include <optional>

#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryLock.h"
#include "platform/wine/WineRegistryRoutes.h"
#include "platform/rescue/VolumeRegistry.h"
#include "platform/rescue/VolumeSystem.h"

namespace korbu::platform {

struct RegistryKey::State {
  posix::KeyPlace place;
  KeyAccess access = KeyAccess::Read;
  std::optional<rescue::VolumeKey> volume;  // a key of a mounted Windows installation instead
};

namespace {

using posix::KeyPlace;
using posix::WineRegistryText;
using winereg::Operation;

Error NotFound(std::string_view what) { return Error{"no such " + std::string(what), kRegistryNotFound}; }

bool Live(const KeyPlace& place) { return posix::WineServerRunning(place.prefix); }

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

RegistryValue FromWine(const posix::WineValue& value) {
  return RegistryValue{Utf16ToWtf8(value.name), value.type, value.data};
}

// Whether the key exists, by the route that owns the registry now.
Status Exists(const KeyPlace& place) {
  if (Live(place)) {
    if (place.helperKey.empty()) return Ok();  // a root key always exists
    auto key = posix::ReadLiveKey(place);
    if (!key) return key.error();
    return *key ? Ok() : Status(NotFound("key"));
  }
  auto text = posix::ReadRegistryFile(place.file);
  if (!text) return text.error();
  return (*text)->KeyExists(place.path) ? Ok() : Status(NotFound("key"));
}

Status CanRead(const RegistryKey::State* state) {
  if (state == nullptr) return Failure("no key");
  if (state->access == KeyAccess::Write) return Failure("the key was opened for writing only");
  return Ok();
}

Status CanWrite(const RegistryKey::State* state) {
  if (state == nullptr) return Failure("no key");
  if (state->access == KeyAccess::Read) return Failure("the key was opened for reading only");
  return Ok();
}

// The values of a key, by either route.
Expected<std::vector<posix::WineValue>> ValuesOf(const KeyPlace& place) {
  if (Live(place)) {
    auto key = posix::ReadLiveKey(place);
    if (!key) return key.error();
    if (!*key) return NotFound("key");
    return std::move(**key);
  }
  auto text = posix::ReadRegistryFile(place.file);
  if (!text) return text.error();
  if (!(*text)->KeyExists(place.path)) return NotFound("key");
  return (*text)->Values(place.path);
}

Operation Change(Operation::Kind kind) {
  Operation op;
  op.kind = kind;
  return op;
}

}  // namespace

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

Expected<RegistryKey> RegistryKey::Open(RootKey root, std::string_view keyPath, KeyAccess access) {
  if (rescue::VolumeChosen()) {
    auto key = rescue::OpenVolumeKey(root, keyPath);
    if (!key) return key.error();
    return RegistryKey(std::make_unique<State>(State{{}, access, std::move(*key)}));
  }
  auto place = posix::LocateKey(root, keyPath);
  if (!place) return place.error();
  if (auto exists = Exists(*place); !exists) return exists.error();
  return RegistryKey(std::make_unique<State>(State{std::move(*place), access, std::nullopt}));
}

KeyState RegistryKey::Probe(RootKey root, std::string_view keyPath) {
  if (rescue::VolumeChosen()) return rescue::ProbeVolumeKey(root, keyPath);
  auto place = posix::LocateKey(root, keyPath);
  if (!place) return posix::SplitKeyPath(keyPath) ? KeyState::Unreachable : KeyState::Missing;
  const Status exists = Exists(*place);
  if (exists) return KeyState::Exists;
  return IsNotFound(exists.error()) ? KeyState::Missing : KeyState::Unreachable;
}

Expected<RegistryKey> RegistryKey::Create(RootKey root, std::string_view keyPath) {
  if (rescue::VolumeChosen()) {
    auto key = rescue::CreateVolumeKey(root, keyPath);
    if (!key) return key.error();
    return RegistryKey(std::make_unique<State>(State{{}, KeyAccess::ReadWrite, std::move(*key)}));
  }
  auto place = posix::LocateKey(root, keyPath);
  if (!place) return place.error();
  // Within a batch the key is made with the commit (making a key that exists
  // changes nothing), so it need not be read first.
  const bool collected = Live(*place) && posix::CurrentBatch() != nullptr;
  const Status exists = collected ? Status(NotFound("key")) : Exists(*place);
  if (!exists && !IsNotFound(exists.error())) return exists.error();
  if (!exists) {
    Status made;
    if (Live(*place)) {
      made = posix::ChangeLive(*place, Change(Operation::Kind::CreateKey), std::string());
    } else {
      const posix::WineKeyPath& path = place->path;
      made = posix::ModifyRegistryFile(*place, [&](const WineRegistryText& current) -> Expected<std::string> {
        if (auto text = current.WithKey(path, Now())) return std::move(*text);
        // Someone may have made the key meanwhile; then there is nothing to write.
        if (current.KeyExists(path)) return Failure("made meanwhile", -1);
        return Failure("the key cannot be named in the registry file");
      });
      if (!made && made.error().code == -1) made = Ok();
    }
    if (!made) return made.error();
  }
  return RegistryKey(std::make_unique<State>(State{std::move(*place), KeyAccess::ReadWrite, std::nullopt}));
}

Status RegistryKey::DeleteEmptyKey(RootKey root, std::string_view keyPath) {
  if (rescue::VolumeChosen()) return rescue::DeleteEmptyVolumeKey(root, keyPath);
  auto place = posix::LocateKey(root, keyPath);
  if (!place) return place.error();
  if (posix::SplitKeyPath(keyPath)->empty()) return Failure("a root key is never deleted");
  if (Live(*place)) return posix::ChangeLive(*place, Change(Operation::Kind::DeleteEmptyKey), std::string());
  const posix::WineKeyPath& path = place->path;
  return posix::ModifyRegistryFile(*place, [&](const WineRegistryText& current) -> Expected<std::string> {
    switch (current.ContentOf(path)) {
      case WineRegistryText::Content::Missing: return NotFound("key");
      case WineRegistryText::Content::NotEmpty: return Failure("the key is not empty");
      case WineRegistryText::Content::Empty: break;
    }
    if (auto text = current.WithoutEmptyKey(path)) return std::move(*text);
    return Failure("the key cannot be removed from the registry file");
  });
}

Expected<std::vector<RegistryValue>> RegistryKey::EnumValues() const {
  if (auto usable = CanRead(state_.get()); !usable) return usable.error();
  if (state_->volume) return rescue::VolumeValues(*state_->volume);
  auto values = ValuesOf(state_->place);
  if (!values) return values.error();
  std::vector<RegistryValue> out;
  out.reserve(values->size());
  for (const posix::WineValue& value : *values) out.push_back(FromWine(value));
  return out;
}

Expected<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
  if (auto usable = CanRead(state_.get()); !usable) return usable.error();
  if (state_->volume) return rescue::VolumeValue(*state_->volume, name);
  const std::u16string wide = Wtf8ToUtf16(name);
  const KeyPlace& place = state_->place;
  if (!Live(place)) {
    auto text = posix::ReadRegistryFile(place.file);
    if (!text) return text.error();
    auto value = (*text)->Find(place.path, wide);
    if (!value) return NotFound("value");
    return FromWine(*value);
  }
  auto values = ValuesOf(place);
  if (!values) return values.error();
  const posix::WineValue* found = posix::FindValue(*values, wide);
  if (found == nullptr) return NotFound("value");
  return FromWine(*found);
}

Status RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (auto usable = CanWrite(state_.get()); !usable) return usable;
  if (state_->volume) return rescue::SetVolumeValue(*state_->volume, name, type, data);
  const KeyPlace& place = state_->place;
  posix::WineValue value{Wtf8ToUtf16(name), type, std::string(data)};
  if (Live(place)) {
    Operation op = Change(Operation::Kind::Set);
    op.name = std::move(value.name);
    op.type = type;
    op.data = std::move(value.data);
    return posix::ChangeLive(place, std::move(op), std::string(name));
  }
  return posix::ModifyRegistryFile(place, [&](const WineRegistryText& current) -> Expected<std::string> {
    if (!current.KeyExists(place.path)) return NotFound("key");  // deleted meanwhile
    if (auto text = current.WithValue(place.path, value, Now())) return std::move(*text);
    return Failure("the key cannot be named in the registry file");
  });
}

Status RegistryKey::DeleteValue(std::string_view name) {
  if (auto usable = CanWrite(state_.get()); !usable) return usable;
  if (state_->volume) return rescue::DeleteVolumeValue(*state_->volume, name);
  const KeyPlace& place = state_->place;
  const std::u16string wide = Wtf8ToUtf16(name);
  if (Live(place)) {
    auto values = ValuesOf(place);
    if (!values) return values.error();
    if (posix::FindValue(*values, wide) == nullptr) return NotFound("value");
    Operation op = Change(Operation::Kind::Delete);
    op.name = wide;
    return posix::ChangeLive(place, std::move(op), std::string(name));
  }
  return posix::ModifyRegistryFile(place, [&](const WineRegistryText& current) -> Expected<std::string> {
    if (auto text = current.WithoutValue(place.path, wide)) return std::move(*text);
    return NotFound("value");
  });
}

}  // namespace korbu::platform
