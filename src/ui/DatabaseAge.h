#pragma once
// A word about the databases' age beside their dates, in korbu-scan's words.

#include <chrono>
#include <string>

namespace korbu {

/// The tip of the database date labels: korbu-scan's warning of databases older
/// than a week, or of dates that name no day; empty for recent databases and
/// where no date is shown at all (no databases loaded, which the signature
/// count's tip explains).
std::string DatabaseAgeTip(const std::string& mainDate, const std::string& dailyDate, std::chrono::sys_days today);

}  // namespace korbu
