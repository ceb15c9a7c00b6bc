#pragma once
// The registry of a Wine prefix reached through Wine itself, for the time its
// wineserver runs and owns the registry (the files then lag behind and would be
// overwritten): one run of korbu-winereg.exe (src/winereg) under the prefix's
// server answers a whole list of operations, so a scan's reads, or a repair's
// writes and their read-back, cost one Wine start each.

#include <atomic>
#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/wine/RegProtocol.h"

namespace korbu::platform::wine {

/// The helper's path: korbu-winereg.exe beside the running program.
std::string WineHelperPath();

/// Runs the helper once in the prefix with Wine (the loader WINE names, else
/// `wine`), as the prefix's owner when this program runs as root and another
/// user owns it (Wine serves a prefix only to its owner, and nothing of another
/// user's prefix may run as root). Its results, one per operation; the reason
/// when Wine could not be run to the end: the helper or Wine missing, Wine
/// failing or giving no answer, no answer within two minutes, or stop set.
Expected<std::vector<winereg::Result>> RunWineHelper(const std::string& prefix,
                                                     const std::vector<winereg::Operation>& operations,
                                                     const std::atomic<bool>* stop = nullptr);

}  // namespace korbu::platform::wine
