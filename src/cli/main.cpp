#include <string>
#include <vector>

#include "cli/CliScan.h"
#include "cli/StopSignal.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = korbu::cli::RunCli(args);
  // The report is complete by now: a stopped scan ends by its signal.
  korbu::cli::EndIfStopped();
  return status;
}
