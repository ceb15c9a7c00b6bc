// The scan page: the progress group over the detection list, buttons below.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "app/DetectionListView.h"
#include "app/ListControl.h"
#include "app/MainForm.h"
#include "app/WindowStyle.h"

namespace korbu {
namespace {

constexpr int kMargin = 8;
constexpr int kBarHeight = 20;
constexpr int kWidth = TMainForm::kClientWidth - 2 * kMargin;
constexpr int kCaptionLeft = kMargin + 12;

}  // namespace

void TMainForm::BuildScanPage() {
  QWidget* page = sheetScan_;

  MakeHeadingBar(page, QStringLiteral("pnlStatus"), QStringLiteral("    Current Operation"))
      ->setGeometry(kMargin, kMargin, kWidth, kBarHeight);
  const int statusTop = kMargin + kBarHeight;
  MakeGroupFrame(page, QStringLiteral("frmStatus"))->setGeometry(kMargin, statusTop, kWidth, 64);
  const QString captions[] = {QStringLiteral("Objects Scanned :"), QStringLiteral("Objects Detected:"),
                              QStringLiteral("Information          :")};
  const int captionWidth = CaptionWidth({captions[0], captions[1], captions[2]});
  const int valueLeft = kCaptionLeft + captionWidth + 4;
  const int valueWidth = TMainForm::kClientWidth - kMargin - 8 - valueLeft;
  MakeLabel(page, QStringLiteral("lbFileScaned"), captions[0])
      ->setGeometry(kCaptionLeft, statusTop + 8, captionWidth, 16);
  lbFileScan_ = MakeLabel(page, QStringLiteral("lbFileScan"), QString());
  lbFileScan_->setGeometry(valueLeft, statusTop + 8, valueWidth, 16);
  MakeLabel(page, QStringLiteral("lbFileDetected"), captions[1])
      ->setGeometry(kCaptionLeft, statusTop + 26, captionWidth, 16);
  lbFileDetCount_ = MakeLabel(page, QStringLiteral("lbFileDetCount"), QString());
  lbFileDetCount_->setGeometry(valueLeft, statusTop + 26, valueWidth, 16);
  MakeLabel(page, QStringLiteral("lbInfo"), captions[2])
      ->setGeometry(kCaptionLeft, statusTop + 44, captionWidth, 16);
  lbInfoScan_ = MakeLabel(page, QStringLiteral("lbInfoScan"), QString());
  lbInfoScan_->setGeometry(valueLeft, statusTop + 44, valueWidth, 16);

  // The list's heading bar holds the select-all box at its left end.
  const int listBarTop = statusTop + 64 + 8;
  QLabel* pnlDetected = MakeHeadingBar(page, QStringLiteral("pnlDetected"),
                                       QStringLiteral("        List of Detected Files"));
  pnlDetected->setGeometry(kMargin, listBarTop, kWidth, kBarHeight);
  cbSelAll_ = MakeFlatCheckBox(pnlDetected, QStringLiteral("cbSelAll"), QString());
  cbSelAll_->setToolTip(QStringLiteral("Check this box for select all."));
  cbSelAll_->setGeometry(4, 2, 16, 16);
  cbSelAll_->setEnabled(false);

  const int listTop = listBarTop + kBarHeight;
  LvFound_ = new TListControl(page);
  LvFound_->setObjectName(QStringLiteral("LvFound"));
  DetectionListView::ConfigureControl(LvFound_);
  LvFound_->setGeometry(kMargin, listTop, kWidth, 318 - listTop);
  listView_ = new DetectionListView(LvFound_);

  const int buttonsTop = 318 + 8;
  const int right = kClientWidth - kMargin;
  btnCancel2_ = MakeButton(page, QStringLiteral("btnCancel2"), QStringLiteral("Exit"));
  btnCancel2_->setGeometry(right - 75, buttonsTop, 75, 25);
  btnDelete_ = MakeButton(page, QStringLiteral("btnDelete"), QStringLiteral("Delete"));
  btnDelete_->setGeometry(right - 2 * 75 - 8, buttonsTop, 75, 25);
  btnDelete_->setEnabled(false);
  btnClean_ = MakeButton(page, QStringLiteral("btnClean"), QStringLiteral("Clean"));
  btnClean_->setGeometry(right - 3 * 75 - 16, buttonsTop, 75, 25);
  btnClean_->setEnabled(false);
  btnBack_ = MakeButton(page, QStringLiteral("btnBack"), QStringLiteral("Back"));
  btnBack_->setGeometry(right - 4 * 75 - 24, buttonsTop, 75, 25);
}

}  // namespace korbu
