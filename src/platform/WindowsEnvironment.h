#pragma once
// The environment a Windows program of this system sees, for data of the
// expandable string type ("%SystemRoot%\system32\x.exe").

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korbu::platform {

/// The text with every %NAME% whose variable is known replaced by its value;
/// names ignore letter case, unknown ones and a lone '%' stay as they are. On
/// POSIX the variables are those of the Wine prefix: the system environment key,
/// then the user's (which win), over Wine's own defaults for SystemRoot, windir,
/// SystemDrive, ProgramFiles, USERPROFILE, APPDATA, LOCALAPPDATA, TEMP and the
/// like. Without a prefix nothing is replaced.
std::string ExpandWindowsEnvironment(std::string_view text);

/// The registry keys (root key, key path) the variables are read from, so that a
/// task reaching a costly registry can read them ahead with its own; none where
/// the system tells them (Windows).
std::vector<std::pair<std::uint32_t, std::string>> EnvironmentRegistryKeys();

}  // namespace korbu::platform
