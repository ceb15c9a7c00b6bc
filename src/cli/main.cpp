#include "cli/CliScan.h"
#include "cli/StopSignal.h"
#include "platform/Console.h"

#ifndef _WIN32
#include <signal.h>

namespace {
// A closed pipe (korbu-scan ... | head) makes the write fail, and the program
// ends with status 2 as for any output it could not write, rather than die by
// SIGPIPE. Caught rather than ignored: programs started later get the default back.
void OnBrokenPipe(int) {}
}  // namespace
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
  struct sigaction brokenPipe {};
  brokenPipe.sa_handler = OnBrokenPipe;
  sigemptyset(&brokenPipe.sa_mask);
  brokenPipe.sa_flags = SA_RESTART;
  ::sigaction(SIGPIPE, &brokenPipe, nullptr);
#endif
  korbu::platform::UseConsoleText();
  const int status = korbu::cli::RunCli(korbu::platform::ProgramArguments(argc, argv));
  // The report is complete by now: a stopped scan ends by its signal.
  korbu::cli::EndIfStopped();
  return status;
}
