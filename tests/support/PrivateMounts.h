#pragma once
// Scripts run in a mount namespace of their own: whatever they mount (a
// read-only bind mount, an NTFS image through ntfs-3g) vanishes with them, even
// when a test fails half-way, and nothing else on the machine sees it.

#include <optional>
#include <string>

#include "support/CommandRun.h"

namespace korbu::test {

using ScriptRun = CommandRun;

/// Why scripts cannot mount here (not root, no mount namespaces); empty when they can.
std::string PrivateMountsUnavailable();

/// Why no NTFS image can be made and mounted here (the above, or no mkntfs,
/// ntfs-3g or /dev/fuse); empty when one can.
std::string NtfsUnavailable();

/// Runs the script with sh -eu in a mount namespace of its own.
ScriptRun RunWithPrivateMounts(const std::string& script);

}  // namespace korbu::test
