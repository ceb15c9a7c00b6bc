#include "platform/Console.h"

#include <io.h>

#include <cstdio>

namespace korbu::platform {

bool StderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

bool StdinIsTerminal() { return ::_isatty(::_fileno(stdin)) != 0; }

}  // namespace korbu::platform
