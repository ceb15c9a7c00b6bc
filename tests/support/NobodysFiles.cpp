#include "support/NobodysFiles.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace korbu::test {

bool GiveToNobody(const std::string& root) {
  if (::lchown(root.c_str(), kNobodyId, kNobodyId) != 0) return false;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (::lchown(it->path().c_str(), kNobodyId, kNobodyId) != 0) return false;
  }
  return !error;
}

bool KeepForRoot(const std::string& path, unsigned mode) {
  return ::lchown(path.c_str(), 0, 0) == 0 && ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

std::string AsNobodyPrefix() {
  if (!std::filesystem::exists("/usr/bin/setpriv")) return std::string();
  return "setpriv --reuid=nobody --regid=nogroup --clear-groups";
}

}  // namespace korbu::test
#endif
