#pragma once

namespace korbu::platform {

/// True when standard error is a terminal (progress is shown only then).
bool StderrIsTerminal();

/// True when standard input is a terminal (questions are asked only then).
bool StdinIsTerminal();

}  // namespace korbu::platform
