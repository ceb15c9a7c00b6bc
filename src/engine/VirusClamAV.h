#pragma once
// The system's one engine component and the start-up steps that make it ready:
// create it, report the library, decide the database folder, check and load the
// databases, and read the database headers for the information labels.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ClamAV.h"

namespace korbu {

/// The engine component, made by CreateVirusEngine; null before. Only the
/// start-up functions below read it; everything else is handed the engine.
extern std::unique_ptr<TClamAV> VirusEngine;

/// The two databases the start-up checks; each is a "<name>.cvd" or, as freshclam
/// keeps it, a "<name>.cld" (the same header over an uncompressed body).
inline constexpr char kMainDatabaseName[] = "main";
inline constexpr char kDailyDatabaseName[] = "daily";
/// The option word of a new engine; the scan driver sets its own before a scan.
inline constexpr std::uint16_t kInitialScanOptions = 1023;

// ---- The start-up functions, over VirusEngine ----

/// Creates VirusEngine ("ClamAV", default limits, option word 1023, inactive),
/// binding the engine library. A second call replaces the engine made before.
void CreateVirusEngine();

/// Keeps VirusEngine inactive; Ok when the engine library was bound, else why
/// not (also when there is no VirusEngine).
Status EngineLibraryAvailable();

/// LoadDatabases of VirusEngine; a failure when there is none.
Status LoadVirusDatabase();

/// Signatures loaded by VirusEngine; 0 when none were (or there is no engine).
std::uint32_t GetSignatureCount();

/// The versions of the main and daily databases in VirusEngine's database folder;
/// empty for a file that is missing or has no readable header, or without engine.
void GetDatabaseVersions(std::string& mainVersion, std::string& dailyVersion);

/// The build dates ("22 Jun 2021") of the two databases, empty in the same cases.
void GetDatabaseDates(std::string& mainDate, std::string& dailyDate);

// ---- The same steps for a given engine ----

/// Sets the database folder that every later step on engine uses (the command
/// line's --database DIR). An empty folder restores the default choice.
void SetDatabaseFolder(TClamAV& engine, const std::string& folder);
/// The databases the command line named, each a folder or one database file:
/// one folder is SetDatabaseFolder; anything else is loaded path by path, each
/// .cvd and .cld file verified first, and every path must load.
void SetDatabasePaths(TClamAV& engine, const std::vector<std::string>& paths);

/// The engine's database folder, ending in a separator (empty where paths were
/// set by SetDatabasePaths), decided at the first call
/// after its creation or SetDatabaseFolder: the one set with SetDatabaseFolder;
/// otherwise the executable's folder when it holds a main database, else the
/// system's ClamAV database folder (when there is one).
std::string DatabaseFolder(TClamAV& engine);

/// DatabaseFolder, or the paths SetDatabasePaths set, as shown to the user.
std::string DatabasesShown(TClamAV& engine);

/// The choice DatabaseFolder makes, given its inputs (each may be empty).
std::string ChooseDatabaseFolder(const std::string& chosen, const std::string& executableFolder,
                                 const std::string& systemFolder);

/// The file of one database in a folder (ending in a separator): its ".cvd" or
/// ".cld", the one with the higher header version when both are there (the
/// ".cld" on a tie, as freshclam's is the newer form); empty when neither exists.
std::string DatabaseFile(const std::string& folder, const char* name);

/// Checks that both databases are in the engine's database folder and verify,
/// then activates the engine on that folder. Ok only when it became active;
/// else why not, naming the folder it tried: no engine library (and where it
/// was looked for), a missing database, one that failed verification, or the
/// engine's load error.
Status LoadDatabases(TClamAV& engine);

/// The reason of the engine's last LoadDatabases; empty after a load.
std::string DatabaseProblem(const TClamAV& engine);

/// Everything the front ends show about the engine.
struct EngineInfo {
  bool libraryLoaded = false;  // "DLL loaded." / "DLL NOT loaded."
  /// Ok for "Database loaded."; else "Database NOT loaded." and why.
  Status loaded = Failure("not set up yet");
  bool active = false;
  std::uint32_t signatureCount = 0;  // loaded by the engine, without the own 16
  std::string databaseFolder;
  std::string mainVersion;
  std::string dailyVersion;
  std::string mainDate;
  std::string dailyDate;
  /// The version of an engine that is not the program's own (a clamd's, and
  /// where it listens); empty for the program's own.
  std::string engineVersion;
};

/// The engine's state now, with the result of its last LoadDatabases.
EngineInfo GetEngineInfo(TClamAV& engine);

}  // namespace korbu
