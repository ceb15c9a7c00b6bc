#pragma once
// Removable volumes mounted while the guard runs: /proc/self/mountinfo wakes
// its reader (POLLPRI) on every change of the mount table; each new removable
// mount is handed on once, and its files walked in the background.

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "guard/MountTable.h"
#include "platform/Expected.h"

namespace korbu::guard {

class MountWatcher {
 public:
  /// onNew gets each new removable mount's mount point; the mounts there now
  /// are known already and not handed on.
  MountWatcher(std::vector<std::string> folders, std::function<void(const std::string&)> onNew);
  ~MountWatcher();
  MountWatcher(const MountWatcher&) = delete;
  MountWatcher& operator=(const MountWatcher&) = delete;

  Status Open();
  /// The descriptor to poll for POLLPRI.
  int Fd() const { return fd_; }
  /// The mount table changed: reads it again.
  void Changed();

 private:
  std::string Read();
  std::vector<std::string> folders_;
  std::function<void(const std::string&)> onNew_;
  std::set<int> known_;
  int fd_ = -1;
};

/// The files of a volume, walked in threads of their own: each regular file's
/// path goes to judge. Mounts below the volume are left to their own walk.
class VolumeWalks {
 public:
  explicit VolumeWalks(std::function<void(std::string)> judge) : judge_(std::move(judge)) {}
  /// Stops every walk and waits for it.
  ~VolumeWalks();
  void Start(const std::string& mountPoint);

 private:
  std::function<void(std::string)> judge_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> walks_;
};

}  // namespace korbu::guard
