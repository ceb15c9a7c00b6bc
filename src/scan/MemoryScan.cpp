#include "scan/MemoryScan.h"

#include <exception>

#include "scan/FileVerdict.h"
#include "scan/ScanTexts.h"
#include "services/ProcList.h"

namespace korbu {

void ScanMemory(ScanFrontEnd& frontEnd, const ScanContext& context) {
  TProcessManager processes;
  if (Status read = processes.Refresh(); !read) {
    frontEnd.ShowFileError("running programs", read.error().reason);
    return;
  }
  const auto& paths = processes.ImagePaths();
  const auto& prefixes = processes.WinePrefixes();
  DetectionList& list = frontEnd.Detections();
  // The first entry is the scanner itself.
  for (std::size_t i = 1; i < paths.size(); ++i) {
    if (context.stop != nullptr && context.stop->load()) return;
    const std::string& path = paths[i];
    frontEnd.ShowOperation(kScanningMemoryText);
    frontEnd.ShowObject(path);
    try {
      std::string verdict;
      // The verdict opens the program's file once and refuses anything but a
      // regular file, so no separate look at the name comes first. The row keeps
      // the prefix the program runs in, which its repair acts on.
      if (!path.empty() && ScanFile(path, verdict, context, frontEnd) && !list.IsDetected(path)) {
        list.AddDetection(path, verdict, std::string(kInfoMemory), prefixes[i]);
      }
    } catch (const std::exception&) {
      // One program that cannot be judged does not end the phase.
    }
    frontEnd.ProcessPendingMessages();
  }
}

}  // namespace korbu
