#pragma once
// The shell folders of a user of a mounted Windows installation.

#include <string>

#include "platform/rescue/InstallationRegistry.h"

namespace korbu::platform::rescue {

/// The Windows path of one of a user's shell folders (kCsidlLocalAppData or
/// kCsidlMyPictures): as the user's hive records it under Explorer's "User Shell
/// Folders" (expanded) or "Shell Folders", else the first that exists of the
/// places Windows puts it by default ("AppData\Local", "Pictures"; before Vista
/// "Local Settings\Application Data", "My Documents\My Pictures"). Empty when
/// the folder is unknown or on another drive.
std::string UserShellFolderPath(InstallationRegistry& registry, const WindowsUser& user, int csidl);

}  // namespace korbu::platform::rescue
