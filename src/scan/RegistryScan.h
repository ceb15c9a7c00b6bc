#pragma once
#include <cstdint>
#include <string>

#include "scan/ScanFrontEnd.h"

namespace korbu {

/// Gives the program of every value of the six Run keys a verdict and lists each
/// infected value by its registry location as "Registry was infected". The scan
/// reads the registry only: it never deletes or changes a value. One value that
/// cannot be judged is skipped, never the rest.
void ScanRegistry(ScanFrontEnd& frontEnd);

/// Scans every value directly in one key; a key that cannot be opened is skipped.
void ScanRunKey(ScanFrontEnd& frontEnd, std::uint32_t rootKey, const std::string& keyPath);

/// Judges one value; true when its program file got a verdict name.
bool ScanRunValue(ScanFrontEnd& frontEnd, std::uint32_t rootKey, const std::string& valuePath);

}  // namespace korbu
