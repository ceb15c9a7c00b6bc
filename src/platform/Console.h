#pragma once

#include <string>
#include <vector>

namespace korbu::platform {

/// True when standard error is a terminal (progress is shown only then).
bool StderrIsTerminal();

/// True when standard input is a terminal (questions are asked only then).
bool StdinIsTerminal();

/// The program's arguments after its own name, as the program's texts (UTF-8 on
/// Windows, whatever the ANSI code page; the bytes given on POSIX).
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// Makes std::cout and std::cerr show every character of the program's UTF-8
/// texts: on Windows, a stream that is a console is written in UTF-16 through the
/// console itself, and a redirected one gets the UTF-8 bytes. Nothing to do on
/// POSIX. Call once, before anything is written.
void UseConsoleText();

}  // namespace korbu::platform
