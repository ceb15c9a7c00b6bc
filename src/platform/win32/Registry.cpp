// The registry through the wide registry API, with ntdll's value calls so that a
// value name holding a zero unit is read, written and deleted like any other
// (NtRegistryValues.h). Names cross as WTF-8 (Utf16Text.h); data as it is. Every
// call opens the key afresh.
#include "platform/Registry.h"

#include <vector>

#include "platform/SystemError.h"
#include "platform/WindowsEnvironment.h"
#include "platform/WindowsSystem.h"
#include "platform/WindowsSystemChoice.h"
#include "platform/win32/NtRegistryValues.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

struct RegistryKey::State {
  win32::UniqueKey key;
  KeyAccess access = KeyAccess::Read;
};

namespace {

// "a\\b", a leading or a trailing backslash leave an empty component; a zero
// unit cannot pass the registry API's texts.
std::optional<std::wstring> PathText(std::string_view path) {
  if (!path.empty() && (path.front() == '\\' || path.back() == '\\')) return std::nullopt;
  if (path.find("\\\\") != std::string_view::npos) return std::nullopt;
  const std::wstring wide = win32::Wide(path);
  return win32::KeyPathText(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::u16string Units(std::string_view text) { return Wtf8ToUtf16(text); }

REGSAM Sam(KeyAccess access) {
  switch (access) {
    case KeyAccess::Read: return KEY_READ;
    case KeyAccess::Write: return KEY_WRITE;
    case KeyAccess::ReadWrite: break;
  }
  return KEY_ALL_ACCESS;
}

HKEY RootHandle(RootKey root) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root))); }

Error FromStatus(LONG status) {
  Error error = SystemError(static_cast<int>(status));
  if (status == ERROR_FILE_NOT_FOUND) error.code = kRegistryNotFound;
  return error;
}

Status Result(LONG status) { return status == ERROR_SUCCESS ? Ok() : Status(FromStatus(status)); }

// Only the running system is reachable here.
Status Reachable() {
  if (CurrentWindowsSystem().kind == WindowsSystemRef::Kind::Default) return Ok();
  return Failure("that Windows system cannot be reached from here");
}

Expected<win32::UniqueKey> OpenKey(RootKey root, std::string_view keyPath, REGSAM sam) {
  if (auto reachable = Reachable(); !reachable) return reachable.error();
  const auto path = PathText(keyPath);
  if (!path) return Failure("malformed key path");
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExW(RootHandle(root), path->c_str(), 0, sam, &key);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  return win32::UniqueKey(key);
}

}  // namespace

std::string ChosenWinePrefix() { return std::string(); }
bool SamePrefixFolder(const std::string&, const std::string&) { return false; }
// A mounted Windows volume is a Linux matter (rescue mode).
std::string ChosenWindowsVolume() { return std::string(); }
std::vector<std::string> SystemUsers() { return {}; }
std::vector<std::string> SystemUserFolders() { return {}; }
Status ChosenSystemFound() { return Reachable(); }
Status ChosenSystemWritable() { return Reachable(); }
std::vector<std::string> ChosenSystemNotes() { return {}; }

// Windows tells its special folders and environment through the shell and the
// process, not through keys a task would read ahead.
std::vector<std::pair<std::uint32_t, std::string>> SpecialFolderRegistryKeys() { return {}; }
std::vector<std::pair<std::uint32_t, std::string>> EnvironmentRegistryKeys() { return {}; }

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

Expected<RegistryKey> RegistryKey::Open(RootKey root, std::string_view keyPath, KeyAccess access) {
  auto key = OpenKey(root, keyPath, Sam(access));
  if (!key) return key.error();
  auto state = std::make_unique<State>();
  state->key = std::move(*key);
  state->access = access;
  return RegistryKey(std::move(state));
}

KeyState RegistryKey::Probe(RootKey root, std::string_view keyPath) {
  if (!PathText(keyPath)) return KeyState::Missing;
  const auto key = OpenKey(root, keyPath, KEY_READ);
  if (key) return KeyState::Exists;
  return IsNotFound(key.error()) ? KeyState::Missing : KeyState::Unreachable;
}

Expected<RegistryKey> RegistryKey::Create(RootKey root, std::string_view keyPath) {
  if (auto reachable = Reachable(); !reachable) return reachable.error();
  const auto path = PathText(keyPath);
  if (!path) return Failure("malformed key path");
  HKEY key = nullptr;
  const LONG status = ::RegCreateKeyExW(RootHandle(root), path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  auto state = std::make_unique<State>();
  state->key = win32::UniqueKey(key);
  state->access = KeyAccess::ReadWrite;
  return RegistryKey(std::move(state));
}

Status RegistryKey::DeleteEmptyKey(RootKey root, std::string_view keyPath) {
  if (keyPath.empty()) return Failure("a root key is never deleted");
  auto key = OpenKey(root, keyPath, KEY_QUERY_VALUE | DELETE);
  if (!key) return key.error();
  const LONG status = win32::DeleteNtKeyIfEmpty(key->Get());
  if (status == ERROR_DIR_NOT_EMPTY) return Failure("the key is not empty");
  return Result(status);
}

Expected<std::vector<RegistryValue>> RegistryKey::EnumValues() const {
  if (!state_) return Failure("no key");
  std::vector<win32::NtValue> read;
  if (const LONG status = win32::EnumNtValues(state_->key.Get(), read); status != ERROR_SUCCESS)
    return FromStatus(status);
  std::vector<RegistryValue> values;
  values.reserve(read.size());
  for (win32::NtValue& value : read) values.push_back({Utf16ToWtf8(value.name), value.type, std::move(value.data)});
  return values;
}

Expected<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
  if (!state_) return Failure("no key");
  win32::NtValue value;
  if (const LONG status = win32::QueryNtValue(state_->key.Get(), Units(name), value); status != ERROR_SUCCESS)
    return FromStatus(status);
  return RegistryValue{std::string(name), value.type, std::move(value.data)};
}

Status RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (!state_) return Failure("no key");
  return Result(win32::SetNtValue(state_->key.Get(), Units(name), type, data));
}

Status RegistryKey::DeleteValue(std::string_view name) {
  if (!state_) return Failure("no key");
  return Result(win32::DeleteNtValue(state_->key.Get(), Units(name)));
}

// Windows' registry is reached directly by every call: a batch has nothing to group.
struct RegistryBatch::State {};

RegistryBatch::RegistryBatch(const std::atomic<bool>*) : state_(std::make_unique<State>()) {}
RegistryBatch::~RegistryBatch() = default;
Status RegistryBatch::Prefetch(const std::vector<std::pair<RootKey, std::string>>&) { return Ok(); }
bool RegistryBatch::HasPending() const { return false; }
std::vector<RegistryWriteFailure> RegistryBatch::Commit() { return {}; }

}  // namespace korbu::platform
