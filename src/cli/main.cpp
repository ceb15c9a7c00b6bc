#include <string>
#include <vector>

#include "cli/CliScan.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return korbu::cli::RunCli(args);
}
