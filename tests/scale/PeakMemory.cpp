#include "PeakMemory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace korbu::test {

std::int64_t PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    std::int64_t kib = -1;
    fields >> kib;
    return kib;
  }
  return -1;
}

bool ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

}  // namespace korbu::test
