#pragma once
// The Windows system on POSIX is a Wine prefix: its registry files, its drive_c
// tree and its dosdevices links.

#include <string>

#include "platform/WindowsSystem.h"

namespace korbu::platform::wine {

/// The prefix folder a record names: its own folder for a prefix; for Default
/// the one WINEPREFIX names, else ~/.wine (read afresh on every call, so tests
/// may point WINEPREFIX elsewhere). Only a folder that holds system.reg,
/// user.reg and drive_c; empty when there is none. No other folder is ever taken
/// instead.
std::string FindWinePrefix(const WindowsSystemRef& ref);

/// True when two folders are the same Wine prefix, whatever links lead to it.
bool SamePrefixFolder(const std::string& a, const std::string& b);

}  // namespace korbu::platform::wine
