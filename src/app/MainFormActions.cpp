// The window's side of the selection and the two actions: the select-all box, the
// list's clicks and the "Clean" and "Delete" buttons, bound to the row rules and
// row loops that the command line shares.

#include <QCheckBox>
#include <QPushButton>

#include "app/DetectionListView.h"
#include "app/ListControl.h"
#include "app/MainForm.h"
#include "repair/JournalSink.h"
#include "repair/RowActions.h"

namespace korbu {

void TMainForm::ConnectActions() {
  // toggled fires on every change of the box's state, by the user or the program,
  // and not when it is set to the state it already has.
  connect(cbSelAll_, &QCheckBox::toggled, this, &TMainForm::cbSelAllClick);
  connect(LvFound_, &TListControl::Clicked, this, &TMainForm::lvFoundClick);
  connect(LvFound_, &TListControl::DoubleClicked, this, &TMainForm::lvFoundDblClick);
  connect(btnClean_, &QPushButton::clicked, this, &TMainForm::btnCleanClick);
  connect(btnDelete_, &QPushButton::clicked, this, &TMainForm::btnDeleteClick);
}

void TMainForm::ApplyButtons(const ActionButtons& buttons) {
  btnClean_->setEnabled(buttons.clean);
  btnDelete_->setEnabled(buttons.del);
}

void TMainForm::cbSelAllClick(bool checked) {
  // During a scan the buttons stay disabled whatever is marked.
  if (actionRunning_ || phasesRunning_ || ScanBusy()) return;
  ApplyButtons(SelectAllClicked(detections_, checked));
}

void TMainForm::lvFoundClick() {
  if (actionRunning_ || phasesRunning_ || ScanBusy()) return;
  try {
    bool boxChecked = cbSelAll_->isChecked();
    const ActionButtons buttons = ListClicked(detections_, boxChecked);
    // With no pending row (an empty list, or every row handled) "all checked"
    // holds trivially; a ticked box would then stand over nothing it could mark.
    if (PendingCount(detections_) == 0) boxChecked = false;
    // The box's own change runs cbSelAllClick, which has already applied the marks.
    cbSelAll_->setChecked(boxChecked);
    ApplyButtons(buttons);
  } catch (...) {
    // A click in the list never fails for the user.
  }
}

void TMainForm::lvFoundDblClick() { lvFoundClick(); }

template <typename RowLoop>
void TMainForm::RunAction(RowLoop loop) {
  if (actionRunning_ || phasesRunning_ || ScanBusy()) return;
  // Messages run between rows: nothing the user clicks meanwhile may change the
  // list under the loop or start a second action over the same rows.
  actionRunning_ = true;
  const bool selectAllEnabled = cbSelAll_->isEnabled();
  QWidget* const locked[] = {LvFound_, cbSelAll_, btnClean_, btnDelete_, btnBack_, btnCancel2_};
  for (QWidget* control : locked) control->setEnabled(false);
  try {
    // Every change is journaled first, so that korbu-scan --undo can reverse it.
    const auto journal = RecordedChanges(loop == &CleanRows ? "clean" : "delete", detections_);
    // Each row shows its result, or why it stays pending, as soon as it is done.
    loop(detections_, *journal, [this] { ProcessPendingMessages(); },
         [this](const RowResult& result) {
           listView_->SetRowReason(result.index,
                                   result.handled ? std::string() : result.reason);
           ProcessPendingMessages();
         });
  } catch (...) {
    // A row that fails stays pending; the rows after it keep what the loop did.
  }
  actionRunning_ = false;
  LvFound_->setEnabled(true);
  btnBack_->setEnabled(true);
  btnCancel2_->setEnabled(true);
  if (PendingCount(detections_) == 0) cbSelAll_->setChecked(false);
  const ActionControls controls = UpdateActionButtons(detections_, selectAllEnabled);
  cbSelAll_->setEnabled(controls.selectAllEnabled);
  ApplyButtons(controls.buttons);
  if (closeAfterAction_) close();
}

void TMainForm::btnCleanClick() { RunAction(CleanRows); }

void TMainForm::btnDeleteClick() { RunAction(DeleteRows); }

}  // namespace korbu
