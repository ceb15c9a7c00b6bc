// The two pages: the location tree beside the scan options and the engine
// information, with the instruction and buttons below; and the progress group over
// the detection list, with its buttons below.

#include "ui/HistoryModel.h"
#include "win32app/Controls.h"
#include "win32app/MainWindow.h"

namespace korbu::win32app {
namespace {

constexpr int kMargin = 8;
constexpr int kBarHeight = 20;
constexpr int kLeftWidth = 250;
constexpr int kRightLeft = kMargin + kLeftWidth + 8;
constexpr int kRightWidth = MainWindow::kClientWidth - kRightLeft - kMargin;
constexpr int kGroupsBottom = 318;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
// Wide enough for each padded caption, colon included.
constexpr int kCaptionWidth = 124;
constexpr int kValueLeft = kRightLeft + 12 + kCaptionWidth + 4;

void CaptionValueRow(HWND page, int captionId, const char* caption, int valueId, int top, DWORD valueStyle = 0) {
  MakeLabel(page, captionId, caption, kRightLeft + 12, top, kCaptionWidth, 16);
  MakeLabel(page, valueId, "", kValueLeft, top, kRightLeft + kRightWidth - 8 - kValueLeft, 16, false, valueStyle);
}

}  // namespace

void MainWindow::BuildOptionsPage() {
  HWND page = sheetUtama_;
  MakeBar(page, kPnlLocation, "   Location to Scan", kMargin, kMargin, kLeftWidth, kBarHeight);
  tree_ = std::make_unique<FolderTree>(page, kTvLocation, kMargin, kMargin + kBarHeight, kLeftWidth,
                                       kGroupsBottom - kMargin - kBarHeight);

  MakeBar(page, kPnlOptions, "    Scan Options", kRightLeft, kMargin, kRightWidth, kBarHeight);
  const int optionsTop = kMargin + kBarHeight;
  AddFrame(page, RECT{kRightLeft, optionsTop, kRightLeft + kRightWidth, optionsTop + 150});
  const int boxLeft = kRightLeft + 12;
  const int boxWidth = kRightWidth - 24;
  MakeCheckBox(page, kChkSubfolders, "Scan subfolders", boxLeft, optionsTop + 8, boxWidth, 18);
  MakeCheckBox(page, kChkAllFiles, "Scan all files", boxLeft, optionsTop + 30, boxWidth, 18);
  MakeLabel(page, kLabel1, "    Clear this item to scan program files only", boxLeft,
            optionsTop + 48, boxWidth, 16);
  MakeCheckBox(page, kChkNewVirus, "Scan for new unknown viruses", boxLeft, optionsTop + 68,
               boxWidth, 18);
  MakeLabel(page, kLabel2, "    Use unique heuristic algorithms to detect new viruses", boxLeft,
            optionsTop + 86, boxWidth, 16);
  MakeCheckBox(page, kChkArchive, "Scan for archive", boxLeft, optionsTop + 106, boxWidth, 18);
  // Its caption has no leading spaces; indented to line up with the other two.
  MakeLabel(page, kLabel8, "Scan compressed file (.zip) for viruses", boxLeft + 12,
            optionsTop + 124, boxWidth - 12, 16);

  const int infoBarTop = optionsTop + 150 + 8;
  MakeBar(page, kPnlInfo, "   KORBU Informations", kRightLeft, infoBarTop, kRightWidth, kBarHeight);
  const int infoTop = infoBarTop + kBarHeight;
  AddFrame(page, RECT{kRightLeft, infoTop, kRightLeft + kRightWidth, kGroupsBottom});
  CaptionValueRow(page, kLabel3, "Build                         :", kLbBuild, infoTop + 8);
  CaptionValueRow(page, kLabel4, "Engine Version       :", kLbEngineVer, infoTop + 24);
  // SS_NOTIFY: the label sees the mouse for its tip, which tells why no databases are loaded.
  CaptionValueRow(page, kLabel5, "Virus Signature      :", kLbVirSign, infoTop + 40, SS_NOTIFY);
  CaptionValueRow(page, kLabel6, "CVD Version            :", kLbCVDVer, infoTop + 56);
  // The dates' tip tells how old the databases are.
  CaptionValueRow(page, kLabel7, "CVD Date Created :", kLbCVDDateMain, infoTop + 72, SS_NOTIFY);
  MakeLabel(page, kLbCVDDateDaily, "", kValueLeft, infoTop + 88, kRightLeft + kRightWidth - 8 - kValueLeft, 16, false,
            SS_NOTIFY);

  const int right = kClientWidth - kMargin;
  const int historyLeft = right - 3 * kButtonWidth - 16;
  MakeLabel(page, kLbScan, "Select location and click Scan to scan your computer for viruses.",
            kMargin, kGroupsBottom + 12, historyLeft - 2 * kMargin, 16, true);
  MakeButton(page, kBtnHistory, kHistoryCaption, historyLeft, kGroupsBottom + 8, kButtonWidth, kButtonHeight);
  MakeButton(page, kBtnScan, "Scan", right - 2 * kButtonWidth - 8, kGroupsBottom + 8, kButtonWidth,
             kButtonHeight);
  MakeButton(page, kBtnCancel, "Exit", right - kButtonWidth, kGroupsBottom + 8, kButtonWidth,
             kButtonHeight);
}

void MainWindow::BuildScanPage() {
  HWND page = sheetScan_;
  const int width = kClientWidth - 2 * kMargin;
  const int captionLeft = kMargin + 12;
  const int valueLeft = captionLeft + 112;
  const int valueWidth = kClientWidth - kMargin - 8 - valueLeft;
  MakeBar(page, kPnlStatus, "    Current Operation", kMargin, kMargin, width, kBarHeight);
  const int statusTop = kMargin + kBarHeight;
  AddFrame(page, RECT{kMargin, statusTop, kMargin + width, statusTop + 64});
  MakeLabel(page, kLbFileScaned, "Objects Scanned :", captionLeft, statusTop + 8, 108, 16);
  // Deep paths are cut in the middle so that both the drive and the name show, and
  // show whole in the label's tip.
  MakeLabel(page, kLbFileScan, "", valueLeft, statusTop + 8, valueWidth, 16, false, SS_PATHELLIPSIS | SS_NOTIFY);
  MakeLabel(page, kLbFileDetected, "Objects Detected:", captionLeft, statusTop + 26, 108, 16);
  MakeLabel(page, kLbFileDetCount, "", valueLeft, statusTop + 26, valueWidth, 16);
  MakeLabel(page, kLbInfo, "Information          :", captionLeft, statusTop + 44, 108, 16);
  // Its tip names what the scan left out.
  MakeLabel(page, kLbInfoScan, "", valueLeft, statusTop + 44, valueWidth, 16, false, SS_NOTIFY);

  // The list's heading bar holds the select-all box at its left end.
  const int listBarTop = statusTop + 64 + 8;
  MakeBar(page, kPnlDetected, "        List of Detected Files", kMargin, listBarTop, width, kBarHeight);
  HWND selectAll = MakeCheckBox(page, kCbSelAll, "", kMargin + 4, listBarTop + 2, 16, 16);
  SetWindowPos(selectAll, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  GreyWhenDisabled(selectAll);
  tips_->Set(selectAll, "Check this box for select all.");

  const int listTop = listBarTop + kBarHeight;
  list_ = std::make_unique<DetectionListControl>(page, kLvFound, kMargin, listTop, width,
                                                 kGroupsBottom - listTop);
  const int buttonsTop = kGroupsBottom + 8;
  const int right = kClientWidth - kMargin;
  MakeButton(page, kBtnBack, "Back", right - 4 * kButtonWidth - 24, buttonsTop, kButtonWidth, kButtonHeight);
  MakeButton(page, kBtnClean, "Clean", right - 3 * kButtonWidth - 16, buttonsTop, kButtonWidth, kButtonHeight);
  MakeButton(page, kBtnDelete, "Delete", right - 2 * kButtonWidth - 8, buttonsTop, kButtonWidth, kButtonHeight);
  MakeButton(page, kBtnCancel2, "Exit", right - kButtonWidth, buttonsTop, kButtonWidth, kButtonHeight);
}

}  // namespace korbu::win32app
