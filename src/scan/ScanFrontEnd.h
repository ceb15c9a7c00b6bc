#pragma once
// The seam between the scan pipeline and the program that shows it: the desktop
// window implements it, and so does the command-line scanner. Every call comes on
// the main thread; the walk's worker reaches it only through the main-thread
// hand-over of the file search.

#include <cstdint>
#include <string>

#include "engine/EngineScanner.h"
#include "scan/DetectionList.h"

namespace korbu {

/// The four options of the options page and the chosen location.
struct ScanOptions {
  bool subfolders = true;  // "Scan subfolders"
  bool allFiles = true;    // "Scan all files"
  bool heuristic = true;   // "Scan for new unknown viruses"
  bool archive = true;     // "Scan for archive"
  std::string location;    // folder to walk; empty when none is selected
  // Engine option bits (CLAM_SCAN_*) the command line adds to or takes from the
  // fixed word; the window leaves both empty.
  std::uint16_t engineBitsAdded = 0;
  std::uint16_t engineBitsRemoved = 0;
};

class ScanFrontEnd {
 public:
  virtual ~ScanFrontEnd() = default;

  /// The options and location as the user set them, read once per scan.
  virtual ScanOptions ReadOptions() const = 0;

  /// The detection list the scan adds its rows to.
  virtual DetectionList& Detections() = 0;

  /// The current operation, and at the end the summary line.
  virtual void ShowOperation(const std::string& text) = 0;

  /// The object being scanned now; "Scan stopped by user." after a stop.
  virtual void ShowObject(const std::string& text) = 0;

  /// Lets the window process pending messages between items of long work.
  virtual void ProcessPendingMessages() = 0;

  /// A walked file could not be judged, or only in part, and why. The window
  /// shows nothing of it; the command line reports it.
  virtual void ShowFileError(const std::string& path, const std::string& reason) {
    (void)path;
    (void)reason;
  }

  /// A running program of another user could not be judged, or its Windows
  /// system is unknown, and why: the caller cannot mend it, so the command line
  /// reports it apart from its own errors.
  virtual void ShowOtherUsersProgramError(const std::string& path, const std::string& reason) {
    ShowFileError(path, reason);
  }

  /// A file came out clean, but a limit of the engine kept it from judging all of
  /// it and no alert named that. The window shows nothing of it; the command line
  /// reports it.
  virtual void ShowNotJudgedWhole(const std::string& path, const EngineLimitReached& limit) {
    (void)path;
    (void)limit;
  }
};

}  // namespace korbu
