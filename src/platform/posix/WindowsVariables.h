#pragma once
// The environment a Windows program of a system whose registry is read from
// here (a Wine prefix, a mounted Windows volume) sees: Windows' defaults for
// its folders, then the system environment key, then the user's.

#include <string>
#include <string_view>

#include "platform/WindowsSystem.h"

namespace korbu::platform::posix {

/// WindowsSystem::ExpandEnvironment for such a system; profile is the Windows
/// path of its user's profile folder (empty for none).
std::string ExpandWindowsVariables(const WindowsSystem& system, std::string_view text, const std::string& profile);

/// WindowsSystem::EnvironmentRegistryKeys for such a system.
RegistryKeyList WindowsVariableKeys();

}  // namespace korbu::platform::posix
