// The window's side of a scan: the buttons that start, stop and leave it, and the
// walk's begin, end and stop shown on the scan page.

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>

#include <exception>
#include <optional>

#include "app/ConfirmBox.h"
#include "app/ErrorBox.h"
#include "app/ListControl.h"
#include "app/MainForm.h"
#include "scan/ScanSession.h"
#include "scan/ScanTexts.h"

namespace korbu {
namespace {

const char* const kStopQuestion = "Scanning is under process, would you want to stop?";

}  // namespace

void TMainForm::ConnectScanControl() {
  session_ = std::make_unique<ScanSession>(*this, dispatcher_);
  session_->OnWalkBegin = [this] { FindFileSearchBegin(); };
  session_->OnWalkFinish = [this] { FindFileSearchFinish(); };
  session_->OnWalkAbort = [this] { FindFileSearchAbort(); };
  connect(btnScan_, &QPushButton::clicked, this, &TMainForm::btnScanClick);
  connect(btnCancel_, &QPushButton::clicked, this, &TMainForm::btnCancelClick);
  connect(btnCancel2_, &QPushButton::clicked, this, &TMainForm::btnCancel2Click);
  connect(btnBack_, &QPushButton::clicked, this, &TMainForm::btnBackClick);
}

bool TMainForm::ScanBusy() const { return session_ && session_->Busy(); }

void TMainForm::ResetScanView() {
  lbFileScan_->clear();
  objectText_.clear();
  lbFileDetCount_->clear();
  lbInfoScan_->clear();
  cbSelAll_->setChecked(false);
  detectedCount_ = 0;
}

void TMainForm::btnScanClick() {
  if (phasesRunning_ || ScanBusy()) return;
  ResetScanView();
  pcMain_->setCurrentWidget(sheetScan_);
  btnClean_->setEnabled(false);
  btnDelete_->setEnabled(false);
  cbSelAll_->setEnabled(false);
  // The memory and registry phases add rows too; they are marked after the walk.
  LvFound_->setEnabled(false);
  btnCancel2_->setText(QStringLiteral("Stop"));
  // The memory and registry phases let messages run between items; "Back" then
  // would leave them adding rows behind the options page, so it waits for the walk.
  btnBack_->setEnabled(false);
  phasesRunning_ = true;
  // A phase that fails ends the scan before the walk; the user is told why.
  std::optional<QString> failure;
  try {
    session_->RunScan();
  } catch (const std::exception& error) {
    failure = QString::fromLocal8Bit(error.what());
  } catch (...) {
    failure = QStringLiteral("The scan failed.");
  }
  phasesRunning_ = false;
  btnBack_->setEnabled(true);
  if (!ScanBusy()) btnCancel2_->setText(QStringLiteral("Exit"));
  if (failure) {
    // No walk will end this scan: the rows found so far become usable now.
    if (!ScanBusy()) FindFileSearchFinish();
    ErrorBox::Show(this, *failure);
  }
  if (closeRequested_) {
    // Closed while the phases ran: do not leave a walk running behind the window.
    session_->Abort();
  }
}

void TMainForm::btnCancelClick() { close(); }

void TMainForm::btnCancel2Click() {
  if (!ScanBusy()) {
    close();
    return;
  }
  if (!ConfirmBox::Ask(this, QString::fromLatin1(kStopQuestion))) return;
  ProcessPendingMessages();
  // The walk may have ended while the question was open: its summary stands.
  if (!ScanBusy()) return;
  session_->Abort();
  ShowObject(kScanStoppedText);
  btnCancel2_->setText(QStringLiteral("Exit"));
}

void TMainForm::btnBackClick() {
  try {
    if (ScanBusy()) {
      if (!ConfirmBox::Ask(this, QString::fromLatin1(kStopQuestion))) return;
      ProcessPendingMessages();
      session_->Abort();
    }
    ShowOptionsPage();
    detections_.Clear();
  } catch (...) {
    // Leaving the scan page never fails for the user.
  }
}

void TMainForm::ShowOptionsPage() { pcMain_->setCurrentWidget(sheetUtama_); }

void TMainForm::FindFileSearchBegin() {
  // The user cannot click or check rows that are still being added.
  LvFound_->setEnabled(false);
}

void TMainForm::FindFileSearchFinish() {
  lvFoundChange();
  if (detectedCount_ > 0) cbSelAll_->setEnabled(true);
  btnCancel2_->setText(QStringLiteral("Exit"));
  LvFound_->setEnabled(true);
}

void TMainForm::FindFileSearchAbort() { btnCancel2_->setText(QStringLiteral("Exit")); }

void TMainForm::closeEvent(QCloseEvent* event) {
  if (actionRunning_) {
    // The rows being cleaned or deleted belong to the window: it closes when the
    // action has finished its current row and the rest.
    closeAfterAction_ = true;
    event->ignore();
    return;
  }
  // No question here; a running walk is stopped before the window goes away.
  if (phasesRunning_) closeRequested_ = true;
  if (ScanBusy()) session_->Abort();
  QWidget::closeEvent(event);
}

}  // namespace korbu
