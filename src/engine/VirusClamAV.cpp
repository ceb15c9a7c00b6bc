#include "engine/VirusClamAV.h"

#include <cstdlib>
#include <optional>
#include <utility>

#include "engine/CvdHeader.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace korbu {

std::unique_ptr<TClamAV> VirusEngine;

namespace {

// ClamAV's own database folder: Debian's, or that of the Windows installation
// whose libclamav the engine library uses.
std::string SystemDatabaseFolder() {
#ifdef _WIN32
  const EngineEntries& entries = EngineLibrary();
  const char* folder = entries.clamavFolder != nullptr ? entries.clamavFolder() : nullptr;
  return folder != nullptr && *folder != '\0' ? std::string(folder) + "\\database" : std::string();
#else
  return "/var/lib/clamav";
#endif
}

// A database file's name without its folder and its suffix ("main" of main.cvd).
std::string DatabaseStem(const std::string& path) {
  const std::string name = platform::ExtractFileName(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool IsSignedContainer(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::string suffix = dot == std::string::npos ? std::string() : path.substr(dot);
  return suffix == ".cvd" || suffix == ".cld";
}

// Never a bare name: without a folder nothing is looked up (not in the current one).
CvdHeaderInfo HeaderOf(TClamAV& engine, const char* name) {
  // Of the paths given, the first that is or holds that database.
  for (const std::string& path : engine.Databases().chosenPaths) {
    if (platform::DirectoryExists(path)) {
      const std::string file = DatabaseFile(platform::IncludeTrailingDelimiter(path), name);
      if (!file.empty()) return ReadCvdHeader(file);
    } else if (IsSignedContainer(path) && DatabaseStem(path) == name) {
      return ReadCvdHeader(path);
    }
  }
  std::string folder = DatabaseFolder(engine);
  if (folder.empty()) return {};
  std::string path = DatabaseFile(folder, name);
  return path.empty() ? CvdHeaderInfo{} : ReadCvdHeader(path);
}

// The headers of the main and the daily database.
std::pair<CvdHeaderInfo, CvdHeaderInfo> HeadersOf(TClamAV& engine) {
  return {HeaderOf(engine, kMainDatabaseName), HeaderOf(engine, kDailyDatabaseName)};
}

unsigned long VersionNumber(const std::string& path) {
  return std::strtoul(ReadCvdHeader(path).version.c_str(), nullptr, 10);
}

// The reason of a failed load, or empty after a successful one.
std::string LoadProblem(TClamAV& engine, const std::string& folder) {
  std::string where = "database folder \"" + folder + "\": ";
  if (folder.empty()) return "no database folder (none given, none beside the program, no system one)";
  if (!engine.LibraryLoaded()) return where + "no engine library: " + EngineLibraryProblem();
  // Both must be there before either is verified.
  const char* const names[] = {kMainDatabaseName, kDailyDatabaseName};
  std::string files[2];
  for (int i = 0; i < 2; ++i) {
    files[i] = DatabaseFile(folder, names[i]);
    if (files[i].empty()) return where + names[i] + ".cvd or " + names[i] + ".cld is missing";
  }
  for (const std::string& path : files) {
    if (!engine.VerifyDatabase(path)) {
      return where + platform::ExtractFileName(path) + " failed verification";
    }
  }
  engine.SetActive(true);
  if (engine.Active()) return {};
  return where + "the engine did not load it: " + engine.LoadError();
}

// The same for the paths the command line named: each must be there, each
// signed container must verify, and each must load.
std::string LoadPathsProblem(TClamAV& engine, const std::vector<std::string>& paths) {
  if (!engine.LibraryLoaded()) return "no engine library: " + EngineLibraryProblem();
  for (const std::string& path : paths) {
    if (!platform::DirectoryExists(path) && !platform::FileExists(path)) {
      return "database \"" + path + "\": no such file or folder";
    }
    if (!platform::DirectoryExists(path) && IsSignedContainer(path) && !engine.VerifyDatabase(path)) {
      return "database \"" + path + "\" failed verification";
    }
  }
  engine.SetDBPaths(paths);
  engine.SetActive(true);
  if (engine.Active()) return {};
  return engine.LoadError();
}

}  // namespace

void CreateVirusEngine() {
  VirusEngine = std::make_unique<TClamAV>();
  VirusEngine->SetName("ClamAV");
  VirusEngine->SetActive(false);
  VirusEngine->Limits() = EngineLimits{};
  VirusEngine->SetScanOptions(kInitialScanOptions);
}

Status EngineLibraryAvailable() {
  if (!VirusEngine) return Failure("not set up yet");
  VirusEngine->SetActive(false);
  if (!VirusEngine->LibraryLoaded()) return Failure("no engine library: " + EngineLibraryProblem());
  return Ok();
}

Status LoadVirusDatabase() { return VirusEngine ? LoadDatabases(*VirusEngine) : Failure("not set up yet"); }

std::uint32_t GetSignatureCount() { return VirusEngine ? VirusEngine->SignatureCount() : 0; }

void GetDatabaseVersions(std::string& mainVersion, std::string& dailyVersion) {
  const auto [mainHeader, dailyHeader] = VirusEngine ? HeadersOf(*VirusEngine) : std::pair<CvdHeaderInfo, CvdHeaderInfo>{};
  mainVersion = mainHeader.version;
  dailyVersion = dailyHeader.version;
}

void GetDatabaseDates(std::string& mainDate, std::string& dailyDate) {
  const auto [mainHeader, dailyHeader] = VirusEngine ? HeadersOf(*VirusEngine) : std::pair<CvdHeaderInfo, CvdHeaderInfo>{};
  mainDate = mainHeader.date;
  dailyDate = dailyHeader.date;
}

void SetDatabaseFolder(TClamAV& engine, const std::string& folder) {
  engine.Databases().chosenFolder = folder;
  engine.Databases().chosenPaths.clear();
  engine.Databases().decidedFolder.reset();
}

std::string DatabasesShown(TClamAV& engine) {
  std::string shown = DatabaseFolder(engine);
  for (const std::string& path : engine.Databases().chosenPaths) shown += (shown.empty() ? "" : ", ") + path;
  return shown;
}

void SetDatabasePaths(TClamAV& engine, const std::vector<std::string>& paths) {
  if (paths.size() == 1 && platform::DirectoryExists(paths.front())) {
    SetDatabaseFolder(engine, paths.front());
    return;
  }
  SetDatabaseFolder(engine, std::string());
  engine.Databases().chosenPaths = paths;
  engine.Databases().decidedFolder = std::string();
}

std::string ChooseDatabaseFolder(const std::string& chosen, const std::string& executableFolder,
                                 const std::string& systemFolder) {
  if (!chosen.empty()) return platform::IncludeTrailingDelimiter(chosen);
  std::string beside = platform::IncludeTrailingDelimiter(executableFolder);
  if (!beside.empty() && (systemFolder.empty() || !DatabaseFile(beside, kMainDatabaseName).empty())) {
    return beside;
  }
  return platform::IncludeTrailingDelimiter(systemFolder);
}

std::string DatabaseFolder(TClamAV& engine) {
  // Decided once, so that a database appearing later cannot split the steps.
  std::optional<std::string>& decided = engine.Databases().decidedFolder;
  if (!decided) {
    decided = ChooseDatabaseFolder(engine.Databases().chosenFolder,
                                   platform::ExtractFilePath(platform::ExecutablePath()), SystemDatabaseFolder());
  }
  return *decided;
}

std::string DatabaseFile(const std::string& folder, const char* name) {
  std::string cvd = folder + name + ".cvd";
  std::string cld = folder + name + ".cld";
  bool haveCvd = platform::FileExists(cvd);
  bool haveCld = platform::FileExists(cld);
  if (haveCvd && haveCld) return VersionNumber(cvd) > VersionNumber(cld) ? cvd : cld;
  if (haveCld) return cld;
  return haveCvd ? cvd : std::string();
}

Status LoadDatabases(TClamAV& engine) {
  TClamAV::DatabaseSetup& setup = engine.Databases();
  std::string problem;
  // One folder for every step, so the answer speaks of what the engine loaded.
  if (!setup.chosenPaths.empty()) {
    problem = LoadPathsProblem(engine, setup.chosenPaths);
  } else {
    std::string folder = DatabaseFolder(engine);
    if (!folder.empty()) engine.SetDBDir(folder);
    problem = LoadProblem(engine, folder);
  }
  setup.loaded = problem.empty() ? Ok() : Status(Failure(std::move(problem)));
  return setup.loaded;
}

std::string DatabaseProblem(const TClamAV& engine) { return engine.Databases().loaded.Reason(); }

EngineInfo GetEngineInfo(TClamAV& engine) {
  EngineInfo info;
  const TClamAV::DatabaseSetup& setup = engine.Databases();
  info.libraryLoaded = engine.LibraryLoaded();
  info.loaded = setup.loaded;
  info.active = engine.Active();
  info.signatureCount = engine.SignatureCount();
  info.databaseFolder = DatabasesShown(engine);
  const auto [mainHeader, dailyHeader] = HeadersOf(engine);
  info.mainVersion = mainHeader.version;
  info.dailyVersion = dailyHeader.version;
  info.mainDate = mainHeader.date;
  info.dailyDate = dailyHeader.date;
  return info;
}

}  // namespace korbu
