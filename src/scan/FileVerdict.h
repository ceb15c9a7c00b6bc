#pragma once
// The verdict on one file: the engine's name, replaced by a known variant's name
// when the file's checksum is in the variant table, or else by the heuristic's
// name when that test is on and finds its pattern.

#include <string>

#include "engine/EngineScanner.h"

namespace korbu {

/// Gives the file a verdict from ScanEngine and HeuristicEnabled. Returns true
/// when verdict (always rewritten) names a virus. The file is read once, in
/// bounded blocks; an unreadable file simply gets no verdict from the own tests.
bool ScanFile(const std::string& path, std::string& verdict);

/// The same with the sources given: engine may be null or inactive.
bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine,
              bool heuristicEnabled);

}  // namespace korbu
