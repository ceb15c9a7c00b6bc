#include "repair/ProcessesEndedOnce.h"

#include <algorithm>

#include "platform/AsciiCase.h"
#include "platform/Path.h"

namespace korbu {
namespace {

// The last component, whichever delimiter the path uses: a Run value names its
// program the Windows way. Lowered, as Windows and Wine match names.
std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return platform::AsciiLowered(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

bool ProcessesEndedOnce::MayRun(const std::string& imagePath) {
  if (!listed_) {
    listed_ = true;
    const auto programs = inner_.RunningPrograms();
    if (!programs) {
      unlisted_ = true;
    } else {
      for (const std::string& image : *programs) {
        if (!image.empty()) running_.push_back(NameOf(image));
      }
      std::sort(running_.begin(), running_.end());
    }
  }
  return unlisted_ || std::binary_search(running_.begin(), running_.end(), NameOf(imagePath));
}

Status ProcessesEndedOnce::EndProcesses(const std::string& imagePath) {
  if (!inner_.Applies()) return inner_.EndProcesses(imagePath);  // a dry run lists every request
  const std::string file = platform::FullPath(imagePath);
  if (const auto done = ended_.find(file); done != ended_.end()) return done->second;
  Status ended = MayRun(imagePath) ? inner_.EndProcesses(imagePath) : Ok();
  ended_.emplace(file, ended);
  return ended;
}

}  // namespace korbu
