// Start-up's engine steps over the engine set-up of VirusClamAV.h.

#include "engine/EngineStartup.h"

#include <tuple>
#include <vector>

#include "platform/Heap.h"
#include "platform/TemporaryFolder.h"

namespace korbu {
namespace {

class ClamAVStartup final : public EngineStartup {
 public:
  ClamAVStartup(std::vector<std::string> databases, std::string tempFolder)
      : databases_(std::move(databases)), tempFolder_(std::move(tempFolder)) {}

  void CreateEngine() override {
    platform::KeepFreedMemoryForReuse();
    CreateVirusEngine();
    engine_ = VirusEngine.get();
    if (!databases_.empty()) SetDatabasePaths(*engine_, databases_);
    // Before the databases load, which may use it too. A folder that fails the
    // checks keeps the engine off rather than let it work where others reach;
    // without a choice the library takes the one checked by itself ($TMPDIR, else
    // /tmp).
    const Expected<std::string> folder = platform::TemporaryFolder(tempFolder_);
    if (!folder) {
      refused_ = folder.error().reason;
    } else if (!tempFolder_.empty()) {
      engine_->SetTempFolder(*folder);
    }
  }
  Status LibraryAvailable() override { return EngineLibraryAvailable(); }
  Status LoadDatabase() override {
    if (!refused_.empty()) return Failure(refused_);
    return LoadVirusDatabase();
  }
  std::uint32_t SignatureCount() override { return GetSignatureCount(); }
  std::pair<std::string, std::string> DatabaseVersions() override {
    std::pair<std::string, std::string> versions;
    GetDatabaseVersions(versions.first, versions.second);
    return versions;
  }
  std::pair<std::string, std::string> DatabaseDates() override {
    std::pair<std::string, std::string> dates;
    GetDatabaseDates(dates.first, dates.second);
    return dates;
  }
  TClamAV* Engine() override { return engine_; }

 private:
  std::vector<std::string> databases_;
  std::string tempFolder_;
  std::string refused_;  // why the temporary folder was refused
  TClamAV* engine_ = nullptr;
};

}  // namespace

std::unique_ptr<EngineStartup> MakeEngineStartup(std::string databaseFolder, std::string tempFolder) {
  std::vector<std::string> databases;
  if (!databaseFolder.empty()) databases.push_back(std::move(databaseFolder));
  return std::make_unique<ClamAVStartup>(std::move(databases), std::move(tempFolder));
}

std::unique_ptr<EngineStartup> MakeEngineStartupWith(std::vector<std::string> databases, std::string tempFolder) {
  return std::make_unique<ClamAVStartup>(std::move(databases), std::move(tempFolder));
}

EngineInfo StartEngine(EngineStartup& startup, bool loadDatabases) {
  EngineInfo info;
  startup.CreateEngine();
  info.libraryLoaded = startup.LibraryAvailable().has_value();
  info.loaded = loadDatabases ? startup.LoadDatabase() : Failure("the databases were not loaded, as asked");
  TClamAV* engine = startup.Engine();
  info.active = (engine != nullptr && engine->Active()) || (startup.RemoteEngine() != nullptr && info.loaded);
  info.signatureCount = startup.SignatureCount();
  std::tie(info.mainVersion, info.dailyVersion) = startup.DatabaseVersions();
  std::tie(info.mainDate, info.dailyDate) = startup.DatabaseDates();
  if (engine != nullptr) info.databaseFolder = DatabasesShown(*engine);
  info.engineVersion = startup.EngineVersion();
  return info;
}

}  // namespace korbu
