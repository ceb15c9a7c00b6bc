#pragma once
// Scripts run in a mount namespace of their own: whatever they mount (a
// read-only bind mount, an NTFS image through ntfs-3g) vanishes with them, even
// when a test fails half-way, and nothing else on the machine sees it.

#include <optional>
#include <string>

namespace korbu::test {

struct ScriptRun {
  int status = -1;     // the script's exit status
  std::string output;  // its standard output and error
};

/// Why scripts cannot mount here (not root, no mount namespaces); empty when they can.
std::string PrivateMountsUnavailable();

/// Why no NTFS image can be made and mounted here (the above, or no mkntfs,
/// ntfs-3g or /dev/fuse); empty when one can.
std::string NtfsUnavailable();

/// Runs a shell command line here, its output collected.
ScriptRun RunCommand(const std::string& command);

/// Runs the script with sh -eu in a mount namespace of its own.
ScriptRun RunWithPrivateMounts(const std::string& script);

/// The text quoted for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace korbu::test
