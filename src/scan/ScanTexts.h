#pragma once
// Texts the front ends show, built once here so the window and the command line
// say the same thing.

#include <cstdint>
#include <string>

namespace korbu {

inline constexpr const char* kBuildText = "1.0.0 RC1";
inline constexpr const char* kEngineVersionText = "16";
inline constexpr const char* kScanningFilesText = "Scanning file(s)...";
inline constexpr const char* kScanStoppedText = "Scan stopped by user.";
inline constexpr const char* kScanningMemoryText = "Scanning local memory...";
inline constexpr const char* kScanningRegistryText = "Scanning local registry...";

/// "N file(s) and M Folder(s) scanned. Scan is finished..."
std::string SummaryLine(std::int32_t filesScanned, std::int32_t foldersScanned);

/// The signature label: the engine's count plus the sixteen own variant
/// signatures, grouped by threes with "." and followed by " viruses".
std::string SignatureLabel(std::uint32_t engineSignatures);

/// "[Main: M; Daily: D]"
std::string DatabaseVersionLabel(const std::string& mainVersion, const std::string& dailyVersion);

/// "[Main: date]" and "[Daily: date]"
std::string MainDateLabel(const std::string& mainDate);
std::string DailyDateLabel(const std::string& dailyDate);

}  // namespace korbu
