#pragma once
// The system's one engine component and the start-up steps that make it ready:
// create it, report the library, decide the database folder, check and load the
// databases, and read the database headers for the information labels.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/ClamAV.h"

namespace korbu {

/// The engine component, made by CreateVirusEngine; null before.
extern std::unique_ptr<TClamAV> VirusEngine;

/// The two databases the start-up checks; each is a "<name>.cvd" or, as freshclam
/// keeps it, a "<name>.cld" (the same header over an uncompressed body).
inline constexpr char kMainDatabaseName[] = "main";
inline constexpr char kDailyDatabaseName[] = "daily";
/// The option word of a new engine; the scan driver sets its own before a scan.
inline constexpr std::uint16_t kInitialScanOptions = 1023;

/// Creates VirusEngine ("ClamAV", default limits, option word 1023, inactive),
/// binding the engine library. A second call replaces the engine made before.
void CreateVirusEngine();

/// Keeps VirusEngine inactive and tells whether the engine library was bound.
/// False when there is no VirusEngine.
bool EngineLibraryAvailable();

/// Sets the database folder that every later step uses (the command line's
/// --database DIR). An empty folder restores the default choice.
void SetDatabaseFolder(const std::string& folder);

/// The database folder, ending in a separator, decided at the first call after
/// start or SetDatabaseFolder: the one set with SetDatabaseFolder;
/// otherwise the executable's folder when it holds a main database, else the
/// system's ClamAV database folder (when there is one).
std::string DatabaseFolder();

/// The choice DatabaseFolder makes, given its inputs (each may be empty).
std::string ChooseDatabaseFolder(const std::string& chosen, const std::string& executableFolder,
                                 const std::string& systemFolder);

/// The file of one database in a folder (ending in a separator): its ".cvd" or
/// ".cld", the one with the higher header version when both are there (the
/// ".cld" on a tie, as freshclam's is the newer form); empty when neither exists.
std::string DatabaseFile(const std::string& folder, const char* name);

/// Checks that both databases are in the database folder and verify, then
/// activates VirusEngine on that folder. True only when the engine became active.
bool LoadVirusDatabase();

/// Why the last LoadVirusDatabase did not load the engine, naming the folder it
/// tried: no engine library (and where it was looked for), a missing database,
/// one that failed verification, or the engine's load error. Empty after a load.
std::string DatabaseProblem();

/// Signatures loaded by VirusEngine; 0 when none were (or there is no engine).
std::uint32_t GetSignatureCount();

/// The versions of the main and daily databases in the database folder; empty for
/// a file that is missing or has no readable header.
void GetDatabaseVersions(std::string& mainVersion, std::string& dailyVersion);

/// The build dates ("22 Jun 2021") of the two databases, empty in the same cases.
void GetDatabaseDates(std::string& mainDate, std::string& dailyDate);

/// Everything the front ends show about the engine.
struct EngineInfo {
  bool libraryLoaded = false;   // "DLL loaded." / "DLL NOT loaded."
  bool databaseLoaded = false;  // "Database loaded." / "Database NOT loaded."
  bool active = false;
  std::uint32_t signatureCount = 0;  // loaded by the engine, without the own 16
  std::string databaseFolder;
  std::string mainVersion;
  std::string dailyVersion;
  std::string mainDate;
  std::string dailyDate;
  std::string problem;  // why the engine is not loaded; empty when it is
};

/// The engine's state now, with the result of the last LoadVirusDatabase.
EngineInfo GetEngineInfo();

}  // namespace korbu
