#pragma once
// The desktop window's logic, the same for every toolkit: start-up with its status
// texts and engine information, the control of a scan, the detection list shown
// in the window, the selection rules and the "Clean" and "Delete" actions. The
// toolkit's window forwards its events here and implements WindowView.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "findfile/MainThreadDispatcher.h"
#include "scan/DetectionList.h"
#include "scan/ScanFrontEnd.h"
#include "engine/EngineStartup.h"
#include "ui/WindowView.h"

namespace korbu {

class ScanSession;

inline constexpr const char* kStopQuestion = "Scanning is under process, would you want to stop?";

class WindowController final : public ScanFrontEnd {
 public:
  /// The view and the dispatcher outlive the controller.
  WindowController(WindowView& view, MainThreadDispatcher& dispatcher,
                   std::unique_ptr<EngineStartup> engine);
  /// Stops a walk still running while the view still exists.
  ~WindowController() override;
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;

  // Start-up.
  /// The window was built: the options page shows, disabled until start-up ends.
  void FormCreate();
  /// The engine steps; on the first activation only, later ones do nothing.
  void FormActivate();
  bool StartupFinished() const { return startupFinished_; }
  /// Checks the four options and fills the information labels from the engine.
  void ShowEngineInfo();

  // Scan control.
  void btnScanClick();
  void btnCancelClick();
  void btnCancel2Click();
  void btnBackClick();
  /// The user asks to close the window: true when it may go now. Otherwise it
  /// closes by itself (CloseWindow) once the work in progress has ended.
  bool CloseQuery();

  // Selection and actions; the view reports the user's doing only.
  void cbSelAllClick(bool checked);
  /// The user changed the mark of a row.
  void LvFoundItemChecked(std::size_t index, bool checked);
  void lvFoundClick();
  void lvFoundDblClick() { lvFoundClick(); }
  void btnCleanClick();
  void btnDeleteClick();

  /// True while the walk runs.
  bool ScanBusy() const;
  /// True from "Scan" until the walk has ended: the memory and registry phases too.
  bool ScanRunning() const { return phasesRunning_ || ScanBusy(); }
  bool ActionRunning() const { return actionRunning_; }
  int DetectedCount() const { return detectedCount_; }
  bool SelectAllChecked() const { return selectAll_; }
  /// The reason an action left row index pending; empty for none.
  std::string RowTip(std::size_t index) const;
  ScanSession& Session() { return *session_; }

  // ScanFrontEnd.
  ScanOptions ReadOptions() const override;
  DetectionList& Detections() override { return detections_; }
  void ShowOperation(const std::string& text) override;
  void ShowObject(const std::string& text) override;
  void ProcessPendingMessages() override { view_.ProcessPendingMessages(); }

 private:
  void RunEngineSteps();
  void ResetScanView();
  bool ConfirmStop();
  void ListChanged(std::size_t index);
  void ShowDetectedCount();
  void SetSelectAll(bool checked);
  void ApplyButtons(bool clean, bool del);
  template <typename RowLoop>
  void RunAction(const char* action, RowLoop loop);
  void WalkBegin();
  void WalkFinish();

  WindowView& view_;
  std::unique_ptr<EngineStartup> engine_;
  DetectionList detections_;
  std::vector<std::string> tips_;  // per row, the reason it stays pending
  int detectedCount_ = 0;
  bool selectAll_ = false;
  bool selectAllEnabled_ = false;
  bool activating_ = false;
  bool startupFinished_ = false;
  bool phasesRunning_ = false;   // memory and registry phases, before the walk
  bool actionRunning_ = false;   // "Clean" or "Delete" works through the rows
  bool closePending_ = false;    // closed while one of the two ran
  std::unique_ptr<ScanSession> session_;  // last: stopped before the rest goes
};

}  // namespace korbu
