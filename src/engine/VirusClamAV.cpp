#include "engine/VirusClamAV.h"

#include <cstdlib>
#include <optional>

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

std::string chosenFolder;
std::optional<std::string> decidedFolder;
bool databaseLoaded = false;
std::string databaseProblem;

// Never a bare name: without a folder nothing is looked up (not in the current one).
CvdHeaderInfo HeaderOf(const char* name) {
  std::string folder = DatabaseFolder();
  if (folder.empty()) return {};
  std::string path = DatabaseFile(folder, name);
  return path.empty() ? CvdHeaderInfo{} : ReadCvdHeader(path);
}

unsigned long VersionNumber(const std::string& path) {
  return std::strtoul(ReadCvdHeader(path).version.c_str(), nullptr, 10);
}

// The reason of a failed load, or empty after a successful one.
std::string LoadProblem(const std::string& folder) {
  std::string where = "database folder \"" + folder + "\": ";
  if (folder.empty()) return "no database folder (none given, none beside the program, no system one)";
  if (!VirusEngine->LibraryLoaded()) return where + "no engine library: " + EngineLibraryProblem();
  // Both must be there before either is verified.
  const char* const names[] = {kMainDatabaseName, kDailyDatabaseName};
  std::string files[2];
  for (int i = 0; i < 2; ++i) {
    files[i] = DatabaseFile(folder, names[i]);
    if (files[i].empty()) return where + names[i] + ".cvd or " + names[i] + ".cld is missing";
  }
  for (const std::string& path : files) {
    if (!VirusEngine->VerifyDatabase(path)) {
      return where + platform::ExtractFileName(path) + " failed verification";
    }
  }
  VirusEngine->SetActive(true);
  if (VirusEngine->Active()) return {};
  return where + "the engine did not load it: " + VirusEngine->LoadError();
}

}  // namespace

void CreateVirusEngine() {
  VirusEngine = std::make_unique<TClamAV>();
  VirusEngine->SetName("ClamAV");
  VirusEngine->SetActive(false);
  VirusEngine->Limits() = EngineLimits{};
  VirusEngine->SetScanOptions(kInitialScanOptions);
  databaseLoaded = false;
  databaseProblem.clear();
}

bool EngineLibraryAvailable() {
  if (!VirusEngine) return false;
  VirusEngine->SetActive(false);
  return VirusEngine->LibraryLoaded();
}

void SetDatabaseFolder(const std::string& folder) {
  chosenFolder = folder;
  decidedFolder.reset();
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

std::string DatabaseFolder() {
  // Decided once, so that a database appearing later cannot split the steps.
  if (!decidedFolder) {
    decidedFolder = ChooseDatabaseFolder(
        chosenFolder, platform::ExtractFilePath(platform::ExecutablePath()), SystemDatabaseFolder());
  }
  return *decidedFolder;
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

bool LoadVirusDatabase() {
  databaseLoaded = false;
  databaseProblem = "no engine component";
  if (!VirusEngine) return false;
  // One folder for every step, so the answer speaks of what the engine loaded.
  std::string folder = DatabaseFolder();
  if (!folder.empty()) VirusEngine->SetDBDir(folder);
  databaseProblem = LoadProblem(folder);
  databaseLoaded = databaseProblem.empty();
  return databaseLoaded;
}

std::string DatabaseProblem() { return databaseProblem; }

std::uint32_t GetSignatureCount() { return VirusEngine ? VirusEngine->SignatureCount() : 0; }

void GetDatabaseVersions(std::string& mainVersion, std::string& dailyVersion) {
  mainVersion = HeaderOf(kMainDatabaseName).version;
  dailyVersion = HeaderOf(kDailyDatabaseName).version;
}

void GetDatabaseDates(std::string& mainDate, std::string& dailyDate) {
  mainDate = HeaderOf(kMainDatabaseName).date;
  dailyDate = HeaderOf(kDailyDatabaseName).date;
}

EngineInfo GetEngineInfo() {
  EngineInfo info;
  info.libraryLoaded = VirusEngine && VirusEngine->LibraryLoaded();
  info.databaseLoaded = databaseLoaded;
  info.active = VirusEngine && VirusEngine->Active();
  info.signatureCount = GetSignatureCount();
  info.databaseFolder = DatabaseFolder();
  GetDatabaseVersions(info.mainVersion, info.dailyVersion);
  GetDatabaseDates(info.mainDate, info.dailyDate);
  if (!databaseLoaded) info.problem = databaseProblem.empty() ? "not set up yet" : databaseProblem;
  return info;
}

}  // namespace korbu
