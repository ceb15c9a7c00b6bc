#include "rescue/RealHives.h"

#include <filesystem>
#include <fstream>

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

std::string FileBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

bool PlaceRealHive(const std::string& name, const std::string& folder, const std::string& as) {
  auto bytes = RealHive(name);
  if (!bytes) return false;
  WriteFileBytes(folder + "/" + as, *bytes);
  return true;
}

}  // namespace korbu::test
