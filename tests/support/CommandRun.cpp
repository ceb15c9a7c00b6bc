#include "support/CommandRun.h"

// The tests that run shell command lines run on POSIX only.
#ifndef _WIN32

#include <sys/wait.h>

namespace korbu::test {

CommandRun FinishCommand(FILE* pipe) {
  CommandRun run;
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

CommandRun RunCommand(const std::string& command) { return FinishCommand(::popen((command + " 2>&1").c_str(), "r")); }

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace korbu::test

#endif
