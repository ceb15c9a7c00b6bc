// Start-up's engine steps over the engine set-up of src/engine.

#include "ui/EngineStartup.h"
#include "engine/VirusClamAV.h"

namespace korbu {
namespace {

class ClamAVStartup final : public EngineStartup {
 public:
  void CreateEngine() override { CreateVirusEngine(); }
  bool LibraryAvailable() override { return EngineLibraryAvailable(); }
  bool LoadDatabase() override { return LoadVirusDatabase(); }
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
  std::string NotLoadedReason() override { return GetEngineInfo().problem; }
};

}  // namespace

std::unique_ptr<EngineStartup> MakeEngineStartup() { return std::make_unique<ClamAVStartup>(); }

}  // namespace korbu
