#include "guard/MountTable.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korbu::guard {
namespace {

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string digits = text.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out.push_back(static_cast<char>(std::strtol(digits.c_str(), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool ReadsOne(const std::string& file) {
  std::ifstream in(file);
  char c = 0;
  return in.get(c) && c == '1';
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  std::vector<MountEntry> mounts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    MountEntry mount;
    int parent = 0;
    std::string device, root, point, options, field;
    if (!(fields >> mount.id >> parent >> device >> root >> point >> options)) continue;
    while (fields >> field && field != "-") {
    }
    if (field != "-" || !(fields >> mount.type)) continue;
    const std::size_t colon = device.find(':');
    if (colon == std::string::npos) continue;
    mount.major = static_cast<unsigned>(std::strtoul(device.substr(0, colon).c_str(), nullptr, 10));
    mount.minor = static_cast<unsigned>(std::strtoul(device.substr(colon + 1).c_str(), nullptr, 10));
    mount.mountPoint = Unescape(point);
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

bool IsBelow(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") return true;
  return path == base || (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
                          path[base.size()] == '/');
}

bool AnsweredByAServer(const std::string& type) {
  for (const char* prefix : {"fuse", "nfs", "cifs", "smb", "9p", "ceph", "afs"}) {
    if (type.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

bool IsRemovable(const MountEntry& mount, const std::vector<std::string>& folders) {
  // Their reads can be held up by whoever runs the server: the guard's workers
  // would wait with them.
  if (AnsweredByAServer(mount.type)) return false;
  for (const std::string& folder : folders) {
    if (IsBelow(mount.mountPoint, folder) && mount.mountPoint != folder) return true;
  }
  if (mount.major == 0) return false;  // no block device
  const std::string device =
      "/sys/dev/block/" + std::to_string(mount.major) + ":" + std::to_string(mount.minor);
  if (ReadsOne(device + "/removable")) return true;
  // A partition: its disk is the folder above it.
  std::ifstream partition(device + "/partition");
  return partition.good() && ReadsOne(device + "/../removable");
}

}  // namespace korbu::guard
