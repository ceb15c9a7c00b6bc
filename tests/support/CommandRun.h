#pragma once
// Shell command lines run by tests, their output collected (POSIX).

#include <cstdio>
#include <string>

namespace korbu::test {

struct CommandRun {
  int status = -1;     // the exit status; -1 when it did not exit by itself
  std::string output;  // what it wrote, standard error included where asked
};

/// Reads a popen'ed command to its end and closes it; a null pipe is a failed run.
CommandRun FinishCommand(FILE* pipe);

/// Runs a shell command line, its standard output and error collected.
CommandRun RunCommand(const std::string& command);

/// The text quoted for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace korbu::test
