#include "platform/posix/VolumeTrust.h"

#include <grp.h>
#include <linux/btrfs.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {
namespace {

// Newer than the C library's headers: the mount id the kernel never hands out
// twice until it reboots (Linux 6.8).
constexpr unsigned kStatxMountIdUnique = 0x4000U;
// Member devices below one volume before it is taken for a loop of links.
constexpr int kMaxDeviceDepth = 8;

// File systems whose change time only the kernel sets, to the nanosecond, and
// whose inode numbers stay with a file for its life. ZFS is not among them: the
// devices of its pools cannot be told from here.
bool StampingType(decltype(statfs::f_type) type) {
  switch (static_cast<unsigned long>(type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // XFS
    case 0x9123683EUL:  // Btrfs
    case 0x01021994UL:  // tmpfs
    case 0xF2F52010UL:  // F2FS
      return true;
    default:
      return false;
  }
}

constexpr unsigned long kTmpfs = 0x01021994UL;
constexpr unsigned long kBtrfs = 0x9123683EUL;

// A small kernel file (sysfs, procfs) whole, its trailing line end cut; empty
// when it cannot be read.
std::string ReadKernelText(const std::string& path) {
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); }));
  if (!fd.Valid()) return {};
  std::string text;
  char buffer[4096];
  while (text.size() < 65536) {
    const ssize_t got = RetryOnEintr([&] { return ::read(fd.Get(), buffer, sizeof buffer); });
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string result(real);
  std::free(real);
  return result;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Splitmix64's finisher: a bijection that spreads every bit of its input.
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// The boot's random id folded to 64 bits (FNV-1a); 0 when the kernel tells none.
std::uint64_t BootKey() {
  static const std::uint64_t key = [] {
    const std::string id = ReadKernelText("/proc/sys/kernel/random/boot_id");
    if (id.empty()) return std::uint64_t{0};
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    return Mix(hash);
  }();
  return key;
}

bool IsDiskGroup(gid_t gid) {
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
  return std::string(found->gr_name) == "disk";
}

// The node /dev has for a block device's sysfs folder is root's and may be
// written by no one else: members of the disk group may write every disk
// anyway, and an access list (as logins hand out) lets others in.
bool NodeOnlyRootWrites(const std::string& folder) {
  const std::string events = ReadKernelText(folder + "/uevent");
  std::string name;
  for (std::size_t at = 0; at < events.size();) {
    std::size_t end = events.find('\n', at);
    if (end == std::string::npos) end = events.size();
    if (events.compare(at, 8, "DEVNAME=") == 0) name = events.substr(at + 8, end - at - 8);
    at = end + 1;
  }
  if (name.empty() || name.find("..") != std::string::npos) return false;
  const std::string node = "/dev/" + name;
  struct stat st {};
  if (::lstat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  if (number != ReadKernelText(folder + "/dev")) return false;
  if (st.st_uid != 0 || (st.st_mode & S_IWOTH) != 0) return false;
  if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0 && !IsDiskGroup(st.st_gid)) return false;
  return ::lgetxattr(node.c_str(), "system.posix_acl_access", nullptr, 0) < 0;
}

// Attached through a bus made for unplugging: USB, SD and MMC cards, FireWire.
bool OnDetachableBus(const std::string& folder) {
  for (std::size_t at = 0; at < folder.size();) {
    std::size_t end = folder.find('/', at);
    if (end == std::string::npos) end = folder.size();
    const std::string part = folder.substr(at, end - at);
    const auto numbered = [&](std::string_view stem) {
      return part.size() > stem.size() && part.starts_with(stem) && part[stem.size()] >= '0' && part[stem.size()] <= '9';
    };
    if (numbered("usb") || numbered("fw") || part == "mmc_host" || part == "memstick_host") return true;
    at = end + 1;
  }
  return false;
}

bool DeviceTrusted(const std::string& folder, int depth);

// A folder of links to the sysfs folders of member devices has some, and all are trusted.
bool MembersTrusted(const std::string& members, int depth) {
  bool any = false;
  bool all = true;
  (void)ListOpenFolder(::open(members.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), "*", [&](const EntryInfo& entry) {
    any = true;
    all = DeviceTrusted(RealPath(members + "/" + entry.name), depth);
    return all;
  });
  return any && all;
}

// A block device (its resolved sysfs folder) whose bytes only root changes, and
// only while the kernel holds it: a fixed disk, or a device-mapper or RAID volume
// of such disks. A loop image, a network block device and a RAM disk have no
// members and are never trusted.
bool DeviceTrusted(const std::string& folder, int depth) {
  if (depth > kMaxDeviceDepth || folder.empty() || !NodeOnlyRootWrites(folder)) return false;
  std::string disk = folder;
  if (Exists(folder + "/partition")) {
    disk = folder.substr(0, folder.rfind('/'));
    if (!NodeOnlyRootWrites(disk)) return false;
  }
  if (ReadKernelText(disk + "/removable") != "0" || OnDetachableBus(disk)) return false;
  if (!disk.starts_with("/sys/devices/virtual/")) return true;
  return MembersTrusted(disk + "/slaves", depth + 1);
}

// The devices of a Btrfs volume, as its sysfs folder lists them by the id the
// file system gives.
bool BtrfsDevicesTrusted(int fd) {
  btrfs_ioctl_fs_info_args info {};
  if (::ioctl(fd, BTRFS_IOC_FS_INFO, &info) != 0) return false;
  static const char kHex[] = "0123456789abcdef";
  std::string uuid;
  for (std::size_t i = 0; i < sizeof info.fsid; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) uuid += '-';
    uuid += kHex[info.fsid[i] >> 4];
    uuid += kHex[info.fsid[i] & 15];
  }
  return MembersTrusted("/sys/fs/btrfs/" + uuid + "/devices", 0);
}

bool Decide(int fd, const struct stat& st, const struct statfs& fs) {
  const auto type = static_cast<unsigned long>(fs.f_type);
  if (type == kTmpfs) return true;  // in memory only: nothing to write it behind the kernel's back
  if (type == kBtrfs) return BtrfsDevicesTrusted(fd);
  if (major(st.st_dev) == 0) return false;  // no block device of its own to vouch for
  return DeviceTrusted(RealPath("/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                                std::to_string(minor(st.st_dev))),
                       0);
}

}  // namespace

std::uint64_t MountIdentity(int fd) {
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kStatxMountIdUnique, &sx) != 0) return 0;
  if ((sx.stx_mask & kStatxMountIdUnique) == 0) return 0;
  const std::uint64_t boot = BootKey();
  if (boot == 0) return 0;
  // Mix is a bijection: two mounts of one boot never meet, those of two boots
  // only by the chance of two random 64-bit keys.
  const std::uint64_t id = Mix(sx.stx_mnt_id ^ boot);
  return id == 0 ? 1 : id;
}

bool StampsHoldOn(int fd, std::uint64_t mount, const struct stat& st, const struct statfs& fs) {
  if (mount == 0 || !StampingType(fs.f_type)) return false;
  // The devices under a mount stay what they are while it lasts.
  static std::mutex mutex;
  static std::unordered_map<std::uint64_t, bool> decided;
  {
    std::lock_guard lock(mutex);
    if (auto known = decided.find(mount); known != decided.end()) return known->second;
  }
  const bool holds = Decide(fd, st, fs);
  std::lock_guard lock(mutex);
  if (decided.size() >= 4096) decided.clear();
  decided[mount] = holds;
  return holds;
}

}  // namespace korbu::platform::posix
