#include "platform/TemporaryFolder.h"

#include <cstdlib>

#include "platform/FolderHandle.h"
#include "platform/Path.h"

namespace korbu::platform {

Expected<std::string> TemporaryFolder(const std::string& chosen) {
  std::string folder = chosen;
  std::string source;
  if (folder.empty()) {
    const char* environment = std::getenv("TMPDIR");
    if (environment != nullptr && *environment != '\0') {
      folder = environment;
      source = " (TMPDIR)";
    }
  }
#ifdef _WIN32
  if (folder.empty()) return std::string();
#else
  if (folder.empty()) folder = "/tmp";
#endif
  if (const Status trusted = CheckTrustedFolder(folder); !trusted) {
    return Failure("cannot keep temporary files in " + folder + source + ": " + trusted.error().reason,
                   trusted.error().code);
  }
  return FullPath(folder);
}

}  // namespace korbu::platform
