// The options page: the location tree in the left column, the scan options over
// the engine information in the right one, the instruction and buttons below.

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "app/FolderTree.h"
#include "app/MainForm.h"
#include "app/WindowStyle.h"

namespace korbu {
namespace {

constexpr int kMargin = 8;
constexpr int kBarHeight = 20;
constexpr int kLeftWidth = 250;
constexpr int kRightLeft = kMargin + kLeftWidth + 8;
constexpr int kRightWidth = TMainForm::kClientWidth - kRightLeft - kMargin;
constexpr int kGroupsBottom = 318;

// The caption labels are padded with spaces before their colons; each is as wide
// as the widest, so that every colon shows.
const char* const kInfoCaptions[] = {"Build                         :", "Engine Version       :",
                                     "Virus Signature      :", "CVD Version            :",
                                     "CVD Date Created :"};

int InfoCaptionWidth() {
  QStringList captions;
  for (const char* caption : kInfoCaptions) captions.push_back(QString::fromLatin1(caption));
  return CaptionWidth(captions);
}

QLabel* CaptionValueRow(QWidget* page, const char* captionName, int row, const char* valueName,
                        int top) {
  const int captionLeft = kRightLeft + 12;
  const int captionWidth = InfoCaptionWidth();
  MakeLabel(page, QString::fromLatin1(captionName), QString::fromLatin1(kInfoCaptions[row]))
      ->setGeometry(captionLeft, top, captionWidth, 16);
  QLabel* value = MakeLabel(page, QString::fromLatin1(valueName), QString());
  const int valueLeft = captionLeft + captionWidth + 4;
  value->setGeometry(valueLeft, top, kRightLeft + kRightWidth - 8 - valueLeft, 16);
  return value;
}

}  // namespace

void TMainForm::BuildOptionsPage() {
  QWidget* page = sheetUtama_;

  pnlLocation_ = MakeHeadingBar(page, QStringLiteral("pnlLocation"),
                                QStringLiteral("   Location to Scan"));
  pnlLocation_->setGeometry(kMargin, kMargin, kLeftWidth, kBarHeight);
  tvLocation_ = new TFolderTree(page);
  tvLocation_->setObjectName(QStringLiteral("tvLocation"));
  tvLocation_->setFont(WindowFont());
  tvLocation_->setGeometry(kMargin, kMargin + kBarHeight, kLeftWidth,
                           kGroupsBottom - kMargin - kBarHeight);
  tvLocation_->setStyleSheet(QStringLiteral("QTreeView#tvLocation { border: 1px solid %1; }")
                                 .arg(kFrameBlue.name()));

  // Scan options.
  pnlOptions_ = MakeHeadingBar(page, QStringLiteral("pnlOptions"),
                               QStringLiteral("    Scan Options"));
  pnlOptions_->setGeometry(kRightLeft, kMargin, kRightWidth, kBarHeight);
  const int optionsTop = kMargin + kBarHeight;
  MakeGroupFrame(page, QStringLiteral("frmOptions"))
      ->setGeometry(kRightLeft, optionsTop, kRightWidth, 150);
  const int boxLeft = kRightLeft + 12;
  const int boxWidth = kRightWidth - 24;
  chkSubfolders_ = MakeFlatCheckBox(page, QStringLiteral("chkSubfolders"),
                                    QStringLiteral("Scan subfolders"));
  chkSubfolders_->setGeometry(boxLeft, optionsTop + 8, boxWidth, 18);
  chkAllFiles_ =
      MakeFlatCheckBox(page, QStringLiteral("chkAllFiles"), QStringLiteral("Scan all files"));
  chkAllFiles_->setGeometry(boxLeft, optionsTop + 30, boxWidth, 18);
  MakeLabel(page, QStringLiteral("Label1"),
            QStringLiteral("    Clear this item to scan program files only"))
      ->setGeometry(boxLeft, optionsTop + 48, boxWidth, 16);
  chkNewVirus_ = MakeFlatCheckBox(page, QStringLiteral("chkNewVirus"),
                                  QStringLiteral("Scan for new unknown viruses"));
  chkNewVirus_->setGeometry(boxLeft, optionsTop + 68, boxWidth, 18);
  MakeLabel(page, QStringLiteral("Label2"),
            QStringLiteral("    Use unique heuristic algorithms to detect new viruses"))
      ->setGeometry(boxLeft, optionsTop + 86, boxWidth, 16);
  chkArchive_ =
      MakeFlatCheckBox(page, QStringLiteral("chkArchive"), QStringLiteral("Scan for archive"));
  chkArchive_->setGeometry(boxLeft, optionsTop + 106, boxWidth, 18);
  QLabel* label8 = MakeLabel(page, QStringLiteral("Label8"),
                             QStringLiteral("Scan compressed file (.zip) for viruses"));
  // Its caption has no leading spaces; indent it to line up with the other two.
  const int indent = QFontMetrics(label8->font()).horizontalAdvance(QStringLiteral("    "));
  label8->setGeometry(boxLeft + indent, optionsTop + 124, boxWidth - indent, 16);

  // Engine information.
  const int infoBarTop = optionsTop + 150 + 8;
  pnlInfo_ = MakeHeadingBar(page, QStringLiteral("pnlInfo"),
                            QStringLiteral("   KORBU Informations"));
  pnlInfo_->setGeometry(kRightLeft, infoBarTop, kRightWidth, kBarHeight);
  const int infoTop = infoBarTop + kBarHeight;
  MakeGroupFrame(page, QStringLiteral("frmInfo"))
      ->setGeometry(kRightLeft, infoTop, kRightWidth, kGroupsBottom - infoTop);
  lbBuild_ = CaptionValueRow(page, "Label3", 0, "lbBuild", infoTop + 8);
  lbEngineVer_ = CaptionValueRow(page, "Label4", 1, "lbEngineVer", infoTop + 24);
  lbVirSign_ = CaptionValueRow(page, "Label5", 2, "lbVirSign", infoTop + 40);
  lbCVDVer_ = CaptionValueRow(page, "Label6", 3, "lbCVDVer", infoTop + 56);
  lbCVDDateMain_ = CaptionValueRow(page, "Label7", 4, "lbCVDDateMain", infoTop + 72);
  lbCVDDateDaily_ = MakeLabel(page, QStringLiteral("lbCVDDateDaily"), QString());
  lbCVDDateDaily_->setGeometry(lbCVDDateMain_->geometry().translated(0, 16));

  // Instruction and buttons.
  lbScan_ = MakeLabel(page, QStringLiteral("lbScan"),
                      QStringLiteral("Select location and click Scan to scan your computer "
                                     "for viruses."),
                      true);
  lbScan_->setStyleSheet(QStringLiteral("color: %1;").arg(kNavy.name()));
  btnHistory_ = MakeButton(page, QStringLiteral("btnHistory"), QStringLiteral("History"));
  const int historyLeft = kClientWidth - kMargin - 3 * 75 - 16;
  btnHistory_->setGeometry(historyLeft, kGroupsBottom + 8, 75, 25);
  lbScan_->setGeometry(kMargin, kGroupsBottom + 12, historyLeft - 2 * kMargin, 16);
  btnScan_ = MakeButton(page, QStringLiteral("btnScan"), QStringLiteral("Scan"));
  btnScan_->setGeometry(kClientWidth - kMargin - 2 * 75 - 8, kGroupsBottom + 8, 75, 25);
  btnCancel_ = MakeButton(page, QStringLiteral("btnCancel"), QStringLiteral("Exit"));
  btnCancel_->setGeometry(kClientWidth - kMargin - 75, kGroupsBottom + 8, 75, 25);
}

}  // namespace korbu
