#pragma once
// The program's main window: the header picture over two pages that only the
// program switches, the options page (sheetUtama) and the scan page (sheetScan).
// It shows what WindowController decides and forwards the user's doing to it.

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

#include "app/QtMainThreadDispatcher.h"
#include "engine/EngineStartup.h"
#include "ui/WindowController.h"
#include "ui/WindowView.h"

class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace korbu {

class DetectionListView;
class TListControl;
class TFolderTree;
class TSplashForm;

class TMainForm : public QWidget, public WindowView {
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
  void FormActivate() { controller_->FormActivate(); }

  WindowController& Controller() { return *controller_; }

  /// Selects in the location tree the folder a path names (a file: its folder, and
  /// the file is what "Scan" then judges alone), as for a path named on the command
  /// line or dropped; false when it is not there.
  bool SelectLocation(const std::string& path);

  // WindowView
  void SetText(WindowLabel label, const std::string& text) override;
  void SetTip(WindowLabel label, const std::string& tip) override;
  void SetEnabled(WindowControl control, bool enabled) override;
  void SetStopCaption(const std::string& caption) override;
  void ShowPage(WindowPage page) override;
  void FocusScan() override;
  void SetScanTip(const std::string& tip) override;
  void SetOption(ScanOption option, bool checked) override;
  bool OptionChecked(ScanOption option) const override;
  std::string SelectedLocation() const override;
  void SetSelectAllChecked(bool checked) override;
  void ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) override;
  void ClearRows() override;
  bool AskConfirm(const std::string& question) override;
  void ShowMessage(const std::string& text) override;
  void ProcessPendingMessages() override;
  void ShowBusy(bool busy) override;
  void HideSplash() override;
  void CloseWindow() override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildOptionsPage();
  void BuildScanPage();
  void ConnectControls();
  void ConnectKeys();
  void ShowHistory();
  QLabel* Label(WindowLabel label) const;
  QWidget* ControlOf(WindowControl control) const;
  QCheckBox* OptionBox(ScanOption option) const;
  /// The folder to select for what was dropped, and in file the dropped file to
  /// scan alone (empty for a folder); empty when the drop holds none or the
  /// options page is not open to the user.
  std::string DroppedLocation(const QMimeData* dropped, std::string* file = nullptr) const;
  void ShowObject(const QString& text);

  QPointer<TSplashForm> splash_;
  bool startupTimerArmed_ = false;
  bool busy_ = false;
  QtMainThreadDispatcher dispatcher_;

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
  QPushButton* btnHistory_ = nullptr;  // the recorded actions, with Restore

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

  // Last: made after the controls, and a walk still running stops before they go.
  std::unique_ptr<WindowController> controller_;
};

}  // namespace korbu
