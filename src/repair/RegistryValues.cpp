#include "repair/RegistryValues.h"

#include <cstdint>

#include "services/MiniReg.h"

namespace korbu {
namespace {

using platform::KeyAccess;
using platform::KeyState;
using platform::RegistryKey;

std::optional<RegistryValueLocation> FromValuePath(platform::RootKey root, std::string_view valuePath) {
  const auto path = SplitValuePath(valuePath);
  if (!path) return std::nullopt;
  return RegistryValueLocation{root, std::string(path->keyPath), std::string(path->valueName)};
}

}  // namespace

ValuePresence RegistryValuePresence(const RegistryValueLocation& value) {
  switch (RegistryKey::Probe(value.root, value.keyPath)) {
    case KeyState::Unreachable: return ValuePresence::Unknown;
    case KeyState::Missing: return ValuePresence::Absent;
    case KeyState::Exists: break;
  }
  const auto key = RegistryKey::Open(value.root, value.keyPath, KeyAccess::Read);
  if (!key) return ValuePresence::Unknown;
  return key->QueryValue(value.valueName) ? ValuePresence::Present : ValuePresence::Absent;
}

ValuePresence RegistryValuePresence(platform::RootKey root, std::string_view valuePath) {
  const auto value = FromValuePath(root, valuePath);
  return value ? RegistryValuePresence(*value) : ValuePresence::Unknown;
}

ValuePresence RegistryLocationPresence(std::string_view location) {
  const auto value = ParseRegistryLocation(location);
  return value ? RegistryValuePresence(*value) : ValuePresence::Unknown;
}

std::optional<platform::RegistryValue> CurrentRegistryValue(const RegistryValueLocation& value) {
  const auto key = RegistryKey::Open(value.root, value.keyPath, KeyAccess::Read);
  if (!key) return std::nullopt;
  return key->QueryValue(value.valueName);
}

std::optional<platform::RegistryValue> CurrentRegistryValue(platform::RootKey root, std::string_view valuePath) {
  const auto value = FromValuePath(root, valuePath);
  return value ? CurrentRegistryValue(*value) : std::nullopt;
}

std::string FormatRegistryData(const std::optional<platform::RegistryValue>& value) {
  if (!value) return "(none)";
  const std::string& data = value->data;
  if (platform::IsRegistryStringType(value->type)) {
    std::string text = data;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return "\"" + text + "\"";
  }
  if (value->type == platform::kRegDword && data.size() == 4) {
    std::uint32_t number = 0;
    for (std::size_t i = 4; i-- > 0;) number = (number << 8) | static_cast<unsigned char>(data[i]);
    return "dword:" + std::to_string(number);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "hex(" + std::to_string(value->type) + "):";
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    if (i > 0) out += ',';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

}  // namespace korbu
