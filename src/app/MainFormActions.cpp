// The window's side of the selection and the two actions: the select-all box, the
// list's clicks and the "Clean" and "Delete" buttons, bound to the row rules and
// row loops that the command line shares.

#include <QCheckBox>
#include <QPushButton>

#include "app/ListControl.h"
#include "app/MainForm.h"
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
  if (actionRunning_) return;
  ApplyButtons(SelectAllClicked(detections_, checked));
}

void TMainForm::lvFoundClick() {
  if (actionRunning_) return;
  try {
    bool boxChecked = cbSelAll_->isChecked();
    const ActionButtons buttons = ListClicked(detections_, boxChecked);
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
    loop(detections_, ApplyChanges(), [this] { ProcessPendingMessages(); }, RowReporter());
  } catch (...) {
    // A row that fails stays pending; the rows after it keep what the loop did.
  }
  actionRunning_ = false;
  LvFound_->setEnabled(true);
  btnBack_->setEnabled(true);
  btnCancel2_->setEnabled(true);
  const ActionControls controls = UpdateActionButtons(detections_, selectAllEnabled);
  cbSelAll_->setEnabled(controls.selectAllEnabled);
  ApplyButtons(controls.buttons);
  if (closeAfterAction_) close();
}

void TMainForm::btnCleanClick() { RunAction(CleanRows); }

void TMainForm::btnDeleteClick() { RunAction(DeleteRows); }

}  // namespace korbu
