#include "engine/VirusClamAV.h"

#include <optional>

#include "engine/CvdHeader.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace korbu {

std::unique_ptr<TClamAV> VirusEngine;

namespace {

#ifdef _WIN32
constexpr char kSystemDatabaseFolder[] = "";
#else
constexpr char kSystemDatabaseFolder[] = "/var/lib/clamav";
#endif

std::string chosenFolder;
std::optional<std::string> decidedFolder;
bool databaseLoaded = false;

// Never a bare name: without a folder nothing is looked up (not in the current one).
CvdHeaderInfo HeaderOf(const char* name) {
  std::string folder = DatabaseFolder();
  if (folder.empty()) return {};
  return ReadCvdHeader(folder + name);
}

}  // namespace

void CreateVirusEngine() {
  VirusEngine = std::make_unique<TClamAV>();
  VirusEngine->SetName("ClamAV");
  VirusEngine->SetActive(false);
  VirusEngine->Limits() = EngineLimits{};
  VirusEngine->SetScanOptions(kInitialScanOptions);
  databaseLoaded = false;
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
  if (!beside.empty() && (systemFolder.empty() || platform::FileExists(beside + kMainDatabaseName))) {
    return beside;
  }
  return platform::IncludeTrailingDelimiter(systemFolder);
}

std::string DatabaseFolder() {
  // Decided once, so that a database appearing later cannot split the steps.
  if (!decidedFolder) {
    decidedFolder = ChooseDatabaseFolder(
        chosenFolder, platform::ExtractFilePath(platform::ExecutablePath()), kSystemDatabaseFolder);
  }
  return *decidedFolder;
}

bool LoadVirusDatabase() {
  databaseLoaded = false;
  if (!VirusEngine) return false;
  // One folder for every step, so the answer speaks of what the engine loaded.
  std::string folder = DatabaseFolder();
  if (folder.empty()) return false;
  VirusEngine->SetDBDir(folder);
  std::string mainPath = folder + kMainDatabaseName;
  std::string dailyPath = folder + kDailyDatabaseName;
  if (!platform::FileExists(mainPath) || !platform::FileExists(dailyPath)) return false;
  if (!VirusEngine->VerifyDatabase(mainPath) || !VirusEngine->VerifyDatabase(dailyPath)) return false;
  VirusEngine->SetActive(true);
  databaseLoaded = VirusEngine->Active();
  return databaseLoaded;
}

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
  return info;
}

}  // namespace korbu
