#include "scan/MemoryScan.h"

#include <exception>

#include "scan/FileVerdict.h"
#include "scan/ScanTexts.h"
#include "services/ProcList.h"

namespace korbu {

void ScanMemory(ScanFrontEnd& frontEnd, const ScanContext& context) {
  const auto paths = GetProcessPaths();
  if (!paths) return;
  DetectionList& list = frontEnd.Detections();
  for (const std::string& path : *paths) {
    frontEnd.ShowOperation(kScanningMemoryText);
    frontEnd.ShowObject(path);
    try {
      std::string verdict;
      // The verdict opens the program's file once and refuses anything but a
      // regular file, so no separate look at the name comes first.
      if (!path.empty() && ScanFile(path, verdict, context, frontEnd) && !list.IsDetected(path)) {
        list.AddDetection(path, verdict, std::string(kInfoMemory));
      }
    } catch (const std::exception&) {
      // One program that cannot be judged does not end the phase.
    }
    frontEnd.ProcessPendingMessages();
  }
}

}  // namespace korbu
