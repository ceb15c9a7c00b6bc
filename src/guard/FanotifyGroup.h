#pragma once
// The guard's fanotify groups: one of class content whose permission events
// (an execution, an open) wait for the guard's answer, and one that is only
// told of files closed after writing, read in batches so that a writer never
// waits for the guard. Closing the groups (also by the kernel, when the guard
// dies) lets every access still waiting go.

#include <sys/fanotify.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Expected.h"

namespace korbu::guard {

class FanotifyGroup {
 public:
  /// Both groups, of non-blocking events; fails when the kernel has no fanotify
  /// or the caller may not use it (not root).
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
  /// Answers several permission events in as few system calls as the kernel
  /// allows; an answer the kernel refuses (its event no longer waiting) does not
  /// keep the others from being given. Thread-safe.
  void AnswerAll(const fanotify_response* responses, std::size_t count);

  /// Stops the kernel from asking about the accesses in mask (FAN_OPEN_PERM,
  /// FAN_OPEN_EXEC_PERM, FAN_ACCESS_PERM) of the file fd names until the file is modified,
  /// through whatever name or mount, or its inode leaves memory. 0, or the
  /// kernel's error: EINVAL where it keeps no evictable marks (before 5.19),
  /// ENOSPC where the group has as many marks as it may.
  int IgnoreOpens(int fd, std::uint64_t mask);
  /// Asks about every open of the file again.
  void StopIgnoringOpens(int fd);

  /// For the files in the folder dirFd names (its own entries, not those of its
  /// subfolders): asks before each read instead of at each plain open, so that a
  /// file created there waits for nobody while an image can still not be read
  /// unjudged (Wine reads a program's headers before it maps them). Executions
  /// still ask. 0, or the kernel's error (before 6.0 it cannot ignore a folder's
  /// files).
  int AskAtReadsInFolder(int dirFd);
  /// Plain opens in the folder ask again; its reads still ask. False when the
  /// kernel refused: then reads must go on asking.
  bool AskAtOpensInFolder(int dirFd);
  /// Reads in the folder no longer ask.
  void StopAskingAtReadsInFolder(int dirFd);
  /// The same for the whole mount fd is on (a watched one): its reads ask, then
  /// its plain opens stop asking. 0 or the kernel's error.
  int AskAtReadsOnMount(int fd);
  /// Plain opens on the mount ask again; its reads still ask. False when the
  /// kernel refused: then reads must go on asking.
  bool AskAtOpensOnMount(int fd);
  /// Reads on the mount no longer ask.
  void StopAskingAtReadsOnMount(int fd);

  /// The permission events' descriptor.
  int Fd() const { return fd_; }
  /// The descriptor of the files closed after writing.
  int WrittenFd() const { return writtenFd_; }

 private:
  FanotifyGroup(int fd, int writtenFd) : fd_(fd), writtenFd_(writtenFd) {}
  void Close();
  int fd_ = -1;
  int writtenFd_ = -1;
};

}  // namespace korbu::guard
