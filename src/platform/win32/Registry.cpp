// The registry through the wide registry API, with ntdll's value calls so that a
// value name holding a zero unit is read, written and deleted like any other
// (NtRegistryValues.h). Names cross as WTF-8 (Utf16Text.h); data as it is. Every
// call opens the key afresh.
#include "platform/Registry.h"

#include <vector>

#include "platform/SystemError.h"
#include "platform/win32/NtRegistryValues.h"
#include "platform/win32/RunningSystem.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform::win32 {
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
  if (status == ERROR_FILE_NOT_FOUND) error.kind = ErrorKind::NotFound;
  return error;
}

Status Result(LONG status) { return status == ERROR_SUCCESS ? Ok() : Status(FromStatus(status)); }

Expected<UniqueKey> OpenKey(RootKey root, std::string_view keyPath, REGSAM sam) {
  const auto path = PathText(keyPath);
  if (!path) return Failure("malformed key path");
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExW(RootHandle(root), path->c_str(), 0, sam, &key);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  return UniqueKey(key);
}

// An open key of the running system.
struct RunningKey final : RegistryKey::State {
  UniqueKey key;

  RunningKey(UniqueKey opened, KeyAccess how) : key(std::move(opened)) { access = how; }

  Expected<std::vector<RegistryValue>> Values() const override {
    std::vector<NtValue> read;
    if (const LONG status = EnumNtValues(key.Get(), read); status != ERROR_SUCCESS) return FromStatus(status);
    std::vector<RegistryValue> values;
    values.reserve(read.size());
    for (NtValue& value : read) values.push_back({Utf16ToWtf8(value.name), value.type, std::move(value.data)});
    return values;
  }

  Expected<RegistryValue> Value(std::string_view name) const override {
    NtValue value;
    if (const LONG status = QueryNtValue(key.Get(), Units(name), value); status != ERROR_SUCCESS)
      return FromStatus(status);
    return RegistryValue{std::string(name), value.type, std::move(value.data)};
  }

  Status Set(std::string_view name, std::uint32_t type, std::string_view data) override {
    return Result(SetNtValue(key.Get(), Units(name), type, data));
  }

  Status Delete(std::string_view name) override { return Result(DeleteNtValue(key.Get(), Units(name))); }
};

}  // namespace

Expected<RegistryKey> RunningSystem::OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const {
  auto key = win32::OpenKey(root, keyPath, Sam(access));
  if (!key) return key.error();
  return RegistryKey(std::make_unique<RunningKey>(std::move(*key), access));
}

KeyState RunningSystem::ProbeKey(RootKey root, std::string_view keyPath) const {
  if (!PathText(keyPath)) return KeyState::Missing;
  const auto key = win32::OpenKey(root, keyPath, KEY_READ);
  if (key) return KeyState::Exists;
  return key.error().kind == ErrorKind::NotFound ? KeyState::Missing : KeyState::Unreachable;
}

Expected<RegistryKey> RunningSystem::CreateKey(RootKey root, std::string_view keyPath) const {
  const auto path = PathText(keyPath);
  if (!path) return Failure("malformed key path");
  HKEY key = nullptr;
  const LONG status = ::RegCreateKeyExW(RootHandle(root), path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  return RegistryKey(std::make_unique<RunningKey>(UniqueKey(key), KeyAccess::ReadWrite));
}

Status RunningSystem::DeleteEmptyKey(RootKey root, std::string_view keyPath) const {
  if (keyPath.empty()) return Failure("a root key is never deleted");
  auto key = win32::OpenKey(root, keyPath, KEY_QUERY_VALUE | DELETE);
  if (!key) return key.error();
  const LONG status = DeleteNtKeyIfEmpty(key->Get());
  if (status == ERROR_DIR_NOT_EMPTY) return Failure("the key is not empty");
  return Result(status);
}

}  // namespace korbu::platform::win32
