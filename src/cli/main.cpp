#include "cli/CliScan.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
  korbu::platform::UseConsoleText();
  return korbu::cli::RunCli(korbu::platform::ProgramArguments(argc, argv));
}
