// Tells the kernel's made-up file systems by the type that statfs reports.

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

// Not every header names these.
constexpr unsigned long kCgroup2Magic = 0x63677270;
constexpr unsigned long kConfigfsMagic = 0x62656570;
constexpr unsigned long kFusectlMagic = 0x65735543;
constexpr unsigned long kMqueueMagic = 0x19800202;
constexpr unsigned long kRpcPipefsMagic = 0x67596969;
constexpr unsigned long kNfsdMagic = 0x6e667364;

bool IsVirtualType(unsigned long type) {
  static constexpr unsigned long kTypes[] = {
      PROC_SUPER_MAGIC,   SYSFS_MAGIC,     DEVPTS_SUPER_MAGIC, CGROUP_SUPER_MAGIC,
      kCgroup2Magic,      DEBUGFS_MAGIC,   TRACEFS_MAGIC,      SECURITYFS_MAGIC,
      PSTOREFS_MAGIC,     BPF_FS_MAGIC,    kConfigfsMagic,     kFusectlMagic,
      kMqueueMagic,       HUGETLBFS_MAGIC, AUTOFS_SUPER_MAGIC, EFIVARFS_MAGIC,
      BINFMTFS_MAGIC,     SELINUX_MAGIC,   SMACK_MAGIC,        NSFS_MAGIC,
      RDTGROUP_SUPER_MAGIC, kRpcPipefsMagic, kNfsdMagic};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// devtmpfs reports the type of tmpfs, which also holds ordinary files (/tmp, /run);
// only the mount table tells the two apart. Mounts are read once per run.
bool IsDevtmpfsDevice(dev_t device) {
  static const std::vector<dev_t> devices = [] {
    std::vector<dev_t> found;
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
      // "id parent major:minor root mount-point options [optional...] - type source ..."
      const std::size_t dash = line.find(" - ");
      if (dash == std::string::npos) continue;
      std::istringstream after(line.substr(dash + 3));
      std::string type;
      after >> type;
      if (type != "devtmpfs") continue;
      std::istringstream before(line.substr(0, dash));
      std::string id, parent, numbers;
      before >> id >> parent >> numbers;
      unsigned major = 0, minor = 0;
      if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) == 2) {
        found.push_back(makedev(major, minor));
      }
    }
    return found;
  }();
  return std::find(devices.begin(), devices.end(), device) != devices.end();
}

}  // namespace

bool IsVirtualFileSystem(const std::string& folder) {
  if (folder.empty()) return false;
  struct statfs fs {};
  if (posix::RetryOnEintr([&] { return ::statfs(folder.c_str(), &fs); }) != 0) return false;
  const auto type = static_cast<unsigned long>(fs.f_type);
  if (IsVirtualType(type)) return true;
  if (type != TMPFS_MAGIC) return false;
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && IsDevtmpfsDevice(st.st_dev);
}

}  // namespace korbu::platform
