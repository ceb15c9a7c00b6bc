#pragma once
// The guard's fanotify group: the marks on the watched mounts and the answers to
// their permission events. Closing the group (also by the kernel, when the guard
// dies) lets every access still waiting go.

#include <string>

#include "platform/Expected.h"

namespace korbu::guard {

class FanotifyGroup {
 public:
  /// A content-class group of non-blocking events; fails when the kernel has no
  /// fanotify or the caller may not use it (not root).
  static Expected<FanotifyGroup> Create();

  FanotifyGroup(FanotifyGroup&& other) noexcept;
  FanotifyGroup& operator=(FanotifyGroup&& other) noexcept;
  FanotifyGroup(const FanotifyGroup&) = delete;
  FanotifyGroup& operator=(const FanotifyGroup&) = delete;
  ~FanotifyGroup();

  /// Marks the mount that holds path: executions and opens ask first, closes
  /// after writing are told.
  Status MarkMount(const std::string& path);

  /// Answers a permission event; thread-safe. Failure only when the event is
  /// not (or no longer) waiting.
  Status Answer(int eventFd, bool allow);

  int Fd() const { return fd_; }

 private:
  explicit FanotifyGroup(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace korbu::guard
