#include "cli/CliScan.h"
#include "cli/StopSignal.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
  korbu::platform::UseConsoleText();
  const int status = korbu::cli::RunCli(korbu::platform::ProgramArguments(argc, argv));
  // The report is complete by now: a stopped scan ends by its signal.
  korbu::cli::EndIfStopped();
  return status;
}
