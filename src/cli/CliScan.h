#pragma once
#include <string>
#include <vector>

namespace korbu::cli {

/// Runs korbu-scan with the arguments after the program name; returns the exit
/// status: 0 nothing detected, 1 something detected, 2 an error.
int RunCli(const std::vector<std::string>& args);

}  // namespace korbu::cli
