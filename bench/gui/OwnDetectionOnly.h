#pragma once
// The window's start-up without the signature engine, for the window benchmarks
// that measure only what the window does.

#include <cstdint>
#include <string>
#include <utility>

#include "engine/EngineStartup.h"

namespace korbu::bench {

class OwnDetectionOnly final : public EngineStartup {
 public:
  void CreateEngine() override {}
  Status LibraryAvailable() override { return Failure("the own detection alone"); }
  Status LoadDatabase() override { return Failure("the own detection alone"); }
  std::uint32_t SignatureCount() override { return 0; }
  std::pair<std::string, std::string> DatabaseVersions() override { return {}; }
  std::pair<std::string, std::string> DatabaseDates() override { return {}; }
};

}  // namespace korbu::bench
