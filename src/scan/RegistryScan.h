#pragma once
#include <cstdint>
#include <string>

#include "platform/Registry.h"
#include "platform/WindowsSystem.h"
#include "scan/RegistryLocations.h"
#include "scan/ScanContext.h"
#include "scan/ScanFrontEnd.h"

namespace korbu {

/// Gives the program of every value of the system's Run keys (the machine's and the
/// user's: six) a verdict and lists each
/// infected value by its registry location as "Registry was infected". The scan
/// reads the registry only: it never deletes or changes a value. One value that
/// cannot be judged is skipped, never the rest. A registry that cannot be reached
/// (no Wine answering, a file that cannot be read) is told through ShowFileError,
/// each reason once; a key that does not exist is passed over, and so is the
/// system when there is none (no Wine prefix). The work grows in
/// step with the number of values, and a set context.stop ends the phase at once.
/// A system with users kept apart (a mounted Windows installation) has the Run
/// keys of each user scanned below HKEY_USERS, each read as that user's.
/// Besides that system, the Run keys of every other Wine prefix in which
/// the memory phase found a listed program running are scanned; their rows name
/// that prefix.
void ScanRegistry(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system);

/// Scans every value directly in one key; a key that does not exist is skipped.
/// Why it could not be read, when it could not; empty otherwise.
std::string ScanRunKey(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                       std::uint32_t rootKey, const std::string& keyPath);

/// Judges one value; true when its program file got a verdict name. The row it
/// adds carries the value's location exactly, whatever its name holds.
bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                  const RegistryValueLocation& value);

/// ScanRunValue of the value a value path names (split at its last backslash).
bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                  std::uint32_t rootKey, const std::string& valuePath);

/// The program file a Run value starts: its command line (plain or expandable
/// string, read up to its first zero unit) turned into a path; empty for other
/// types or when no file is found.
std::string ProgramOfRunValue(const platform::WindowsSystem& system, const platform::RegistryValue& value);

}  // namespace korbu
