#include "repair/RegistryValues.h"

#include <cstdint>

#include "scan/RegistryLocations.h"

namespace korbu {
namespace {

using platform::KeyAccess;
using platform::RegistryKey;

struct SplitPath {
  std::string_view keyPath;
  std::string_view valueName;
};

// As the registry access splits a value path: at its last backslash.
std::optional<SplitPath> Split(std::string_view valuePath) {
  const std::size_t at = valuePath.rfind('\\');
  if (at == std::string_view::npos) return std::nullopt;
  return SplitPath{valuePath.substr(0, at), valuePath.substr(at + 1)};
}

}  // namespace

ValuePresence RegistryValuePresence(platform::RootKey root, std::string_view valuePath) {
  const auto path = Split(valuePath);
  if (!path) return ValuePresence::Unknown;
  // Without its root nothing can be told: no prefix, or a root that never opens.
  if (!RegistryKey::Open(root, "", KeyAccess::Read)) return ValuePresence::Unknown;
  const auto key = RegistryKey::Open(root, path->keyPath, KeyAccess::Read);
  if (!key) return ValuePresence::Absent;
  return key->QueryValue(path->valueName) ? ValuePresence::Present : ValuePresence::Absent;
}

ValuePresence RegistryLocationPresence(std::string_view location) {
  if (!IsRegistryPath(location)) return ValuePresence::Unknown;
  const auto split = SplitRegistryLocation(location);
  if (!split) return ValuePresence::Unknown;
  return RegistryValuePresence(split->root, split->valuePath);
}

std::optional<platform::RegistryValue> CurrentRegistryValue(platform::RootKey root, std::string_view valuePath) {
  const auto path = Split(valuePath);
  if (!path) return std::nullopt;
  const auto key = RegistryKey::Open(root, path->keyPath, KeyAccess::Read);
  if (!key) return std::nullopt;
  return key->QueryValue(path->valueName);
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
