#pragma once
// What the summary warns of about the signature engine: a scan by the own
// detection alone, or by databases too old to know today's threats.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/VirusClamAV.h"

namespace korbu::cli {

/// Databases older than this by their own dates are warned of.
inline constexpr int kOldDatabaseDays = 7;

/// The day a database header's date ("22 Jun 2021") names; empty for any other text.
std::optional<std::chrono::sys_days> DatabaseDay(const std::string& date);

/// The summary's warnings, each one line without its end: none when the engine
/// is active with databases of the last week, or when the user turned it off.
std::vector<std::string> EngineWarnings(const EngineInfo& engine, bool engineWanted, std::chrono::sys_days today);

}  // namespace korbu::cli
