#include "platform/Console.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace korbu::platform
