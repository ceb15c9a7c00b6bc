// The registry through the ANSI registry API; every call opens the key afresh.
#include "platform/Registry.h"

#include <vector>

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

struct RegistryKey::State {
  win32::UniqueKey key;
};

namespace {

// "a\\b", a leading or a trailing backslash leave an empty component.
bool WellFormed(std::string_view path) {
  if (path.empty()) return true;
  if (path.front() == '\\' || path.back() == '\\') return false;
  return path.find("\\\\") == std::string_view::npos && path.find('\0') == std::string_view::npos;
}

REGSAM Sam(KeyAccess access) {
  switch (access) {
    case KeyAccess::Read: return KEY_READ;
    case KeyAccess::Write: return KEY_WRITE;
    case KeyAccess::ReadWrite: break;
  }
  return KEY_ALL_ACCESS;
}

HKEY RootHandle(RootKey root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

}  // namespace

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::Open(RootKey root, std::string_view keyPath, KeyAccess access) {
  if (!WellFormed(keyPath)) return std::nullopt;
  const std::string path(keyPath);
  HKEY key = nullptr;
  if (::RegOpenKeyExA(RootHandle(root), path.c_str(), 0, Sam(access), &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  auto state = std::make_unique<State>();
  state->key = win32::UniqueKey(key);
  return RegistryKey(std::move(state));
}

KeyState RegistryKey::Probe(RootKey root, std::string_view keyPath) {
  if (!WellFormed(keyPath)) return KeyState::Missing;
  const std::string path(keyPath);
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExA(RootHandle(root), path.c_str(), 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) {
    ::RegCloseKey(key);
    return KeyState::Exists;
  }
  return status == ERROR_FILE_NOT_FOUND ? KeyState::Missing : KeyState::Unreachable;
}

std::optional<RegistryKey> RegistryKey::Create(RootKey root, std::string_view keyPath) {
  if (!WellFormed(keyPath)) return std::nullopt;
  const std::string path(keyPath);
  HKEY key = nullptr;
  if (::RegCreateKeyExA(RootHandle(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  auto state = std::make_unique<State>();
  state->key = win32::UniqueKey(key);
  return RegistryKey(std::move(state));
}

std::optional<std::vector<RegistryValue>> RegistryKey::EnumValues() const {
  if (!state_) return std::nullopt;
  HKEY key = state_->key.Get();
  DWORD count = 0;
  DWORD maxName = 0;
  DWORD maxData = 0;
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                         &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<RegistryValue> values;
  std::string name;
  std::string data;
  for (DWORD index = 0;; ++index) {
    name.assign(static_cast<std::size_t>(maxName) + 2, '\0');
    data.assign(static_cast<std::size_t>(maxData) + 2, '\0');
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG rc = ::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &dataLength);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      // A value grew since the key was measured: measure again and retry it.
      if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                             &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
      }
      --index;
      continue;
    }
    if (rc != ERROR_SUCCESS) return std::nullopt;
    values.push_back(RegistryValue{name.substr(0, nameLength), type, data.substr(0, dataLength)});
  }
  return values;
}

std::optional<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
  if (!state_) return std::nullopt;
  const std::string valueName(name);
  std::string data(256, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD type = 0;
    DWORD length = static_cast<DWORD>(data.size());
    const LONG rc = ::RegQueryValueExA(state_->key.Get(), valueName.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &length);
    if (rc == ERROR_MORE_DATA) {
      data.assign(static_cast<std::size_t>(length) + 2, '\0');
      continue;
    }
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return RegistryValue{valueName, type, data.substr(0, length)};
  }
  return std::nullopt;
}

bool RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (!state_ || data.size() > 0xFFFFFFFFu) return false;
  const std::string valueName(name);
  return ::RegSetValueExA(state_->key.Get(), valueName.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(std::string_view name) {
  if (!state_) return false;
  const std::string valueName(name);
  return ::RegDeleteValueA(state_->key.Get(), valueName.c_str()) == ERROR_SUCCESS;
}

// Windows' registry is reached directly by every call: a batch has nothing to group.
struct RegistryBatch::State {};

RegistryBatch::RegistryBatch() = default;
RegistryBatch::~RegistryBatch() = default;
void RegistryBatch::Prefetch(const std::vector<std::pair<RootKey, std::string>>&) {}
std::vector<RegistryWriteFailure> RegistryBatch::Commit() { return {}; }

}  // namespace korbu::platform
