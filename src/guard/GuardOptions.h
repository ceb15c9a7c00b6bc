#pragma once
// korbu-guard's command line.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace korbu::guard {

/// Where the running guard keeps what --status prints: a folder of root's.
inline constexpr const char* kDefaultStatusFile = "/run/korbu-guard/status";

struct GuardOptions {
  std::vector<std::string> paths;   // each path's mount is watched
  bool removable = false;           // also every removable volume mounted while it runs
  bool quarantine = false;          // detected written files go to the quarantine
  bool status = false;              // print the running guard's status and end
  bool help = false;
  bool version = false;
  bool syslog = true;               // --no-syslog: reports go to standard error alone
  bool notify = true;               // --no-notify: no desktop notifications
  bool spin = true;                 // --no-spin: idle processors sleep within a burst of accesses
  std::optional<std::string> database;
  std::string statusFile = kDefaultStatusFile;
  /// Mounts below these folders count as removable volumes, as do mounts of a
  /// block device the kernel calls removable.
  std::vector<std::string> mountFolders{"/media", "/run/media"};
  /// How long an access may wait for its verdict before it is let go.
  std::chrono::milliseconds timeout{5000};
  int workers = 0;  // 0: one per core
};

struct GuardParse {
  GuardOptions options;
  std::string error;  // empty when the command line is sound
};

GuardParse ParseGuardArgs(const std::vector<std::string>& args);

std::string GuardUsage();

}  // namespace korbu::guard
