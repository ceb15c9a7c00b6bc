#pragma once
// Folders files are being made in (a tree unpacked, a checkout, a build). Each
// new file's creation is a plain open that would wait for the guard, and the
// round trip costs far more than making a small file. So once a file is made in
// a folder, the folder's plain opens stop asking for a while and its reads ask
// instead: a new file waits for nobody as it is made and written, and Wine can
// still not load an image from there unjudged, since it reads the image's
// headers before it maps it. Executions ask as always, and the files written
// are judged as they are closed. When files are made in several folders at
// once (a tree unpacked), the whole mount is treated so until no file has been
// written on it for a moment. When the while is over, plain opens ask again at
// once and reads a little later, so that a file opened just before still has
// its first read asked about.

#include <sys/stat.h>

#include <chrono>
#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "guard/FanotifyGroup.h"

namespace korbu::guard {

/// Used by the event thread alone.
class NewFileFolders {
 public:
  using Clock = std::chrono::steady_clock;

  explicit NewFileFolders(FanotifyGroup& group) : group_(group) {}
  ~NewFileFolders();
  NewFileFolders(const NewFileFolders&) = delete;
  NewFileFolders& operator=(const NewFileFolders&) = delete;

  /// How long a folder's plain opens go unasked after a file was made there.
  static constexpr std::chrono::milliseconds kOpensUnasked{1000};
  /// How much longer its reads ask.
  static constexpr std::chrono::milliseconds kReadsAskedAfter{2000};
  /// The most folders treated so at once (each holds a descriptor).
  static constexpr std::size_t kMostFolders = 4096;
  /// So many folders treated within kFoldersWithin treat their mount...
  static constexpr std::size_t kFoldersForMount = 4;
  static constexpr std::chrono::milliseconds kFoldersWithin{250};
  /// ...until no file was written for kMountQuiet, or kMountLongest passed.
  static constexpr std::chrono::milliseconds kMountQuiet{500};
  static constexpr std::chrono::milliseconds kMountLongest{5000};

  /// An empty file was opened (made, most likely) by another program: its
  /// folder's plain opens stop asking (eventFd: the event's descriptor, st its
  /// status). Empty, or why new files wait for the guard from now on (the
  /// kernel cannot ignore a folder's files).
  std::string Made(int eventFd, const struct stat& st, Clock::time_point now);
  /// Files closed after writing were read now.
  void Written(Clock::time_point now) { lastWritten_ = now; }
  /// Ends what is due by now.
  void EndDue(Clock::time_point now);
  /// The next time something is due, when any folder is treated.
  bool NextDeadline(Clock::time_point& next) const;

 private:
  // A folder by its volume and inode, or a mount by its id (two mounts of one
  // volume are watched apart).
  struct Key {
    bool mount;
    std::uint64_t first, second;
    auto operator<=>(const Key&) const = default;
  };
  struct Treated {
    int fd;
    bool opensUnasked;
    unsigned generation;  // of the deadline that counts
    bool mount;
    Clock::time_point since;  // when its opens stopped asking
  };
  struct Due {
    Key folder;
    unsigned generation;
  };
  struct MountRoot {
    int fd = -1;  // O_PATH; -1 when it could not be found
    std::string path;
  };
  /// The root of the mount with this id (of the volume device), opened once.
  const MountRoot& RootOf(std::uint64_t mountId, dev_t device);
  /// The folder that holds the event's file (on device; path: its path now,
  /// name: set to its last component, mountId: to its mount's id), or -1.
  int OpenFolderOf(int eventFd, dev_t device, const std::string& path, std::string& name, std::uint64_t& mountId);
  void Schedule(const Key& key, Treated& folder, Clock::time_point at);
  /// A folder on the mount fd is on was treated now: the mount is when enough
  /// were.
  void TreatMountOnceBusy(int fd, std::uint64_t mountId, Clock::time_point now);
  bool AskAtReads(const Treated& treated);
  bool AskAtOpens(const Treated& treated);
  void StopAskingAtReads(const Treated& treated);

  FanotifyGroup& group_;
  bool enabled_ = true;
  std::map<Key, Treated> treated_;
  // When opens ask again, or reads stop asking; a folder treated again since
  // has a newer deadline and its older ones pass by.
  std::multimap<Clock::time_point, Due> deadlines_;
  std::vector<Clock::time_point> recentFolders_;
  Clock::time_point lastWritten_;
  std::map<std::uint64_t, MountRoot> mountRoots_;
};

}  // namespace korbu::guard
