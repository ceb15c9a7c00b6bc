#pragma once
// What korbu-guard --status prints: the running guard keeps it in a file of
// root's, rewritten whole (a new file renamed over the old) after each change.

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Expected.h"

namespace korbu::guard {

class GuardStatus {
 public:
  /// file: where the status is kept; its folder is made (mode 0755) when missing
  /// and must be one no other user can change.
  explicit GuardStatus(std::string file) : file_(std::move(file)) {}

  /// The folder is usable and the first status written.
  Status Begin(const std::string& startedAt);
  /// Removes the file: the guard has stopped.
  void End();

  void Watching(const std::string& what);
  void Refused(const std::string& line);
  void Found(const std::string& line);
  void LetGo(const std::string& line);

  /// The text as --status prints it.
  std::string Text() const;

 private:
  void Count(std::uint64_t& counter, std::vector<std::string>& last, const std::string& line);
  void Write();
  std::string file_;
  mutable std::mutex mutex_;
  std::string startedAt_;
  std::vector<std::string> watched_;
  std::uint64_t refused_ = 0, found_ = 0, letGo_ = 0;
  std::vector<std::string> lastRefused_, lastFound_, lastLetGo_;
};

/// Prints the running guard's status; the exit status: 0, or 3 when no guard runs
/// (or its file is not root's own).
int PrintGuardStatus(const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace korbu::guard
