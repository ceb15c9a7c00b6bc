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
  const auto& owned = processes.OwnedByCaller();
  DetectionList& list = frontEnd.Detections();
  // The first entry is the scanner itself.
  for (std::size_t i = 1; i < paths.size(); ++i) {
    if (context.stop != nullptr && context.stop->load()) return;
    const std::string& path = paths[i];
    frontEnd.ShowOperation(kScanningMemoryText);
    frontEnd.ShowObject(path);
    const auto showError = [&](const std::string& reason) {
      if (owned[i]) {
        frontEnd.ShowFileError(path, reason);
      } else {
        frontEnd.ShowOtherUsersProgramError(path, reason);
      }
    };
    try {
      std::string verdict;
      // The verdict opens the program's file once and refuses anything but a
      // regular file, so no separate look at the name comes first. The row keeps
      // the prefix the program runs in, which its repair acts on; a program
      // whose system is not proven is listed with none, and why.
      if (!path.empty() && ScanFile(path, verdict, context, frontEnd) && !list.IsDetected(path)) {
        DetectionRow row;
        row.kind = DetectionKind::Program;
        row.path = path;
        row.system = SystemOfPrefix(prefixes[i]);
        row.virusName = verdict;
        row.unknownSystem = doubts[i];
        if (!row.unknownSystem.empty()) showError("its Windows system is unknown: " + row.unknownSystem);
        list.AddRow(std::move(row));
      }
    } catch (const std::exception& e) {
      // One program that cannot be judged does not end the phase, and says so.
      showError(std::string("cannot be judged: ") + e.what());
    }
    frontEnd.ProcessPendingMessages();
  }
}

}  // namespace korbu
