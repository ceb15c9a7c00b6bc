#pragma once
// Names of the registry's root keys and registry locations: the text that a
// registry detection shows as its file name, root key name + "\" + value path
// ("HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\name").

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "scan/RegistryValueLocation.h"

namespace korbu {

inline constexpr platform::RootKey HKEY_CLASSES_ROOT = platform::kHkeyClassesRoot;
inline constexpr platform::RootKey HKEY_CURRENT_USER = platform::kHkeyCurrentUser;
inline constexpr platform::RootKey HKEY_LOCAL_MACHINE = platform::kHkeyLocalMachine;
inline constexpr platform::RootKey HKEY_USERS = platform::kHkeyUsers;
inline constexpr platform::RootKey HKEY_PERFORMANCE_DATA = platform::kHkeyPerformanceData;
inline constexpr platform::RootKey HKEY_CURRENT_CONFIG = platform::kHkeyCurrentConfig;
inline constexpr platform::RootKey HKEY_DYN_DATA = platform::kHkeyDynData;

/// The names of the root keys, indexed by (handle - 0x80000000).
inline constexpr std::array<std::string_view, 7> RootKeyNames = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

/// The name of a root key handle from 0x80000000 to 0x80000006; empty for any other.
std::string RootKeyName(std::uint32_t handle);

/// The handle whose name equals the text, ASCII letter case ignored; 0 when none does.
std::uint32_t RootKeyFromName(std::string_view name);

/// True when the text before its first "_" (the whole text without one) is exactly
/// "HKEY": every registry location passes, a file path never does.
bool IsRegistryPath(std::string_view text);

/// A registry location taken apart.
struct RegistryLocation {
  platform::RootKey root = 0;
  std::string valuePath;  // key path + "\" + value name, as MiniReg takes it
};

/// Splits a location at its first backslash into the root key named before it and
/// the value path after it; empty when there is no backslash or no such root.
std::optional<RegistryLocation> SplitRegistryLocation(std::string_view location);

/// The location of a value: RootKeyName(root) + "\" + valuePath.
std::string MakeRegistryLocation(platform::RootKey root, std::string_view valuePath);

/// The text a detection shows: root key name, "\", key path, "\", value name.
std::string RegistryLocationText(const RegistryValueLocation& location);

/// The one test of a registry location text: it passes IsRegistryPath, names a
/// root key before its first backslash, and the rest is split as a value path
/// (at its last backslash). Empty for any other text.
std::optional<RegistryValueLocation> ParseRegistryLocation(std::string_view text);

}  // namespace korbu
