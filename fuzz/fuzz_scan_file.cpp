// The verdict on a file of arbitrary bytes, with the engine inactive.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "scan/FileVerdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string& path = korbu::fuzz::WriteScratchFile(bytes);
  std::string verdict = "stale";
  bool infected = korbu::ScanFile(path, verdict, nullptr, true);
  korbu::fuzz::Check(infected == !verdict.empty(), "a virus has a name, a clean file none");
  verdict = "stale";
  infected = korbu::ScanFile(path, verdict, nullptr, false);
  korbu::fuzz::Check(infected == !verdict.empty(), "verdict rewritten without the heuristic");
  return 0;
}
