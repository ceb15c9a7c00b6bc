// What the window logic shows, over the window's Qt controls.

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

#include "app/ConfirmBox.h"
#include "app/DetectionListView.h"
#include "app/ErrorBox.h"
#include "app/FolderTree.h"
#include "app/ListControl.h"
#include "app/MainForm.h"
#include "app/SplashForm.h"
#include "app/WindowStyle.h"

namespace korbu {
namespace {

QString FromBytes(const std::string& text) { return QString::fromLocal8Bit(text); }

}  // namespace

QLabel* TMainForm::Label(WindowLabel label) const {
  switch (label) {
    case WindowLabel::Build: return lbBuild_;
    case WindowLabel::EngineVersion: return lbEngineVer_;
    case WindowLabel::Signatures: return lbVirSign_;
    case WindowLabel::CvdVersion: return lbCVDVer_;
    case WindowLabel::CvdDateMain: return lbCVDDateMain_;
    case WindowLabel::CvdDateDaily: return lbCVDDateDaily_;
    case WindowLabel::FileScan: return lbFileScan_;
    case WindowLabel::DetectedCount: return lbFileDetCount_;
    case WindowLabel::InfoScan: return lbInfoScan_;
    case WindowLabel::SplashStatus: break;
  }
  return nullptr;
}

QWidget* TMainForm::ControlOf(WindowControl control) const {
  switch (control) {
    case WindowControl::OptionsPage: return sheetUtama_;
    case WindowControl::List: return LvFound_;
    case WindowControl::SelectAll: return cbSelAll_;
    case WindowControl::Back: return btnBack_;
    case WindowControl::Clean: return btnClean_;
    case WindowControl::Delete: return btnDelete_;
    case WindowControl::Stop: return btnCancel2_;
  }
  return nullptr;
}

QCheckBox* TMainForm::OptionBox(ScanOption option) const {
  switch (option) {
    case ScanOption::Subfolders: return chkSubfolders_;
    case ScanOption::AllFiles: return chkAllFiles_;
    case ScanOption::NewVirus: return chkNewVirus_;
    case ScanOption::Archive: return chkArchive_;
  }
  return nullptr;
}

void TMainForm::SetText(WindowLabel label, const std::string& text) {
  if (label == WindowLabel::SplashStatus) {
    if (!splash_) return;
    splash_->raise();
    splash_->SetStatus(FromBytes(text));
  } else if (label == WindowLabel::FileScan) {
    ShowObject(QFile::decodeName(QByteArray::fromStdString(text)));
  } else if (QLabel* shown = Label(label)) {
    shown->setText(FromBytes(text));
  }
}

void TMainForm::ShowObject(const QString& text) {
  // Deep paths are cut in the middle so that both the drive end and the name show.
  const QString shown =
      QFontMetrics(lbFileScan_->font()).elidedText(text, Qt::ElideMiddle, lbFileScan_->width());
  lbFileScan_->setText(shown);
  lbFileScan_->setToolTip(shown == text ? QString() : text);
}

void TMainForm::SetTip(WindowLabel label, const std::string& tip) {
  if (QLabel* shown = Label(label)) shown->setToolTip(FromBytes(tip));
}

void TMainForm::SetEnabled(WindowControl control, bool enabled) {
  if (QWidget* target = ControlOf(control)) target->setEnabled(enabled);
}

void TMainForm::SetStopCaption(const std::string& caption) { btnCancel2_->setText(Keyed(FromBytes(caption))); }

void TMainForm::ShowPage(WindowPage page) {
  pcMain_->setCurrentWidget(page == WindowPage::Scan ? sheetScan_ : sheetUtama_);
}

void TMainForm::FocusScan() { btnScan_->setFocus(); }

void TMainForm::SetScanTip(const std::string& tip) { btnScan_->setToolTip(QString::fromStdString(tip)); }

void TMainForm::SetOption(ScanOption option, bool checked) {
  if (QCheckBox* box = OptionBox(option)) box->setChecked(checked);
}

bool TMainForm::OptionChecked(ScanOption option) const {
  const QCheckBox* box = OptionBox(option);
  return box != nullptr && box->isChecked();
}

std::string TMainForm::SelectedLocation() const { return tvLocation_->SelectedPath(); }

void TMainForm::SetSelectAllChecked(bool checked) { cbSelAll_->setChecked(checked); }

void TMainForm::ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) {
  listView_->ShowRow(index, row, tip);
}

void TMainForm::ClearRows() { listView_->Clear(); }

bool TMainForm::AskConfirm(const std::string& question) { return ConfirmBox::Ask(this, FromBytes(question)); }

void TMainForm::ShowMessage(const std::string& text) { ErrorBox::Show(this, FromBytes(text)); }

void TMainForm::ProcessPendingMessages() { QCoreApplication::processEvents(); }

void TMainForm::ShowBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TMainForm::HideSplash() {
  if (!splash_) return;
  splash_->hide();
  splash_->deleteLater();  // its own events may still be queued
  splash_ = nullptr;
}

void TMainForm::CloseWindow() { close(); }

}  // namespace korbu
