#pragma once
// What start-up asks of the signature engine, in the order it asks. Every front
// end starts the engine through it (the window, korbu-scan, the benchmarks); the
// programs use the engine set-up of VirusClamAV.h, tests stand in their own.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/ClamAV.h"
#include "engine/VirusClamAV.h"

namespace korbu {

class ClamdScanner;

class EngineStartup {
 public:
  virtual ~EngineStartup() = default;

  /// Creates the one engine component, inactive.
  virtual void CreateEngine() = 0;
  /// Ok when the engine library and all its entries were loaded, else why not.
  virtual Status LibraryAvailable() = 0;
  /// Ok when the databases were found, verified and loaded into an active
  /// engine; else why the engine is not loaded (the folder tried and the reason).
  virtual Status LoadDatabase() = 0;

  /// Signatures the engine loaded, without the own variant table.
  virtual std::uint32_t SignatureCount() = 0;
  /// (main, daily), each empty when that database is missing.
  virtual std::pair<std::string, std::string> DatabaseVersions() = 0;
  virtual std::pair<std::string, std::string> DatabaseDates() = 0;

  /// The engine the steps made, for the scans to use; null before CreateEngine and
  /// for a start-up without a real engine. It lives as long as the process.
  virtual TClamAV* Engine() { return nullptr; }
  /// The clamd that judges in place of the engine, for a start-up that uses one;
  /// null otherwise. Made by CreateEngine; it lives as long as the start-up.
  virtual ClamdScanner* RemoteEngine() { return nullptr; }
  /// The engine's version where it is not the program's own (clamd's, and where
  /// it listens); empty for the program's own engine.
  virtual std::string EngineVersion() { return {}; }
};

/// The start-up steps over the program's engine set-up. databaseFolder is the
/// user's choice (--database), tempFolder that of the engine's temporary files
/// (--tempdir); each empty for the default. The temporary folder is that of
/// platform::TemporaryFolder: one that fails its checks keeps the engine off.
std::unique_ptr<EngineStartup> MakeEngineStartup(std::string databaseFolder = {}, std::string tempFolder = {});
/// The same over the databases korbu-scan was given (-d, each a folder or one
/// database file; see SetDatabasePaths); none for the default choice.
std::unique_ptr<EngineStartup> MakeEngineStartupWith(std::vector<std::string> databases, std::string tempFolder);

/// The start-up steps over a running clamd at address (a socket path, or
/// HOST:PORT; see ClamdAddress.h): the library step asks for its version, the
/// database step succeeds when it tells a database version.
std::unique_ptr<EngineStartup> MakeClamdStartup(const std::string& address);

/// The environment variable that makes the window judge through a clamd.
inline constexpr char kClamdVariable[] = "KORBU_CLAMD";

/// The window's start-up: over the clamd that kClamdVariable names, when it is
/// set and not empty, else over the program's own engine set-up.
std::unique_ptr<EngineStartup> MakeWindowEngineStartup();

/// Runs the three steps (create, library, databases) and gathers what the front
/// ends show of the engine, the database step's Status among it. Without
/// loadDatabases the last step is left out and the engine stays inactive.
/// Exceptions of the steps reach the caller.
EngineInfo StartEngine(EngineStartup& startup, bool loadDatabases = true);

}  // namespace korbu
