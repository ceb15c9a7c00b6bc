#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return {};
}

}  // namespace korbu::platform::posix
