#include "cli/CliScan.h"

#include <iostream>

#include "cli/CommandLine.h"

namespace korbu::cli {

int RunCli(const std::vector<std::string>& args) {
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.error.empty()) {
    std::cerr << "korbu-scan: " << parsed.error << "\n";
    return 2;
  }
  if (parsed.options.help) {
    std::cout << UsageText();
    return 0;
  }
  if (parsed.options.version) {
    std::cout << "korbu-scan " << KORBU_BUILD_NAME << "\n";
    return 0;
  }
  std::cerr << "korbu-scan: scanning is not available in this build yet\n";
  return 2;
}

}  // namespace korbu::cli
