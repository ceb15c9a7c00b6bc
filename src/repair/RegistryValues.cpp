#include "repair/RegistryValues.h"

#include <cstdint>

#include "platform/HexText.h"

#include "services/MiniReg.h"

namespace korbu {
namespace {

using platform::KeyAccess;
using platform::KeyState;

std::optional<RegistryValueLocation> FromValuePath(platform::RootKey root, std::string_view valuePath) {
  const auto path = SplitValuePath(valuePath);
  if (!path) return std::nullopt;
  return RegistryValueLocation{root, std::string(path->keyPath), std::string(path->valueName)};
}

}  // namespace

ValuePresence RegistryValuePresence(const platform::WindowsSystem& system, const RegistryValueLocation& value) {
  switch (system.ProbeKey(value.root, value.keyPath)) {
    case KeyState::Unreachable: return ValuePresence::Unknown;
    case KeyState::Missing: return ValuePresence::Absent;
    case KeyState::Exists: break;
  }
  const auto key = system.OpenKey(value.root, value.keyPath, KeyAccess::Read);
  if (!key) return key.error().kind == ErrorKind::NotFound ? ValuePresence::Absent : ValuePresence::Unknown;
  const auto read = key->QueryValue(value.valueName);
  if (read) return ValuePresence::Present;
  return read.error().kind == ErrorKind::NotFound ? ValuePresence::Absent : ValuePresence::Unknown;
}

ValuePresence RegistryValuePresence(const platform::WindowsSystem& system, platform::RootKey root, std::string_view valuePath) {
  const auto value = FromValuePath(root, valuePath);
  return value ? RegistryValuePresence(system, *value) : ValuePresence::Unknown;
}

ValuePresence RegistryLocationPresence(const platform::WindowsSystem& system, std::string_view location) {
  const auto value = ParseRegistryLocation(location);
  return value ? RegistryValuePresence(system, *value) : ValuePresence::Unknown;
}

std::optional<platform::RegistryValue> CurrentRegistryValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) {
  const auto key = system.OpenKey(value.root, value.keyPath, KeyAccess::Read);
  if (!key) return std::nullopt;
  auto read = key->QueryValue(value.valueName);
  if (!read) return std::nullopt;
  return std::move(*read);
}

Status SetRegistryValue(const platform::WindowsSystem& system, const RegistryValueLocation& value, std::uint32_t type,
                        std::string_view data) {
  if (data.size() > 0xFFFFFFFFu) return Failure("the data is too large for a registry value");
  auto key = system.CreateKey(value.root, value.keyPath);
  if (!key) return key.error();
  return key->SetValue(value.valueName, type, data);
}

std::optional<platform::RegistryValue> CurrentRegistryValue(const platform::WindowsSystem& system, platform::RootKey root, std::string_view valuePath) {
  const auto value = FromValuePath(root, valuePath);
  return value ? CurrentRegistryValue(system, *value) : std::nullopt;
}

std::string DwordData(std::uint32_t value) {
  std::string data;
  for (int shift = 0; shift < 32; shift += 8) data += static_cast<char>((value >> shift) & 0xFFu);
  return data;
}

std::string FormatRegistryData(const std::optional<platform::RegistryValue>& value) {
  if (!value) return "(none)";
  const std::string& data = value->data;
  // A single string shown as text only when the text is the whole data.
  if (value->type == platform::kRegSz || value->type == platform::kRegExpandSz) {
    std::string text = platform::RegistryText(data);
    if (platform::RegistryStringData(text) == data) return "\"" + text + "\"";
  }
  if (value->type == platform::kRegDword && data.size() == 4) {
    std::uint32_t number = 0;
    for (std::size_t i = 4; i-- > 0;) number = (number << 8) | static_cast<unsigned char>(data[i]);
    return "dword:" + std::to_string(number);
  }
  std::string out = "hex(" + std::to_string(value->type) + "):";
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ',';
    platform::AppendHexByte(out, static_cast<unsigned char>(data[i]));
  }
  return out;
}

std::vector<std::string> KeyAndParents(std::string_view keyPath) {
  std::vector<std::string> keys;
  for (std::size_t end = keyPath.find('\\'); end != std::string_view::npos; end = keyPath.find('\\', end + 1))
    keys.emplace_back(keyPath.substr(0, end));
  if (!keyPath.empty()) keys.emplace_back(keyPath);
  return keys;
}

std::optional<std::string> FirstMissingKey(const platform::WindowsSystem& system, platform::RootKey root, std::string_view keyPath) {
  for (const std::string& key : KeyAndParents(keyPath)) {
    switch (system.ProbeKey(root, key)) {
      case KeyState::Exists: continue;
      case KeyState::Missing: return key;
      case KeyState::Unreachable: return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace korbu
