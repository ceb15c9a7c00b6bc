// Tells the kernel's made-up file systems by the type that statfs reports.

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <stdlib.h>

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

struct MountEntry {
  dev_t device = 0;
  std::string point;
  std::string type;
};

// mountinfo writes a blank, a tab, a line end and a backslash in a path as three
// octal digits after a backslash.
std::string Unescaped(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3) && field[i + 1] <= '3') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += field[i];
  }
  return out;
}

std::vector<MountEntry> MountTable() {
  std::vector<MountEntry> mounts;
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    // "id parent major:minor root mount-point options [optional...] - type source ..."
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    MountEntry entry;
    std::istringstream after(line.substr(dash + 3));
    after >> entry.type;
    std::istringstream before(line.substr(0, dash));
    std::string id, parent, numbers, root, point;
    before >> id >> parent >> numbers >> root >> point;
    unsigned major = 0, minor = 0;
    if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2 || point.empty()) continue;
    entry.device = makedev(major, minor);
    entry.point = Unescaped(point);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

// devtmpfs reports the type of tmpfs, which also holds ordinary files (/tmp, /run);
// only the mount table tells the two apart. Mounts are read once per run.
bool IsDevtmpfsDevice(dev_t device) {
  static const std::vector<dev_t> devices = [] {
    std::vector<dev_t> found;
    for (const MountEntry& mount : MountTable()) {
      if (mount.type == "devtmpfs") found.push_back(mount.device);
    }
    return found;
  }();
  return std::find(devices.begin(), devices.end(), device) != devices.end();
}

bool Below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         (folder == "/" || path[folder.size()] == '/');
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

std::vector<std::string> RealMountsBelow(const std::string& folder) {
  char* resolved = ::realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) return {};
  const std::string real = resolved;
  std::free(resolved);
  std::vector<std::string> points;
  for (const MountEntry& mount : MountTable()) {
    if (Below(mount.point, real) && !IsVirtualFileSystem(mount.point)) points.push_back(mount.point);
  }
  // One below another is walked with it.
  std::vector<std::string> outermost;
  for (const std::string& point : points) {
    const bool inner = std::any_of(points.begin(), points.end(), [&](const std::string& other) { return Below(point, other); });
    std::string relative = point.substr(real.size() + (real == "/" ? 0 : 1));
    if (!inner && std::find(outermost.begin(), outermost.end(), relative) == outermost.end()) {
      outermost.push_back(std::move(relative));
    }
  }
  return outermost;
}

}  // namespace korbu::platform
