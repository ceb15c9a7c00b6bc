#pragma once
// The program's main window: the header picture over two pages that only the
// program switches, the options page (sheetUtama) and the scan page (sheetScan).
// It is the scan pipeline's front end.

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

#include "app/EngineStartup.h"
#include "app/QtMainThreadDispatcher.h"
#include "scan/DetectionList.h"
#include "scan/ScanFrontEnd.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace korbu {

class DetectionListView;
class ScanSession;
class TListControl;
struct ActionButtons;
class TFolderTree;
class TSplashForm;

class TMainForm : public QWidget, public ScanFrontEnd {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 658;
  static constexpr int kClientHeight = 454;

  /// Builds the window with its options page shown and disabled (FormCreate).
  explicit TMainForm(std::unique_ptr<EngineStartup> engine, QWidget* parent = nullptr);
  ~TMainForm() override;

  /// The splash window that start-up reports to, hides and then destroys.
  void AttachSplash(TSplashForm* splash);

  /// Start-up's engine steps; runs on the first activation only (FormActivate).
  void FormActivate();
  /// True once the first activation has finished.
  bool StartupFinished() const { return startupFinished_; }

  /// Checks the four options and fills the information labels from the engine.
  void ShowEngineInfo();

  /// The user's local application data folder; empty when it cannot be resolved.
  std::string LocalAppDataFolder() const { return localAppData_; }

  // ScanFrontEnd
  ScanOptions ReadOptions() const override;
  DetectionList& Detections() override { return detections_; }
  void ShowOperation(const std::string& text) override;
  void ShowObject(const std::string& text) override;
  void ProcessPendingMessages() override;

  // Scan control.
  void btnScanClick();
  void btnCancelClick();
  void btnCancel2Click();
  void btnBackClick();
  /// Clears the scan page's labels and the counters for a new scan.
  void ResetScanView();
  /// True while the file walk runs.
  bool ScanBusy() const;
  /// Rows in the list, as last shown beside "Objects Detected:".
  int DetectedCount() const { return detectedCount_; }

  // Selection and actions.
  void cbSelAllClick(bool checked);
  void lvFoundClick();
  void lvFoundDblClick();
  void btnCleanClick();
  void btnDeleteClick();
  /// True while "Clean" or "Delete" works through the rows.
  bool ActionRunning() const { return actionRunning_; }

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildOptionsPage();
  void BuildScanPage();
  void SetSplashStatus(const char* text);
  void RunEngineSteps();
  void lvFoundChange();
  void FormHide();
  void ConnectScanControl();
  void FindFileSearchBegin();
  void FindFileSearchFinish();
  void FindFileSearchAbort();
  void ShowOptionsPage();
  void ConnectActions();
  void ApplyButtons(const ActionButtons& buttons);
  template <typename RowLoop>
  void RunAction(RowLoop loop);

  std::unique_ptr<EngineStartup> engine_;
  QPointer<TSplashForm> splash_;
  bool activating_ = false;
  bool startupFinished_ = false;
  bool startupTimerArmed_ = false;
  std::string localAppData_;
  DetectionList detections_;
  int detectedCount_ = 0;
  QtMainThreadDispatcher dispatcher_;
  std::unique_ptr<ScanSession> session_;  // made after the controls, stopped before them
  bool phasesRunning_ = false;   // memory and registry phases, before the walk
  bool closeRequested_ = false;  // the window was closed while the phases ran
  bool actionRunning_ = false;   // "Clean" or "Delete" is working through the rows
  bool closeAfterAction_ = false;

  QLabel* imgHeader_ = nullptr;
  QStackedWidget* pcMain_ = nullptr;

  // Options page.
  QWidget* sheetUtama_ = nullptr;
  QLabel* pnlLocation_ = nullptr;
  TFolderTree* tvLocation_ = nullptr;
  QLabel* pnlOptions_ = nullptr;
  QCheckBox* chkSubfolders_ = nullptr;
  QCheckBox* chkAllFiles_ = nullptr;
  QCheckBox* chkNewVirus_ = nullptr;
  QCheckBox* chkArchive_ = nullptr;
  QLabel* pnlInfo_ = nullptr;
  QLabel* lbBuild_ = nullptr;
  QLabel* lbEngineVer_ = nullptr;
  QLabel* lbVirSign_ = nullptr;
  QLabel* lbCVDVer_ = nullptr;
  QLabel* lbCVDDateMain_ = nullptr;
  QLabel* lbCVDDateDaily_ = nullptr;
  QLabel* lbScan_ = nullptr;
  QPushButton* btnScan_ = nullptr;
  QPushButton* btnCancel_ = nullptr;

  // Scan page.
  QWidget* sheetScan_ = nullptr;
  QLabel* lbFileScan_ = nullptr;
  QLabel* lbFileDetCount_ = nullptr;
  QLabel* lbInfoScan_ = nullptr;
  QCheckBox* cbSelAll_ = nullptr;
  TListControl* LvFound_ = nullptr;
  DetectionListView* listView_ = nullptr;
  QPushButton* btnBack_ = nullptr;
  QPushButton* btnClean_ = nullptr;
  QPushButton* btnDelete_ = nullptr;
  QPushButton* btnCancel2_ = nullptr;
  QString objectText_;  // lbFileScan's whole text, elided to fit when shown
};

}  // namespace korbu
