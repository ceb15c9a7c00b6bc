#pragma once
// The Windows system on POSIX is a Wine prefix: its registry files, its drive_c
// tree and its dosdevices links.

#include <string>

namespace korbu::platform::posix {

/// The prefix of the thread's chosen Windows system (WindowsSystemChoice.h): by
/// default the one WINEPREFIX names, else ~/.wine. Only a folder that holds
/// system.reg, user.reg and drive_c; empty when there is none. No other folder is
/// ever taken instead. Read afresh on every call, so tests may point WINEPREFIX
/// elsewhere.
std::string FindWinePrefix();

/// The user's home folder: HOME when it is an absolute path, else the password
/// database's; empty when neither names one.
std::string HomeFolder();

}  // namespace korbu::platform::posix
