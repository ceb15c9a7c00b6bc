#include "platform/Console.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  if (argc < 1 || argv == nullptr) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

void UseConsoleText() {}

}  // namespace korbu::platform
