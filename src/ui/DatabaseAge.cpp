#include "ui/DatabaseAge.h"

#include "cli/EngineWarnings.h"
#include "engine/VirusClamAV.h"

namespace korbu {

std::string DatabaseAgeTip(const std::string& mainDate, const std::string& dailyDate, std::chrono::sys_days today) {
  if (mainDate.empty() && dailyDate.empty()) return std::string();
  EngineInfo engine;
  engine.active = true;  // only the dates are judged here
  engine.mainDate = mainDate;
  engine.dailyDate = dailyDate;
  const std::vector<std::string> warnings = cli::EngineWarnings(engine, true, today);
  return warnings.empty() ? std::string() : warnings.front();
}

}  // namespace korbu
