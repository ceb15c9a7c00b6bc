#pragma once
// korbu-guard: the on-access guard's program.

#include <string>
#include <vector>

namespace korbu::guard {

/// Runs the guard with the command line's arguments (without the program's
/// name) until SIGTERM or SIGINT; returns the exit status.
int RunGuard(const std::vector<std::string>& args);

}  // namespace korbu::guard
