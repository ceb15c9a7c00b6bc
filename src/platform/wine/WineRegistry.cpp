// The registry of a Wine prefix: each call takes the files' route while no
// wineserver runs for the prefix and the helper's route while one does
// (WineRegistryRoutes.h).
#include <ctime>
#include <optional>

#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryLock.h"
#include "platform/wine/WinePrefixSystem.h"
#include "platform/wine/WineRegistryRoutes.h"

namespace korbu::platform::wine {
namespace {

using winereg::Operation;

Error NotFound(std::string_view what) { return Failure("no such " + std::string(what), ErrorKind::NotFound); }

bool Live(const KeyPlace& place) { return WineServerRunning(place.prefix); }

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

RegistryValue FromWine(const WineValue& value) {
  return RegistryValue{Utf16ToWtf8(value.name), value.type, value.data};
}

// Whether the key exists, by the route that owns the registry now.
Status Exists(const KeyPlace& place) {
  if (Live(place)) {
    if (place.helperKey.empty()) return Ok();  // a root key always exists
    auto key = ReadLiveKey(place);
    if (!key) return key.error();
    return *key ? Ok() : Status(NotFound("key"));
  }
  auto text = ReadRegistryFile(place.file);
  if (!text) return text.error();
  return (*text)->KeyExists(place.path) ? Ok() : Status(NotFound("key"));
}

// The values of a key, by either route.
Expected<std::vector<WineValue>> ValuesOf(const KeyPlace& place) {
  if (Live(place)) {
    auto key = ReadLiveKey(place);
    if (!key) return key.error();
    if (!*key) return NotFound("key");
    return std::move(**key);
  }
  auto text = ReadRegistryFile(place.file);
  if (!text) return text.error();
  if (!(*text)->KeyExists(place.path)) return NotFound("key");
  return (*text)->Values(place.path);
}

Operation Change(Operation::Kind kind) {
  Operation op;
  op.kind = kind;
  return op;
}

// An open key of the prefix.
struct PrefixKey final : RegistryKey::State {
  KeyPlace place;

  PrefixKey(KeyPlace where, KeyAccess how) : place(std::move(where)) { access = how; }

  Expected<std::vector<RegistryValue>> Values() const override {
    auto values = ValuesOf(place);
    if (!values) return values.error();
    std::vector<RegistryValue> out;
    out.reserve(values->size());
    for (const WineValue& value : *values) out.push_back(FromWine(value));
    return out;
  }

  Expected<RegistryValue> Value(std::string_view name) const override {
    const std::u16string wide = Wtf8ToUtf16(name);
    if (!Live(place)) {
      auto text = ReadRegistryFile(place.file);
      if (!text) return text.error();
      auto value = (*text)->Find(place.path, wide);
      if (!value) return NotFound("value");
      return FromWine(*value);
    }
    auto values = ValuesOf(place);
    if (!values) return values.error();
    const WineValue* found = FindValue(*values, wide);
    if (found == nullptr) return NotFound("value");
    return FromWine(*found);
  }

  Status Set(std::string_view name, std::uint32_t type, std::string_view data) override {
    WineValue value{Wtf8ToUtf16(name), type, std::string(data)};
    if (Live(place)) {
      Operation op = Change(Operation::Kind::Set);
      op.name = std::move(value.name);
      op.type = type;
      op.data = std::move(value.data);
      return ChangeLive(place, std::move(op), std::string(name));
    }
    return ModifyRegistryFile(place, [&](const WineRegistryText& current) -> Expected<std::string> {
      if (!current.KeyExists(place.path)) return NotFound("key");  // deleted meanwhile
      if (auto text = current.WithValue(place.path, value, Now())) return std::move(*text);
      return Failure("the key cannot be named in the registry file");
    });
  }

  Status Delete(std::string_view name) override {
    const std::u16string wide = Wtf8ToUtf16(name);
    if (Live(place)) {
      auto values = ValuesOf(place);
      if (!values) return values.error();
      if (FindValue(*values, wide) == nullptr) return NotFound("value");
      Operation op = Change(Operation::Kind::Delete);
      op.name = wide;
      return ChangeLive(place, std::move(op), std::string(name));
    }
    return ModifyRegistryFile(place, [&](const WineRegistryText& current) -> Expected<std::string> {
      if (auto text = current.WithoutValue(place.path, wide)) return std::move(*text);
      return NotFound("value");
    });
  }
};

RegistryKey KeyAt(KeyPlace place, KeyAccess access) {
  return RegistryKey(std::make_unique<PrefixKey>(std::move(place), access));
}

}  // namespace

Expected<RegistryKey> PrefixSystem::OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const {
  auto place = LocateKey(folder_, root, keyPath);
  if (!place) return place.error();
  if (auto exists = Exists(*place); !exists) return exists.error();
  return KeyAt(std::move(*place), access);
}

KeyState PrefixSystem::ProbeKey(RootKey root, std::string_view keyPath) const {
  auto place = LocateKey(folder_, root, keyPath);
  if (!place) return SplitKeyPath(keyPath) ? KeyState::Unreachable : KeyState::Missing;
  const Status exists = Exists(*place);
  if (exists) return KeyState::Exists;
  return exists.error().kind == ErrorKind::NotFound ? KeyState::Missing : KeyState::Unreachable;
}

Expected<RegistryKey> PrefixSystem::CreateKey(RootKey root, std::string_view keyPath) const {
  auto place = LocateKey(folder_, root, keyPath);
  if (!place) return place.error();
  // Within a batch the key is made with the commit (making a key that exists
  // changes nothing), so it need not be read first.
  const bool collected = Live(*place) && CurrentBatch() != nullptr;
  const Status exists = collected ? Status(NotFound("key")) : Exists(*place);
  if (!exists && exists.error().kind != ErrorKind::NotFound) return exists.error();
  if (!exists) {
    Status made;
    if (Live(*place)) {
      made = ChangeLive(*place, Change(Operation::Kind::CreateKey), std::string());
    } else {
      const WineKeyPath& path = place->path;
      made = ModifyRegistryFile(*place, [&](const WineRegistryText& current) -> Expected<std::string> {
        if (auto text = current.WithKey(path, Now())) return std::move(*text);
        // Someone may have made the key meanwhile; then there is nothing to write.
        if (current.KeyExists(path)) return Failure("made meanwhile", ErrorKind::NameTaken);
        return Failure("the key cannot be named in the registry file");
      });
      if (!made && made.error().kind == ErrorKind::NameTaken) made = Ok();
    }
    if (!made) return made.error();
  }
  return KeyAt(std::move(*place), KeyAccess::ReadWrite);
}

Status PrefixSystem::DeleteEmptyKey(RootKey root, std::string_view keyPath) const {
  auto place = LocateKey(folder_, root, keyPath);
  if (!place) return place.error();
  if (SplitKeyPath(keyPath)->empty()) return Failure("a root key is never deleted");
  if (Live(*place)) return ChangeLive(*place, Change(Operation::Kind::DeleteEmptyKey), std::string());
  const WineKeyPath& path = place->path;
  return ModifyRegistryFile(*place, [&](const WineRegistryText& current) -> Expected<std::string> {
    switch (current.ContentOf(path)) {
      case WineRegistryText::Content::Missing: return NotFound("key");
      case WineRegistryText::Content::NotEmpty: return Failure("the key is not empty");
      case WineRegistryText::Content::Empty: break;
    }
    if (auto text = current.WithoutEmptyKey(path)) return std::move(*text);
    return Failure("the key cannot be removed from the registry file");
  });
}

Status PrefixSystem::Prefetch(const RegistryKeyList& keys) const {
  if (folder_.empty()) return Ok();  // each call fails on its own, with the reason
  return PrefetchLive(folder_, keys);
}

}  // namespace korbu::platform::wine
