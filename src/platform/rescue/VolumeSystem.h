#pragma once
// The rescue backend behind the platform's interfaces: while the chosen Windows
// system (WindowsSystemChoice.h) is a Windows volume mounted on this system, the
// POSIX backend's registry, Windows folders, special folders and environment turn
// here, to the installation on that volume.

#include <memory>
#include <string>

#include "platform/Expected.h"
#include "platform/rescue/WindowsInstallation.h"

namespace korbu::platform::rescue {

/// True while the chosen system is a mounted Windows volume.
bool VolumeChosen();

/// The installation on the chosen volume, found the first time it is asked for
/// and kept for the rest of the run; the reason when none is found there (or no
/// volume is chosen).
Expected<std::shared_ptr<const WindowsInstallation>> ChosenInstallation();

/// The chosen user of the chosen installation; null when none is chosen or the
/// installation has no such user.
const WindowsUser* ChosenUser(const WindowsInstallation& installation);

/// The Wine drive letters have no meaning here: the native folder of the chosen
/// installation's drive (the volume's root), or empty for another letter.
std::string VolumeDriveRoot(char letter);

/// The Windows path of the chosen user's profile folder; empty without one.
std::string VolumeUserProfilePath();

/// The Windows path of a special folder of the chosen user (UserShellFolderPath);
/// empty without a chosen user.
std::string VolumeSpecialFolderPath(int csidl);

}  // namespace korbu::platform::rescue
