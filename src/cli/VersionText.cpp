#include "cli/VersionText.h"

#include "cli/DisplayText.h"
#include "engine/ClamAV.h"
#include "engine/EngineStartup.h"

namespace korbu::cli {
namespace {

std::string DatabaseText(const char* name, const std::string& version, const std::string& date) {
  if (version.empty()) return std::string(name) + " missing";
  return std::string(name) + " " + version + (date.empty() ? std::string() : " (" + date + ")");
}

}  // namespace

std::string VersionText(const std::vector<std::string>& databases) {
  std::string text = std::string("korbu-scan ") + KORBU_BUILD_NAME + "\n";
  const std::unique_ptr<EngineStartup> startup = MakeEngineStartupWith(databases, std::string());
  const EngineInfo engine = StartEngine(*startup, false);
  const std::string library = startup->Engine() != nullptr ? startup->Engine()->LibraryVersion() : std::string();
  text += "Engine: " + (library.empty() ? std::string("not loaded") : "libclamav " + ReadableFileName(library)) + "\n";
  text += "Databases: " + ReadableFileName(DatabaseText("main", engine.mainVersion, engine.mainDate) + ", " +
                                           DatabaseText("daily", engine.dailyVersion, engine.dailyDate) + " in " +
                                           engine.databaseFolder) +
          "\n";
  return text;
}

}  // namespace korbu::cli
