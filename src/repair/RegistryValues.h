#pragma once
// Looking at one registry value without changing it: what the repair needs to
// show a value's current data and to tell afterwards whether a value is gone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "platform/WindowsSystem.h"
#include "scan/RegistryLocations.h"

namespace korbu {

enum class ValuePresence {
  Present,
  Absent,   // its key or the value itself does not exist
  Unknown,  // the root cannot be opened, or the path cannot address a value
};

/// Whether the value exists.
ValuePresence RegistryValuePresence(const platform::WindowsSystem& system, const RegistryValueLocation& value);

/// Whether the value at root + value path (key path, "\", value name) exists.
ValuePresence RegistryValuePresence(const platform::WindowsSystem& system, platform::RootKey root, std::string_view valuePath);

/// Whether the value a registry location names exists; Unknown for a text that
/// is no registry location.
ValuePresence RegistryLocationPresence(const platform::WindowsSystem& system, std::string_view location);

/// The value's type and data, when it exists.
std::optional<platform::RegistryValue> CurrentRegistryValue(const platform::WindowsSystem& system, const RegistryValueLocation& value);
std::optional<platform::RegistryValue> CurrentRegistryValue(const platform::WindowsSystem& system, platform::RootKey root, std::string_view valuePath);

/// Sets the value, creating its key (and missing keys above it) when needed and
/// replacing a value of that name whatever its type.
Status SetRegistryValue(const platform::WindowsSystem& system, const RegistryValueLocation& value, std::uint32_t type,
                        std::string_view data);

/// REG_DWORD data as the registry holds it: four bytes, little-endian.
std::string DwordData(std::uint32_t value);

/// Data in a form for people: a string quoted when the text is its whole data,
/// a DWORD in decimal, anything else as hex bytes, and "(none)" for a value that
/// does not exist.
std::string FormatRegistryData(const std::optional<platform::RegistryValue>& value);

/// The key paths from the first component of keyPath down to keyPath itself
/// ("a", "a\b", "a\b\c"); none for the root.
std::vector<std::string> KeyAndParents(std::string_view keyPath);

/// The first key of keyPath, from the root down, that does not exist: the
/// topmost key a write there would create. Empty when the key exists or the
/// registry cannot tell.
std::optional<std::string> FirstMissingKey(const platform::WindowsSystem& system, platform::RootKey root, std::string_view keyPath);

}  // namespace korbu
