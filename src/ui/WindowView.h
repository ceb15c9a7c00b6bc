#pragma once
// What the window logic needs from a toolkit: each desktop window (Qt on Linux,
// Win32 on Windows) implements this over its own controls, and WindowController
// drives it. Every call comes on the main thread.

#include <cstddef>
#include <string>

#include "scan/DetectionList.h"

namespace korbu {

enum class WindowPage { Options, Scan };

/// Texts the logic writes: the splash status line, the engine information of the
/// options page and the three progress values of the scan page.
enum class WindowLabel {
  SplashStatus,
  Build,
  EngineVersion,
  Signatures,
  CvdVersion,
  CvdDateMain,
  CvdDateDaily,
  FileScan,
  DetectedCount,
  InfoScan,
};

/// Controls whose enabled state the logic decides. OptionsPage is the whole page.
enum class WindowControl { OptionsPage, List, SelectAll, Back, Clean, Delete, Stop };

enum class ScanOption { Subfolders, AllFiles, NewVirus, Archive };

class WindowView {
 public:
  virtual ~WindowView() = default;

  virtual void SetText(WindowLabel label, const std::string& text) = 0;
  /// A label's tool tip, empty for none; a toolkit whose labels carry no tips
  /// leaves it out.
  virtual void SetTip(WindowLabel /*label*/, const std::string& /*tip*/) {}
  virtual void SetEnabled(WindowControl control, bool enabled) = 0;
  /// The scan page's last button: "Stop" while a scan runs, "Exit" otherwise.
  virtual void SetStopCaption(const std::string& caption) = 0;
  virtual void ShowPage(WindowPage page) = 0;
  /// Gives the "Scan" button the focus.
  virtual void FocusScan() = 0;
  /// The "Scan" button's tool tip, empty for none: what it will judge when that is
  /// not simply the folder selected.
  virtual void SetScanTip(const std::string& /*tip*/) {}

  virtual void SetOption(ScanOption option, bool checked) = 0;
  virtual bool OptionChecked(ScanOption option) const = 0;
  /// The selected node's path: a folder's full path, a text naming no folder for
  /// a node that is none, empty when nothing is selected.
  virtual std::string SelectedLocation() const = 0;

  /// Sets the select-all box without raising its click: the logic has already
  /// applied what the new state means.
  virtual void SetSelectAllChecked(bool checked) = 0;

  /// Shows row index (appending the rows up to it), its texts and mark; tip is the
  /// reason an action left it pending, empty for none.
  virtual void ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) = 0;
  virtual void ClearRows() = 0;

  /// The modal "Confirm" question; true for "Yes".
  virtual bool AskConfirm(const std::string& question) = 0;
  /// A modal box with an error's message.
  virtual void ShowMessage(const std::string& text) = 0;

  /// Lets the window process pending messages (paints, timers, the worker's hand-overs).
  virtual void ProcessPendingMessages() = 0;
  /// The busy pointer over the whole program while an action works, or the usual ones.
  virtual void ShowBusy(bool /*busy*/) {}
  /// Hides and destroys the splash window.
  virtual void HideSplash() = 0;
  /// Closes the main window, which ends the program; the toolkit asks
  /// WindowController::CloseQuery first.
  virtual void CloseWindow() = 0;
};

}  // namespace korbu
