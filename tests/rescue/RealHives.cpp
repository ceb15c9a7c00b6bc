#include "rescue/RealHives.h"

#include <filesystem>

#include "support/CommandRun.h"
#include "support/TempTree.h"

namespace korbu::test {

std::optional<std::string> RealHive(const std::string& name) {
  const std::string shared = SharedDir();
  if (shared.empty()) return std::nullopt;
  const std::string path = shared + "/test-hives/" + name + ".xz";
  if (!std::filesystem::exists(path)) return std::nullopt;
  CommandRun run = FinishCommand(::popen(("xz -dc -- " + ShellQuote(path) + " 2>/dev/null").c_str(), "r"));
  if (run.status != 0 || run.output.empty()) return std::nullopt;
  return run.output;
}

bool PlaceRealHive(const std::string& name, const std::string& folder, const std::string& as) {
  auto bytes = RealHive(name);
  if (!bytes) return false;
  WriteFileBytes(folder + "/" + as, *bytes);
  return true;
}

}  // namespace korbu::test
