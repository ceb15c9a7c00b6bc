#pragma once
// The desktop window's logic, the same for every toolkit: start-up with its status
// texts and engine information, the control of a scan, the detection list shown
// in the window, the selection rules and the "Clean" and "Delete" actions. The
// toolkit's window forwards its events here and implements WindowView.
//
// The controller and its state live on the main thread. Its long work (loading
// the engine, the memory and registry phases, an action's repairs) runs on a
// worker, which hands what it shows to the main thread in order; the file walk has
// a worker of its own. So the window paints and answers throughout.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/MainThreadDispatcher.h"
#include "repair/RowActions.h"
#include "scan/DetectionList.h"
#include "scan/ScanFrontEnd.h"
#include "engine/EngineStartup.h"
#include "ui/BackgroundWork.h"
#include "ui/PhaseRelay.h"
#include "ui/SkippedFiles.h"
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
  /// Starts the engine steps on the first activation; later ones do nothing.
  /// Returns at once; the steps report to the splash as they go, and the options
  /// page opens once they have ended.
  void FormActivate();
  bool StartupFinished() const { return startupFinished_; }
  /// True while the engine steps run; nothing has been changed then, so a
  /// program closed meanwhile may end without waiting for them.
  bool StartupRunning() const { return startup_.Running(); }
  /// Returns once no start-up, scan phase or action works in the background,
  /// running the hand-overs meanwhile. The walk: Session().WaitForEnd().
  void WaitForWork();
  /// Checks the four options and fills the information labels from the engine.
  void ShowEngineInfo();

  // Scan control.
  /// A file named on the command line or dropped: while the location selected is
  /// its folder, "Scan" judges that file alone instead of walking the folder.
  /// Empty for none.
  void SetFileTarget(const std::string& file);
  void btnScanClick();
  void btnCancelClick();
  void btnCancel2Click();
  void btnBackClick();
  /// The user asks to close the window: true when it may go now. Otherwise it
  /// closes by itself (CloseWindow) once the work in progress has ended; the
  /// memory and registry phases end at their next object for it, and an
  /// action's count says that the window closes when it has ended.
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
  void ShowFileError(const std::string& path, const std::string& reason) override;
  void ShowNotJudgedWhole(const std::string& path, const EngineLimitReached& limit) override;

 private:
  void RunEngineSteps();
  void SplashStatus(const std::string& text);
  void FinishStartup();
  void ResetScanView();
  void PhasesFinished(std::exception_ptr error);
  void EndScanWithoutWalk();
  void JudgeFileTarget();
  bool ConfirmStop();
  void ListChanged(std::size_t index);
  void ShowDetectedCount();
  void SetSelectAll(bool checked);
  void ApplyButtons(bool clean, bool del);
  using RowLoop = void (*)(DetectionList&, const std::shared_ptr<platform::WindowsSystem>&, ChangeSink&,
                          const PendingMessages&, const RowReporter&);
  void RunAction(const char* action, RowLoop loop);
  void ShowRowResult(const DetectionList& done, const RowResult& result);
  /// problem: what the journal refused, told to the user when not empty.
  void FinishAction(const DetectionList& done, const std::string& problem);
  void ShowActionProgress();
  void WalkBegin();
  void WalkFinish();
  void ShowSkipped();

  WindowView& view_;
  MainThreadDispatcher& dispatcher_;
  std::unique_ptr<EngineStartup> engine_;
  DetectionList detections_;
  std::vector<std::string> tips_;  // per row, the reason it stays pending
  int detectedCount_ = 0;
  std::string operation_;  // the Information text shown last
  std::string fileTarget_;    // see SetFileTarget
  std::string scanningFile_;  // the file this scan judges alone; empty for a walk
  bool fileJudged_ = false;
  SkippedFiles skipped_;   // what the scan left out; outlives the session
  bool selectAll_ = false;
  bool selectAllEnabled_ = false;
  bool startupFinished_ = false;
  // The engine steps' outcome: written by the start-up worker before it ends.
  Status engineState_ = Failure("not set up yet");
  bool phasesRunning_ = false;   // memory and registry phases, before the walk
  bool actionRunning_ = false;   // "Clean" or "Delete" works through the rows
  bool closePending_ = false;    // closed while one of the two ran
  std::string actionName_;       // of the action running: "clean" or "delete"
  std::size_t actionTotal_ = 0;  // its checked rows
  std::size_t actionDone_ = 0;   // the rows whose result has been shown
  std::string objectText_;       // the status line the scan left, shown again after the action
  std::unique_ptr<ScanSession> session_;
  PhaseRelay relay_;
  // Last: each waits for its work, whose hand-overs use what is above.
  BackgroundWork startup_;
  BackgroundWork phases_;
  BackgroundWork action_;
};

}  // namespace korbu
