#pragma once
// Root reads any file whatever its permissions, so a check on an unreadable file
// runs in a child process that has given up root for the user "nobody".

#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <functional>
#include <optional>

namespace korbu::test {

#ifdef _WIN32
// Permission bits cannot keep a Windows program out of its own file (only the
// read-only attribute exists): the check cannot be arranged there.
inline std::optional<bool> RunWithoutRoot(const std::function<bool()>&) { return std::nullopt; }
#else

/// The result of check, run without root; empty when that cannot be arranged.
inline std::optional<bool> RunWithoutRoot(const std::function<bool()>& check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
    bool passed = false;
    try {
      passed = check();
    } catch (...) {  // an exception is a failed check, not a check that could not run
    }
    ::_exit(passed ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return std::nullopt;
  if (WEXITSTATUS(status) > 1) return std::nullopt;
  return WEXITSTATUS(status) == 0;
}
#endif

}  // namespace korbu::test
