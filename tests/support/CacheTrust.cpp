#include "support/CacheTrust.h"

#include <filesystem>

#include "platform/FileStamp.h"
#include "platform/OpenedFile.h"
#include "support/TempTree.h"

namespace korbu::test {

std::string CacheDistrusts(const std::string& folder) {
  const std::string probe = folder + "/.cache-trust-probe";
  WriteFileBytes(probe, "probe");
  std::string why;
  {
    platform::OpenedFile opened = platform::OpenedFile::Open(probe);
    Expected<platform::FileStamp> stamp = platform::StampOf(opened);
    if (!stamp) why = "no stamp of a file in " + folder + ": " + stamp.Reason();
    else if (!stamp->trusted) why = "the verdict cache trusts no stamp of " + folder + "'s volume on this machine";
  }
  std::error_code ignored;
  std::filesystem::remove(probe, ignored);
  return why;
}

}  // namespace korbu::test
