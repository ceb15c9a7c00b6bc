// The registry of the Wine prefix: HKEY_LOCAL_MACHINE in system.reg,
// HKEY_CURRENT_USER in user.reg, HKEY_CLASSES_ROOT as HKLM\Software\Classes.
// With no wineserver, every call reads the file afresh and every change is a
// read-modify-write of the whole file under this program's own lock, the new file
// replacing the old one atomically. While the prefix's wineserver runs it owns
// the registry, and every call goes through Wine's reg tool (WineRegTool.h),
// grouped by the thread's RegistryBatch when one lives.

#include <ctime>
#include <functional>
#include <map>

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/posix/WinePrefix.h"
#include "platform/posix/WineRegistryCodec.h"
#include "platform/posix/WineRegistryLock.h"
#include "platform/posix/WineRegTool.h"
#include "platform/posix/WineRegistryText.h"

namespace korbu::platform {

struct RegistryKey::State {
  std::string prefix;
  std::string file;
  posix::WineKeyPath path;  // relative to the file's root
  KeyAccess access = KeyAccess::Read;
  RootKey root = 0;         // as the caller named it
  std::string keyPath;      // as the caller named it
  bool live = false;        // reached through Wine: its server runs
  std::u16string liveName;  // the key's full name for Wine's tools
};

struct RegistryBatch::State {
  struct NameLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
      return posix::CompareNames(a, b) < 0;
    }
  };
  struct Origin {
    RootKey root = 0;
    std::string keyPath;
    std::string valueName;
  };
  std::string prefix;
  // A key's values as last read or as the collected changes leave them; an empty
  // entry for a key that does not exist.
  std::map<std::u16string, std::optional<std::vector<posix::WineValue>>, NameLess> cache;
  std::vector<posix::WineRegChange> pending;
  std::vector<Origin> origins;  // parallel to pending
  State* outer = nullptr;       // the batch this one was made inside
};

namespace {

using posix::WineKeyPath;
using posix::WineRegistryText;

thread_local RegistryBatch::State* currentBatch = nullptr;

std::optional<RegistryKey::State> Locate(RootKey root, std::string_view keyPath, KeyAccess access) {
  WineKeyPath base;
  std::string fileName;
  std::u16string rootName;
  switch (root) {
    case kHkeyLocalMachine:
      fileName = "system.reg";
      rootName = u"HKEY_LOCAL_MACHINE";
      break;
    case kHkeyCurrentUser:
      fileName = "user.reg";
      rootName = u"HKEY_CURRENT_USER";
      break;
    case kHkeyClassesRoot:
      fileName = "system.reg";
      rootName = u"HKEY_LOCAL_MACHINE";
      base = {u"Software", u"Classes"};
      break;
    default: return std::nullopt;
  }
  auto path = posix::SplitKeyPath(keyPath);
  if (!path) return std::nullopt;
  RegistryKey::State state;
  state.prefix = posix::FindWinePrefix();
  if (state.prefix.empty()) return std::nullopt;
  state.file = state.prefix + "/" + fileName;
  state.path = std::move(base);
  state.path.insert(state.path.end(), path->begin(), path->end());
  state.access = access;
  state.root = root;
  state.keyPath = std::string(keyPath);
  state.live = posix::WineServerRunning(state.prefix);
  state.liveName = rootName;
  for (const std::u16string& part : state.path) state.liveName += u"\\" + part;
  return state;
}

std::optional<WineRegistryText> ReadText(const std::string& file) {
  auto content = ReadWholeFile(file, ShareMode::DenyNone);
  if (!content) return std::nullopt;
  WineRegistryText text(std::move(*content));
  if (!text.Valid()) return std::nullopt;
  return text;
}

bool CanRead(KeyAccess access) { return access != KeyAccess::Write; }
bool CanWrite(KeyAccess access) { return access != KeyAccess::Read; }

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// One change of the file: under the lock the file is read again, so a change that
// another writer made since this key was opened is kept.
bool Modify(const RegistryKey::State& state,
            const std::function<std::optional<std::string>(const WineRegistryText&)>& edit) {
  if (posix::WineServerRunning(state.prefix)) return false;
  auto lock = posix::RegistryWriteLock::Acquire(state.file);
  if (!lock) return false;
  if (posix::WineServerRunning(state.prefix)) return false;
  auto text = ReadText(state.file);
  if (!text) return false;
  auto changed = edit(*text);
  if (!changed) return false;
  return ReplaceFileAtomically(state.file, *changed);
}

// String data crosses between the ANSI side and Wine's UTF-16 form.
std::string ToAnsiData(const posix::WineValue& value) {
  if (!IsRegistryStringType(value.type)) return value.data;
  return posix::Utf16ToAnsi(posix::BytesToUtf16(value.data));
}

RegistryValue ToAnsi(const posix::WineValue& value) {
  return RegistryValue{posix::Utf16ToAnsi(value.name), value.type, ToAnsiData(value)};
}

// --- Through Wine, while its server runs ---

using LiveValues = std::optional<std::vector<posix::WineValue>>;

// The batch of this thread when it serves this prefix.
RegistryBatch::State* BatchFor(const std::string& prefix) {
  if (currentBatch == nullptr) return nullptr;
  if (currentBatch->prefix.empty()) currentBatch->prefix = prefix;
  return currentBatch->prefix == prefix ? currentBatch : nullptr;
}

// The values of a key as Wine sees them, empty for a key that does not exist;
// nothing at all when Wine cannot be reached.
std::optional<LiveValues> ReachLive(const RegistryKey::State& state) {
  RegistryBatch::State* batch = BatchFor(state.prefix);
  if (batch != nullptr) {
    if (auto cached = batch->cache.find(state.liveName); cached != batch->cache.end()) return cached->second;
  }
  auto exports = posix::RunRegTool(state.prefix, std::nullopt, {state.liveName});
  if (!exports) return std::nullopt;
  if (batch != nullptr) batch->cache[state.liveName] = exports->front();
  return std::move(exports->front());
}

// Empty when the key does not exist or Wine cannot be reached: either way the
// key cannot be opened.
LiveValues ReadLive(const RegistryKey::State& state) {
  auto reached = ReachLive(state);
  return reached ? std::move(*reached) : LiveValues();
}

const posix::WineValue* FindLive(const std::vector<posix::WineValue>& values, std::u16string_view name) {
  for (const posix::WineValue& value : values)
    if (posix::SameName(value.name, name)) return &value;
  return nullptr;
}

// True when an exported key shows the change made.
bool TookEffect(const posix::WineRegChange& change, const LiveValues& key) {
  if (change.value) {
    if (!key) return false;
    const posix::WineValue* found = FindLive(*key, change.value->name);
    return found != nullptr && found->type == change.value->type && found->data == change.value->data;
  }
  if (change.deletedName) return !key || FindLive(*key, *change.deletedName) == nullptr;
  return key.has_value();
}

// The change as the batch's cache will show it until the batch commits.
// A key not read yet stays unread: its other values are not known.
void ApplyToCache(RegistryBatch::State& batch, const posix::WineRegChange& change) {
  const auto found = batch.cache.find(change.keyName);
  if (found == batch.cache.end()) return;
  auto& key = found->second;
  if (!key) key.emplace();
  const std::u16string& name = change.value ? change.value->name : change.deletedName.value_or(std::u16string());
  if (!change.value && !change.deletedName) return;
  std::erase_if(*key, [&](const posix::WineValue& value) { return posix::SameName(value.name, name); });
  if (change.value) key->push_back(*change.value);
}

// Collected by the batch, or made at once and read back.
bool ChangeLive(const RegistryKey::State& state, posix::WineRegChange change, std::string valueName) {
  if (RegistryBatch::State* batch = BatchFor(state.prefix)) {
    ApplyToCache(*batch, change);
    batch->pending.push_back(std::move(change));
    batch->origins.push_back({state.root, state.keyPath, std::move(valueName)});
    return true;
  }
  const auto text = posix::FormatRegImport({change});
  if (!text) return false;
  const auto exports = posix::RunRegTool(state.prefix, text, {change.keyName});
  return exports && TookEffect(change, exports->front());
}

}  // namespace

RegistryBatch::RegistryBatch() : state_(std::make_unique<State>()) {
  state_->outer = currentBatch;
  currentBatch = state_.get();
}

RegistryBatch::~RegistryBatch() {
  if (currentBatch == state_.get()) currentBatch = state_->outer;
}

void RegistryBatch::Prefetch(const std::vector<std::pair<RootKey, std::string>>& keys) {
  if (!state_) return;
  std::vector<std::u16string> names;
  std::string prefix;
  for (const auto& [root, keyPath] : keys) {
    auto located = Locate(root, keyPath, KeyAccess::Read);
    if (!located || !located->live || located->path.empty()) continue;
    if (BatchFor(located->prefix) == nullptr || state_->cache.contains(located->liveName)) continue;
    prefix = located->prefix;
    names.push_back(located->liveName);
  }
  if (names.empty()) return;
  auto exports = posix::RunRegTool(prefix, std::nullopt, names);
  if (!exports) return;
  for (std::size_t i = 0; i < names.size(); ++i) state_->cache[names[i]] = std::move((*exports)[i]);
}

std::vector<RegistryWriteFailure> RegistryBatch::Commit() {
  std::vector<RegistryWriteFailure> failures;
  if (!state_ || state_->pending.empty()) return failures;
  std::vector<std::u16string> names;
  for (const posix::WineRegChange& change : state_->pending) {
    bool known = false;
    for (const std::u16string& name : names) known = known || posix::SameName(name, change.keyName);
    if (!known) names.push_back(change.keyName);
  }
  const auto text = posix::FormatRegImport(state_->pending);
  std::optional<posix::WineRegExports> exports;
  if (text) exports = posix::RunRegTool(state_->prefix, text, names);
  // What was cached before no longer tells: the keys are read afresh next time.
  for (const std::u16string& name : names) state_->cache.erase(name);
  if (exports) {
    for (std::size_t i = 0; i < names.size(); ++i) state_->cache[names[i]] = (*exports)[i];
  }
  for (std::size_t i = 0; i < state_->pending.size(); ++i) {
    const posix::WineRegChange& change = state_->pending[i];
    if (!change.value && !change.deletedName) continue;  // a key made for a value that follows
    const bool ok = exports && TookEffect(change, state_->cache[change.keyName]);
    if (!ok) {
      const auto& origin = state_->origins[i];
      failures.push_back({origin.root, origin.keyPath, origin.valueName, !change.value.has_value()});
    }
  }
  state_->pending.clear();
  state_->origins.clear();
  return failures;
}

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::Open(RootKey root, std::string_view keyPath, KeyAccess access) {
  auto state = Locate(root, keyPath, access);
  if (!state) return std::nullopt;
  if (state->live) {
    // A root key always exists; reading a whole hive through Wine is never needed.
    if (!state->path.empty() && !ReadLive(*state)) return std::nullopt;
    return RegistryKey(std::make_unique<State>(std::move(*state)));
  }
  auto text = ReadText(state->file);
  if (!text || !text->KeyExists(state->path)) return std::nullopt;
  return RegistryKey(std::make_unique<State>(std::move(*state)));
}

KeyState RegistryKey::Probe(RootKey root, std::string_view keyPath) {
  auto state = Locate(root, keyPath, KeyAccess::Read);
  if (!state) return posix::SplitKeyPath(keyPath) ? KeyState::Unreachable : KeyState::Missing;
  if (state->live) {
    if (state->path.empty()) return KeyState::Exists;
    const auto reached = ReachLive(*state);
    if (!reached) return KeyState::Unreachable;
    return *reached ? KeyState::Exists : KeyState::Missing;
  }
  const auto text = ReadText(state->file);
  if (!text) return KeyState::Unreachable;
  return text->KeyExists(state->path) ? KeyState::Exists : KeyState::Missing;
}

std::optional<RegistryKey> RegistryKey::Create(RootKey root, std::string_view keyPath) {
  auto state = Locate(root, keyPath, KeyAccess::ReadWrite);
  if (!state) return std::nullopt;
  if (state->live) {
    // Within a batch the key is made with the commit (making an existing key
    // changes nothing), so it need not be read first.
    if (!state->path.empty() && (BatchFor(state->prefix) != nullptr || !ReadLive(*state)) &&
        !ChangeLive(*state, posix::WineRegChange{state->liveName, std::nullopt, std::nullopt}, std::string()))
      return std::nullopt;
    return RegistryKey(std::make_unique<State>(std::move(*state)));
  }
  auto text = ReadText(state->file);
  if (!text) return std::nullopt;
  if (!text->KeyExists(state->path)) {
    const WineKeyPath& path = state->path;
    const bool made = Modify(*state, [&](const WineRegistryText& current) -> std::optional<std::string> {
      // Someone may have made the key meanwhile; then there is nothing to write.
      if (current.KeyExists(path)) return std::nullopt;
      return current.WithKey(path, Now());
    });
    if (!made) {
      auto again = ReadText(state->file);
      if (!again || !again->KeyExists(path)) return std::nullopt;
    }
  }
  return RegistryKey(std::make_unique<State>(std::move(*state)));
}

std::optional<std::vector<RegistryValue>> RegistryKey::EnumValues() const {
  if (!state_ || !CanRead(state_->access)) return std::nullopt;
  if (state_->live) {
    if (state_->path.empty()) return std::nullopt;
    const auto live = ReadLive(*state_);
    if (!live) return std::nullopt;
    std::vector<RegistryValue> values;
    for (const posix::WineValue& value : *live) values.push_back(ToAnsi(value));
    return values;
  }
  auto text = ReadText(state_->file);
  if (!text || !text->KeyExists(state_->path)) return std::nullopt;
  std::vector<RegistryValue> values;
  for (const posix::WineValue& value : text->Values(state_->path)) values.push_back(ToAnsi(value));
  return values;
}

std::optional<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
  if (!state_ || !CanRead(state_->access)) return std::nullopt;
  if (state_->live) {
    if (state_->path.empty()) return std::nullopt;
    const auto live = ReadLive(*state_);
    const posix::WineValue* found = live ? FindLive(*live, posix::AnsiToUtf16(name)) : nullptr;
    if (found == nullptr) return std::nullopt;
    return ToAnsi(*found);
  }
  auto text = ReadText(state_->file);
  if (!text) return std::nullopt;
  auto value = text->Find(state_->path, posix::AnsiToUtf16(name));
  if (!value) return std::nullopt;
  return ToAnsi(*value);
}

bool RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (!state_ || !CanWrite(state_->access)) return false;
  posix::WineValue value;
  value.name = posix::AnsiToUtf16(name);
  value.type = type;
  value.data = IsRegistryStringType(type) ? posix::Utf16ToBytes(posix::AnsiToUtf16(data)) : std::string(data);
  if (state_->live) {
    if (state_->path.empty()) return false;
    return ChangeLive(*state_, posix::WineRegChange{state_->liveName, std::nullopt, value}, std::string(name));
  }
  const WineKeyPath& path = state_->path;
  return Modify(*state_, [&](const WineRegistryText& current) -> std::optional<std::string> {
    if (!current.KeyExists(path)) return std::nullopt;  // the key was deleted meanwhile
    return current.WithValue(path, value, Now());
  });
}

bool RegistryKey::DeleteValue(std::string_view name) {
  if (!state_ || !CanWrite(state_->access)) return false;
  const std::u16string wideName = posix::AnsiToUtf16(name);
  if (state_->live) {
    const auto live = state_->path.empty() ? LiveValues() : ReadLive(*state_);
    if (!live || FindLive(*live, wideName) == nullptr) return false;
    return ChangeLive(*state_, posix::WineRegChange{state_->liveName, wideName, std::nullopt}, std::string(name));
  }
  const WineKeyPath& path = state_->path;
  return Modify(*state_, [&](const WineRegistryText& current) { return current.WithoutValue(path, wideName); });
}

}  // namespace korbu::platform
