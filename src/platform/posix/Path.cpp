#include <climits>
#include <string>
#include <vector>

#include "platform/Path.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX);
  while (true) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace korbu::platform
