#include "scan/MemoryScan.h"

#include <exception>

#include "platform/FileSystem.h"
#include "scan/FileVerdict.h"
#include "scan/ScanTexts.h"
#include "services/ProcList.h"

namespace korbu {

void ScanMemory(ScanFrontEnd& frontEnd) {
  const auto paths = GetProcessPaths();
  if (!paths) return;
  DetectionList& list = frontEnd.Detections();
  for (const std::string& path : *paths) {
    frontEnd.ShowOperation(kScanningMemoryText);
    frontEnd.ShowObject(path);
    try {
      std::string verdict;
      if (!path.empty() && platform::FileExists(path) && ScanFile(path, verdict) &&
          !list.IsDetected(path)) {
        list.AddDetection(path, verdict, std::string(kInfoMemory));
      }
    } catch (const std::exception&) {
      // One program that cannot be judged does not end the phase.
    }
    frontEnd.ProcessPendingMessages();
  }
}

}  // namespace korbu
