// engine-scan-driver --database DIR [--archive] PATH...
// Starts the engine as the program does and scans every regular file below the
// paths with it, printing "path: name FOUND" per detection and a final count.

#include <cstdio>
#include <memory>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/EngineStartup.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::string database;
  bool archive = false;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--database" && i + 1 < argc) {
      database = argv[++i];
    } else if (arg == "--archive") {
      archive = true;
    } else {
      paths.push_back(arg);
    }
  }
  if (database.empty() || paths.empty()) {
    std::fputs("usage: engine-scan-driver --database DIR [--archive] PATH...\n", stderr);
    return 2;
  }
  const std::unique_ptr<korbu::EngineStartup> startup = korbu::MakeEngineStartup(database);
  const korbu::EngineInfo info = korbu::StartEngine(*startup);
  if (!info.active) {
    std::fprintf(stderr, "engine not loaded: %s\n", info.loaded.Reason().c_str());
    return 2;
  }
  korbu::TClamAV& engine = *startup->Engine();
  engine.SetScanOptions(archive ? 879 : 878);
  unsigned long files = 0, found = 0;
  auto scan = [&](const fs::path& file) {
    ++files;
    std::string name = engine.Scan(file.string());
    if (!name.empty()) {
      ++found;
      std::printf("%s: %s FOUND\n", file.c_str(), name.c_str());
    }
  };
  for (const std::string& path : paths) {
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(path, ec))) {
      scan(path);
      continue;
    }
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_regular_file(ec) && !it->is_symlink(ec)) scan(it->path());
    }
  }
  std::printf("Scanned files: %lu\nInfected files: %lu\n", files, found);
  return found > 0 ? 1 : 0;
}
