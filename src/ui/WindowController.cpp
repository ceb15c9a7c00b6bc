#include "ui/WindowController.h"

#include <chrono>
#include <exception>
#include <memory>

#include "repair/JournalSink.h"
#include "repair/RowActions.h"
#include "scan/MemoryScan.h"
#include "scan/RegistryScan.h"
#include "scan/ScanSession.h"
#include "scan/ScanTexts.h"
#include "platform/FileSystem.h"
#include "cli/DisplayText.h"
#include "ui/ActionProgress.h"
#include "ui/DatabaseAge.h"
#include "ui/SelectionRules.h"
#include "ui/StartLocation.h"

namespace korbu {
namespace {

// A step that throws has failed for what it throws with.
Status FailureOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return Failure(e.what());
  } catch (...) {
    return Failure("the engine failed unexpectedly");
  }
}

}  // namespace

WindowController::WindowController(WindowView& view, MainThreadDispatcher& dispatcher,
                                   std::unique_ptr<EngineStartup> engine)
    : view_(view),
      dispatcher_(dispatcher),
      engine_(std::move(engine)),
      relay_(*this, dispatcher),
      startup_(dispatcher),
      phases_(dispatcher),
      action_(dispatcher) {
  detections_.SetChangeHandler([this](std::size_t index) { ListChanged(index); });
  // The engine reaches the session once start-up has made it.
  session_ = std::make_unique<ScanSession>(*this, dispatcher, nullptr);
  session_->OnWalkBegin = [this] { WalkBegin(); };
  session_->OnWalkFinish = [this] { WalkFinish(); };
  session_->OnWalkAbort = [this] { view_.SetStopCaption("Exit"); };
  skipped_.Bind(*session_);
}

WindowController::~WindowController() {
  // The work's hand-overs reach the view, which still exists here.
  relay_.Stop();
  WaitForWork();
  session_.reset();
  detections_.SetChangeHandler(nullptr);
}

void WindowController::WaitForWork() {
  startup_.Wait();
  phases_.Wait();
  action_.Wait();
}

// ---- Start-up ----

void WindowController::FormCreate() {
  view_.ShowPage(WindowPage::Options);
  view_.SetEnabled(WindowControl::OptionsPage, false);
  view_.SetStopCaption("Exit");
  for (WindowControl control : {WindowControl::SelectAll, WindowControl::Clean, WindowControl::Delete}) {
    view_.SetEnabled(control, false);
  }
}

void WindowController::FormActivate() {
  // A second activation, also one arriving while the steps run, does nothing.
  if (startup_.Running() || startupFinished_) return;
  startup_.Start([this] { RunEngineSteps(); }, [this](std::exception_ptr) { FinishStartup(); });
}

// On the start-up worker.
// A step that fails leaves the engine as it is (scans still have the own
// detection); its reason is what the window shows of the engine's state.
void WindowController::RunEngineSteps() {
  try {
    engine_->CreateEngine();
    SplashStatus("DLL initialization...");
    SplashStatus(engine_->LibraryAvailable() ? "DLL loaded." : "DLL NOT loaded.");
    SplashStatus("Database initialization...");
    try {
      engineState_ = engine_->LoadDatabase();
    } catch (...) {
      engineState_ = FailureOf(std::current_exception());
    }
    SplashStatus(engineState_ ? "Database loaded." : "Database NOT loaded.");
  } catch (...) {
    engineState_ = FailureOf(std::current_exception());
  }
}

void WindowController::SplashStatus(const std::string& text) {
  dispatcher_.RunOnMainThread([&] { view_.SetText(WindowLabel::SplashStatus, text); });
}

void WindowController::FinishStartup() {
  session_->SetEngine(engine_->Engine());
  session_->SetRemoteEngine(engine_->RemoteEngine());
  try {
    ShowEngineInfo();
  } catch (...) {
    // Labels that could not be filled stay blank.
  }
  // Whatever failed above, the splash must not stay over a disabled page.
  view_.HideSplash();
  view_.SetEnabled(WindowControl::OptionsPage, true);
  view_.FocusScan();
  startupFinished_ = true;
}

void WindowController::ShowEngineInfo() {
  for (ScanOption option : {ScanOption::Subfolders, ScanOption::AllFiles, ScanOption::NewVirus,
                            ScanOption::Archive}) {
    view_.SetOption(option, true);
  }
  view_.SetText(WindowLabel::Build, kBuildText);
  std::string engineVersion;
  try {
    engineVersion = engine_->EngineVersion();
  } catch (...) {
  }
  view_.SetText(WindowLabel::EngineVersion, engineVersion.empty() ? std::string(kEngineVersionText) : engineVersion);
  // Each figure on its own: a damaged database header must not blank the others.
  std::uint32_t count = 0;
  try {
    count = engine_->SignatureCount();
  } catch (...) {
  }
  view_.SetText(WindowLabel::Signatures, SignatureLabel(count));
  view_.SetTip(WindowLabel::Signatures, engineState_.Reason());
  std::pair<std::string, std::string> versions;
  try {
    versions = engine_->DatabaseVersions();
  } catch (...) {
    versions = {};
  }
  view_.SetText(WindowLabel::CvdVersion, DatabaseVersionLabel(versions.first, versions.second));
  std::pair<std::string, std::string> dates;
  try {
    dates = engine_->DatabaseDates();
  } catch (...) {
    dates = {};
  }
  view_.SetText(WindowLabel::CvdDateMain, MainDateLabel(dates.first));
  view_.SetText(WindowLabel::CvdDateDaily, DailyDateLabel(dates.second));
  const std::string age = DatabaseAgeTip(dates.first, dates.second,
                                         std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
  view_.SetTip(WindowLabel::CvdDateMain, age);
  view_.SetTip(WindowLabel::CvdDateDaily, age);
}

// ---- Scan control ----

bool WindowController::ScanBusy() const { return session_ && session_->Busy(); }

void WindowController::ResetScanView() {
  view_.SetText(WindowLabel::FileScan, std::string());
  view_.SetText(WindowLabel::DetectedCount, std::string());
  view_.SetText(WindowLabel::InfoScan, std::string());
  view_.SetTip(WindowLabel::InfoScan, std::string());
  SetSelectAll(false);
  detectedCount_ = 0;
}

void WindowController::btnScanClick() {
  if (!startupFinished_ || ScanRunning() || actionRunning_) return;
  ResetScanView();
  view_.ShowPage(WindowPage::Scan);
  selectAllEnabled_ = false;
  // The list and both actions stay closed from here until the walk has ended;
  // "Back" too, which would leave the phases adding rows behind the options page.
  for (WindowControl control : {WindowControl::Clean, WindowControl::Delete, WindowControl::SelectAll,
                                WindowControl::List, WindowControl::Back}) {
    view_.SetEnabled(control, false);
  }
  view_.SetStopCaption("Stop");
  phasesRunning_ = true;
  scanningFile_.clear();
  fileJudged_ = false;
  try {
    if (!fileTarget_.empty() && SameFolder(view_.SelectedLocation(), FolderToSelect(fileTarget_))) {
      scanningFile_ = fileTarget_;
    }
    session_->ApplyScanOptions();
    skipped_.BeginScan(*session_);
  } catch (...) {
    PhasesFinished(std::current_exception());
    return;
  }
  relay_.Begin();
  // The phases judge one program after another; a program's verdict may take
  // seconds, which the window must not wait for.
  phases_.Start(
      [this] {
        try {
          ScanMemory(relay_, session_->Context());
          ScanRegistry(relay_, session_->Context(), *session_->System());
          if (!scanningFile_.empty() && !relay_.StopAsked()) JudgeFileTarget();
        } catch (const PhaseRelay::Stopped&) {
          // Asked to stop: the phase ends here, the walk does not start.
        }
      },
      [this](std::exception_ptr error) { PhasesFinished(error); });
}

void WindowController::PhasesFinished(std::exception_ptr error) {
  phasesRunning_ = false;
  view_.SetEnabled(WindowControl::Back, true);
  std::string message;
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      message = e.what();
    } catch (...) {
      message = "The scan failed.";
    }
  }
  if (closePending_) {
    // Closed while the phases ran: no walk may start behind the window.
    view_.CloseWindow();
    return;
  }
  if (!message.empty() || relay_.StopAsked() || !scanningFile_.empty()) {
    EndScanWithoutWalk();
  } else {
    session_->StartFileSearch();
  }
  if (!message.empty()) view_.ShowMessage(message);
}

// The walk never started: what its end would show, with the counts at nothing.
void WindowController::EndScanWithoutWalk() {
  ShowOperation(SummaryLine(fileJudged_ ? 1 : 0, 0));
  ShowObject(std::string());
  WalkFinish();
}

void WindowController::SetFileTarget(const std::string& file) {
  fileTarget_ = file;
  view_.SetScanTip(file.empty() ? std::string()
                                : "While its folder stays selected, Scan judges this file alone: " +
                                      cli::ReadableFileName(file));
}

// On the phases' worker: the one file is judged as the walk judges its files,
// within the walk's size limit; its row is handed over like theirs.
void WindowController::JudgeFileTarget() {
  const auto entry = platform::GetEntryInfo(scanningFile_);
  if (!entry || entry->kind != platform::EntryKind::Regular) {
    skipped_.Add(SkipReason::Unreadable, scanningFile_, "it is no longer a file");
    return;
  }
  if (skipped_.SizeLimit() != 0 && entry->size > skipped_.SizeLimit()) {
    skipped_.Add(SkipReason::OverSizeLimit, scanningFile_);
    return;
  }
  fileJudged_ = true;
  session_->ScanOneFile(scanningFile_);
}

void WindowController::btnCancelClick() { view_.CloseWindow(); }

bool WindowController::ConfirmStop() {
  if (!view_.AskConfirm(kStopQuestion)) return false;
  if (phasesRunning_) {
    // The program being judged gets its verdict; the phases end after it.
    relay_.Stop();
    phases_.Wait();
    return true;
  }
  // The walk may have ended while the question was open.
  if (!ScanBusy()) return false;
  view_.ProcessPendingMessages();
  session_->Abort();
  return true;
}

void WindowController::btnCancel2Click() {
  if (actionRunning_) return;
  if (!ScanRunning()) {
    view_.CloseWindow();
    return;
  }
  if (!ConfirmStop()) return;
  ShowObject(kScanStoppedText);
  view_.SetStopCaption("Exit");
}

void WindowController::btnBackClick() {
  if (phasesRunning_ || actionRunning_) return;
  try {
    if (ScanBusy() && !view_.AskConfirm(kStopQuestion)) return;
    if (ScanBusy()) {
      view_.ProcessPendingMessages();
      session_->Abort();
    }
    view_.ShowPage(WindowPage::Options);
    detections_.Clear();
  } catch (...) {
    // Leaving the scan page never fails for the user.
  }
}

bool WindowController::CloseQuery() {
  if (phasesRunning_ || actionRunning_) {
    closePending_ = true;
    relay_.Stop();
    if (actionRunning_) ShowActionProgress();
    return false;
  }
  // The engine steps cannot be cut short; the program ends without them, and
  // the splash must not keep it alive.
  if (startup_.Running()) view_.HideSplash();
  // No question; a walk still running stops before the window goes.
  if (ScanBusy()) session_->Abort();
  return true;
}

void WindowController::WalkBegin() { view_.SetEnabled(WindowControl::List, false); }

void WindowController::WalkFinish() {
  ShowDetectedCount();
  ShowSkipped();
  if (detectedCount_ > 0) {
    selectAllEnabled_ = true;
    view_.SetEnabled(WindowControl::SelectAll, true);
  }
  view_.SetStopCaption("Exit");
  view_.SetEnabled(WindowControl::List, true);
}

ScanOptions WindowController::ReadOptions() const {
  ScanOptions options;
  options.subfolders = view_.OptionChecked(ScanOption::Subfolders);
  options.allFiles = view_.OptionChecked(ScanOption::AllFiles);
  options.heuristic = view_.OptionChecked(ScanOption::NewVirus);
  options.archive = view_.OptionChecked(ScanOption::Archive);
  options.location = view_.SelectedLocation();
  return options;
}

void WindowController::ShowOperation(const std::string& text) {
  operation_ = text;
  view_.SetText(WindowLabel::InfoScan, text);
}

void WindowController::ShowFileError(const std::string& path, const std::string& reason) {
  skipped_.Add(SkipReason::Unreadable, path, reason);
}

void WindowController::ShowNotJudgedWhole(const std::string& path, const EngineLimitReached& limit) {
  skipped_.Add(SkipReason::JudgedInPart, path, "the engine's " + limit.name + " limit");
}

// The summary line stays as it is; what was left out follows it, named in the tip.
void WindowController::ShowSkipped() {
  const std::string sentence = skipped_.Sentence();
  if (!sentence.empty()) view_.SetText(WindowLabel::InfoScan, operation_ + " " + sentence);
  view_.SetTip(WindowLabel::InfoScan, skipped_.Details());
}

void WindowController::ShowObject(const std::string& text) {
  objectText_ = text;
  view_.SetText(WindowLabel::FileScan, text);
}

// ---- Detection list ----

void WindowController::ListChanged(std::size_t index) {
  if (index == DetectionList::npos) {
    tips_.clear();
    view_.ClearRows();
  } else if (index < detections_.Count()) {
    tips_.resize(detections_.Count());
    view_.ShowRow(index, detections_.Row(index), tips_[index]);
  }
  ShowDetectedCount();
}

void WindowController::ShowDetectedCount() {
  detectedCount_ = static_cast<int>(detections_.Count());
  view_.SetText(WindowLabel::DetectedCount, std::to_string(detectedCount_));
}

std::string WindowController::RowTip(std::size_t index) const {
  return index < tips_.size() ? tips_[index] : std::string();
}

// ---- Selection and actions ----

void WindowController::ApplyButtons(bool clean, bool del) {
  view_.SetEnabled(WindowControl::Clean, clean);
  view_.SetEnabled(WindowControl::Delete, del);
}

void WindowController::SetSelectAll(bool checked) {
  if (checked == selectAll_) return;
  view_.SetSelectAllChecked(checked);
  // A change of the box's state acts as a click on it.
  cbSelAllClick(checked);
}

void WindowController::cbSelAllClick(bool checked) {
  selectAll_ = checked;
  // During a scan or an action the marks and buttons are not the user's to change.
  if (ScanRunning() || actionRunning_) return;
  const ActionButtons buttons = SelectAllClicked(detections_, checked);
  ApplyButtons(buttons.clean, buttons.del);
  // Nothing left to select: a ticked box would look broken.
  if (checked && PendingCount(detections_) == 0) SetSelectAll(false);
}

void WindowController::LvFoundItemChecked(std::size_t index, bool checked) {
  if (index >= detections_.Count()) return;
  if (!ScanRunning() && !actionRunning_) detections_.SetChecked(index, checked);
  // A refused mark (a handled row, or the list is busy) changes nothing in the
  // list: put the view back in step.
  if (detections_.Row(index).checked != checked) view_.ShowRow(index, detections_.Row(index), RowTip(index));
}

void WindowController::lvFoundClick() {
  if (ScanRunning() || actionRunning_) return;
  try {
    const std::size_t rows = detections_.Count();
    SetSelectAll(rows > 0 && CheckedCount(detections_) == rows);
    const ActionButtons buttons = ButtonRule(detections_);
    ApplyButtons(buttons.clean, buttons.del);
  } catch (...) {
    // A click in the list never fails for the user.
  }
}

void WindowController::RunAction(const char* action, RowLoop loop) {
  if (!startupFinished_ || actionRunning_ || ScanRunning()) return;
  // Nothing the user clicks meanwhile may change the list under the action or
  // start a second one over the same rows.
  actionRunning_ = true;
  for (WindowControl control : {WindowControl::List, WindowControl::SelectAll, WindowControl::Clean,
                                WindowControl::Delete, WindowControl::Back, WindowControl::Stop}) {
    view_.SetEnabled(control, false);
  }
  view_.ShowBusy(true);
  actionName_ = action;
  actionTotal_ = CheckedCount(detections_);
  actionDone_ = 0;
  ShowActionProgress();
  // The worker acts on its own copy of the rows; each row's result is handed to
  // the window's list as soon as it is known, before the next row's repair.
  auto rows = std::make_shared<DetectionList>(detections_);
  rows->SetChangeHandler(nullptr);
  const std::string name = action;
  // Set by the worker before it ends, read once it has.
  auto problem = std::make_shared<std::string>();
  action_.Start(
      [this, rows, name, loop, problem, system = session_->System()] {
        // Every change is journaled first, so that korbu-scan --undo can reverse it.
        const auto journal = RecordedChanges(name, *rows);
        loop(*rows, system, *journal, nullptr, [this, &rows](const RowResult& result) {
          dispatcher_.RunOnMainThread([&] { ShowRowResult(*rows, result); });
        });
        // The records are on the disk before the action is over; a journal that
        // refused changes is why rows stayed as they were, and the user is told.
        const Status finished = journal->Finish();
        if (!journal->Error().empty()) {
          *problem = "Changes refused: " + cli::ReadableFileName(journal->Error());
        } else if (!finished) {
          *problem = cli::ReadableFileName(finished.error().reason);
        }
      },
      // A row that fails stays pending; the rows before it keep what the loop did.
      [this, rows, problem](std::exception_ptr) { FinishAction(*rows, *problem); });
}

// The count of rows done stands in the status line while the action runs.
void WindowController::ShowActionProgress() {
  view_.SetText(WindowLabel::FileScan, ActionProgressText(actionName_, actionDone_, actionTotal_, closePending_));
}

void WindowController::ShowRowResult(const DetectionList& done, const RowResult& result) {
  if (result.index >= detections_.Count() || result.index >= done.Count()) return;
  ++actionDone_;
  ShowActionProgress();
  tips_.resize(detections_.Count());
  tips_[result.index] = result.handled ? std::string() : result.reason;
  const DetectionRow& row = done.Row(result.index);
  detections_.SetState(result.index, row.state, row.failure);
  detections_.SetChecked(result.index, row.checked);
  // Also when only the tip changed.
  view_.ShowRow(result.index, detections_.Row(result.index), tips_[result.index]);
}

void WindowController::FinishAction(const DetectionList& done, const std::string& problem) {
  for (std::size_t i = 0; i < detections_.Count() && i < done.Count(); ++i) {
    detections_.SetState(i, done.Row(i).state, done.Row(i).failure);
    detections_.SetChecked(i, done.Row(i).checked);
  }
  actionRunning_ = false;
  view_.ShowBusy(false);
  view_.SetText(WindowLabel::FileScan, objectText_);
  for (WindowControl control : {WindowControl::List, WindowControl::Back, WindowControl::Stop}) {
    view_.SetEnabled(control, true);
  }
  const ActionControls controls = UpdateActionButtons(detections_, selectAllEnabled_);
  selectAllEnabled_ = controls.selectAllEnabled;
  view_.SetEnabled(WindowControl::SelectAll, selectAllEnabled_);
  ApplyButtons(controls.buttons.clean, controls.buttons.del);
  if (PendingCount(detections_) == 0) SetSelectAll(false);
  if (!problem.empty()) view_.ShowMessage(problem);
  if (closePending_) view_.CloseWindow();
}

void WindowController::btnCleanClick() { RunAction("clean", CleanRows); }

void WindowController::btnDeleteClick() { RunAction("delete", DeleteRows); }

}  // namespace korbu
