#pragma once
// One registry value by its root key, key path and name. Kept apart from the
// root key constants of the registry locations, whose names Windows' own headers
// take for macros, so that window code can carry a location too.

#include <string>

#include "platform/Registry.h"

namespace korbu {

/// Held apart so that a name with a backslash in it still names exactly its value.
struct RegistryValueLocation {
  platform::RootKey root = 0;
  std::string keyPath;
  std::string valueName;
};

}  // namespace korbu
