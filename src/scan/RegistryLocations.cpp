#include "scan/RegistryLocations.h"

#include "platform/AsciiCase.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {

constexpr std::uint32_t kFirstRoot = 0x80000000u;

}  // namespace

std::string RootKeyName(std::uint32_t handle) {
  if (handle < kFirstRoot || handle - kFirstRoot >= RootKeyNames.size()) return {};
  return std::string(RootKeyNames[handle - kFirstRoot]);
}

std::uint32_t RootKeyFromName(std::string_view name) {
  for (std::size_t i = 0; i < RootKeyNames.size(); ++i)
    if (platform::EqualsIgnoringCase(name, RootKeyNames[i])) return kFirstRoot + static_cast<std::uint32_t>(i);
  return 0;
}

bool IsRegistryPath(std::string_view text) { return text.substr(0, text.find('_')) == "HKEY"; }

std::optional<RegistryLocation> SplitRegistryLocation(std::string_view location) {
  const std::size_t slash = location.find('\\');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::uint32_t root = RootKeyFromName(location.substr(0, slash));
  if (root == 0) return std::nullopt;
  return RegistryLocation{root, std::string(location.substr(slash + 1))};
}

std::string MakeRegistryLocation(platform::RootKey root, std::string_view valuePath) {
  return RootKeyName(root) + "\\" + std::string(valuePath);
}

std::string RegistryLocationText(const RegistryValueLocation& location) {
  return RootKeyName(location.root) + "\\" + location.keyPath + "\\" + location.valueName;
}

std::optional<RegistryValueLocation> ParseRegistryLocation(std::string_view text) {
  if (!IsRegistryPath(text)) return std::nullopt;
  const auto split = SplitRegistryLocation(text);
  if (!split) return std::nullopt;
  const auto path = SplitValuePath(split->valuePath);
  if (!path) return std::nullopt;
  return RegistryValueLocation{split->root, std::string(path->keyPath), std::string(path->valueName)};
}

}  // namespace korbu
