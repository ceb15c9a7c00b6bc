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
  const auto& doubts = processes.WineSystemDoubts();
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
      // the prefix the program runs in, which its repair acts on; a program
      // whose system is not proven is listed with none, and why.
      if (!path.empty() && ScanFile(path, verdict, context, frontEnd) && !list.IsDetected(path)) {
        DetectionRow row{path, verdict, std::string(kInfoMemory), false, std::nullopt, prefixes[i], doubts[i]};
        if (!row.unknownSystem.empty()) frontEnd.ShowFileError(path, "its Windows system is unknown: " + row.unknownSystem);
        list.AddRow(std::move(row));
      }
    } catch (const std::exception& e) {
      // One program that cannot be judged does not end the phase, and says so.
      frontEnd.ShowFileError(path, std::string("cannot be judged: ") + e.what());
    }
    frontEnd.ProcessPendingMessages();
  }
}

}  // namespace korbu
