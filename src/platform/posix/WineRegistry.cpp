// The registry of the Wine prefix: HKEY_LOCAL_MACHINE in system.reg,
// HKEY_CURRENT_USER in user.reg, HKEY_CLASSES_ROOT as HKLM\Software\Classes.
// Every call reads the file afresh; every change is a read-modify-write of the
// whole file under this program's own lock, refused while wineserver runs, and
// the new file replaces the old one atomically.

#include <ctime>
#include <functional>

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/posix/WinePrefix.h"
#include "platform/posix/WineRegistryCodec.h"
#include "platform/posix/WineRegistryLock.h"
#include "platform/posix/WineRegistryText.h"

namespace korbu::platform {

struct RegistryKey::State {
  std::string prefix;
  std::string file;
  posix::WineKeyPath path;  // relative to the file's root
  KeyAccess access = KeyAccess::Read;
};

namespace {

using posix::WineKeyPath;
using posix::WineRegistryText;

std::optional<RegistryKey::State> Locate(RootKey root, std::string_view keyPath, KeyAccess access) {
  WineKeyPath base;
  std::string fileName;
  switch (root) {
    case kHkeyLocalMachine: fileName = "system.reg"; break;
    case kHkeyCurrentUser: fileName = "user.reg"; break;
    case kHkeyClassesRoot:
      fileName = "system.reg";
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

}  // namespace

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::Open(RootKey root, std::string_view keyPath, KeyAccess access) {
  auto state = Locate(root, keyPath, access);
  if (!state) return std::nullopt;
  auto text = ReadText(state->file);
  if (!text || !text->KeyExists(state->path)) return std::nullopt;
  return RegistryKey(std::make_unique<State>(std::move(*state)));
}

std::optional<RegistryKey> RegistryKey::Create(RootKey root, std::string_view keyPath) {
  auto state = Locate(root, keyPath, KeyAccess::ReadWrite);
  if (!state) return std::nullopt;
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
  auto text = ReadText(state_->file);
  if (!text || !text->KeyExists(state_->path)) return std::nullopt;
  std::vector<RegistryValue> values;
  for (const posix::WineValue& value : text->Values(state_->path)) values.push_back(ToAnsi(value));
  return values;
}

std::optional<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
  if (!state_ || !CanRead(state_->access)) return std::nullopt;
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
  const WineKeyPath& path = state_->path;
  return Modify(*state_, [&](const WineRegistryText& current) -> std::optional<std::string> {
    if (!current.KeyExists(path)) return std::nullopt;  // the key was deleted meanwhile
    return current.WithValue(path, value, Now());
  });
}

bool RegistryKey::DeleteValue(std::string_view name) {
  if (!state_ || !CanWrite(state_->access)) return false;
  const std::u16string wideName = posix::AnsiToUtf16(name);
  const WineKeyPath& path = state_->path;
  return Modify(*state_, [&](const WineRegistryText& current) { return current.WithoutValue(path, wideName); });
}

}  // namespace korbu::platform
