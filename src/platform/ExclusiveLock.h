#pragma once
// One program at a time: an exclusive lock on a file of a held folder, between
// programs and between two takers in one program.

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::platform {

class ExclusiveLock {
 public:
  /// Takes the lock on the file name of the folder (a regular file, created
  /// private to the user when missing), waiting up to wait for its holder to let
  /// go; an ErrorKind::Busy when it did not.
  static Expected<ExclusiveLock> Take(const Folder& folder, const std::string& name, std::chrono::milliseconds wait);

  ExclusiveLock(ExclusiveLock&& other) noexcept;
  ExclusiveLock& operator=(ExclusiveLock&& other) = delete;
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  /// Lets go.
  ~ExclusiveLock();

 private:
  explicit ExclusiveLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace korbu::platform
