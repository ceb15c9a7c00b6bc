#pragma once
// The texts of the information labels on the options page, from the engine's
// figures. Plain functions, so the rules are checked without a window.

#include <string>

namespace korbu {

inline constexpr const char* kBuildText = "1.0.0 RC1";
inline constexpr const char* kEngineVersionText = "16";

/// The signatures the engine loaded plus the sixteen variants of our own table,
/// grouped by full stops: 999 gives "1.015 viruses", 0 gives "16 viruses".
std::string SignatureText(long long loadedSignatures);

/// "[Main: 6; Daily: 3]"; missing versions leave the brackets' pieces touching.
std::string VersionText(const std::string& mainVersion, const std::string& dailyVersion);

/// "[Main: <date>]" and "[Daily: <date>]".
std::string MainDateText(const std::string& mainDate);
std::string DailyDateText(const std::string& dailyDate);

}  // namespace korbu
