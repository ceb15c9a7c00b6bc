#include "support/PrivateMounts.h"

// Mount namespaces are Linux's.
#ifndef _WIN32

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "support/TempTree.h"

namespace korbu::test {

std::string PrivateMountsUnavailable() {
  if (::geteuid() != 0) return "mounting needs root";
  const ScriptRun probe = RunCommand("unshare --mount --propagation private true");
  if (probe.status != 0) return "no mount namespace can be made here: " + probe.output;
  return {};
}

std::string NtfsUnavailable() {
  if (std::string why = PrivateMountsUnavailable(); !why.empty()) return why;
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse";
  if (RunCommand("command -v mkntfs && command -v ntfs-3g").status != 0) return "mkntfs or ntfs-3g is not installed (ntfs-3g)";
  return {};
}

ScriptRun RunWithPrivateMounts(const std::string& script) {
  TempTree tree;
  const std::string file = tree.Write("script.sh", script);
  return RunCommand("unshare --mount --propagation private sh -eu " + ShellQuote(file));
}

}  // namespace korbu::test

#endif  // _WIN32
