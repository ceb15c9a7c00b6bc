#pragma once
// Folders handed to the user "nobody" with a few of root's files in them, so that
// a program run as "nobody" meets real refusals (POSIX, tests run as root).

#include <string>

namespace korbu::test {

inline constexpr unsigned kNobodyId = 65534;

/// The folder and everything below it becomes nobody's (links themselves, never
/// what they point to); false when a change is refused.
bool GiveToNobody(const std::string& root);

/// The file or folder becomes root's with those permission bits; false when refused.
bool KeepForRoot(const std::string& path, unsigned mode);

/// The shell words that run a command as "nobody" (setpriv), or empty when it
/// is not there to run it.
std::string AsNobodyPrefix();

}  // namespace korbu::test
