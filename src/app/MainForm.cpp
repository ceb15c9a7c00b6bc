#include "app/MainForm.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>

#include "app/DetectionListView.h"
#include "app/FolderTree.h"
#include "app/JpegPicture.h"
#include "app/SplashForm.h"
#include "app/WindowStyle.h"
#include "scan/ScanSession.h"
#include "scan/ScanTexts.h"
#include "services/ShellUtils.h"

namespace korbu {
namespace {

constexpr int kHeaderHeight = 81;
constexpr int kLocalAppDataFolderId = 28;  // CSIDL_LOCAL_APPDATA
constexpr int kActivationWaitMs = 500;

QString FromBytes(const std::string& text) { return QString::fromLocal8Bit(text); }

}  // namespace

TMainForm::TMainForm(std::unique_ptr<EngineStartup> engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      engine_(std::move(engine)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("KORBU"));
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont());
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::white);
  setPalette(colours);

  imgHeader_ = new QLabel(this);
  imgHeader_->setObjectName(QStringLiteral("imgHeader"));
  imgHeader_->setGeometry(0, 0, kClientWidth, kHeaderHeight);
  imgHeader_->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/pictures/header.jpg"))));

  // The pages are switched by the program only; a stacked widget has no tabs.
  pcMain_ = new QStackedWidget(this);
  pcMain_->setObjectName(QStringLiteral("pcMain"));
  pcMain_->setGeometry(0, kHeaderHeight, kClientWidth, kClientHeight - kHeaderHeight);
  sheetUtama_ = new QWidget(pcMain_);
  sheetUtama_->setObjectName(QStringLiteral("sheetUtama"));
  sheetScan_ = new QWidget(pcMain_);
  sheetScan_->setObjectName(QStringLiteral("sheetScan"));
  pcMain_->addWidget(sheetUtama_);
  pcMain_->addWidget(sheetScan_);
  BuildOptionsPage();
  BuildScanPage();
  ConnectScanControl();
  ConnectActions();

  // Resolved once; the repair asks for it per row.
  localAppData_ = GetSpecialFolderPath(kLocalAppDataFolderId);

  // No scan may start before the engine's state is known: the page stays disabled
  // until the splash window hides.
  pcMain_->setCurrentWidget(sheetUtama_);
  sheetUtama_->setEnabled(false);

  if (const QScreen* where = QGuiApplication::primaryScreen()) {
    QRect box(QPoint(0, 0), size());
    box.moveCenter(where->availableGeometry().center());
    move(box.topLeft());
  }
}

TMainForm::~TMainForm() {
  // A walk still running ends here, while the controls it reports to still exist.
  session_.reset();
  delete listView_;  // gives the list's change handler back before the list goes
  listView_ = nullptr;
}

void TMainForm::AttachSplash(TSplashForm* splash) {
  splash_ = splash;
  if (splash_) connect(splash_, &TSplashForm::Hidden, this, &TMainForm::FormHide);
}

bool TMainForm::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // Queued: the toolkit is still going through its windows for this activation,
  // and start-up destroys one of them (the splash).
  if (event->type() == QEvent::WindowActivate && !startupFinished_ && !activating_) {
    QMetaObject::invokeMethod(this, &TMainForm::FormActivate, Qt::QueuedConnection);
  }
  return handled;
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (startupFinished_ || startupTimerArmed_) return;
  startupTimerArmed_ = true;
  // Without a window manager the window that maps last lies on top: the splash is
  // raised again over this one once it has been mapped (after this handler).
  if (splash_) QTimer::singleShot(0, splash_.data(), &QWidget::raise);
  // A window manager that prevents focus stealing may never activate the window;
  // start-up then runs anyway, a moment after the window is shown.
  QTimer::singleShot(kActivationWaitMs, this, &TMainForm::FormActivate);
}

void TMainForm::SetSplashStatus(const char* text) {
  if (!splash_) return;
  splash_->raise();
  splash_->SetStatus(QString::fromLatin1(text));
}

void TMainForm::FormActivate() {
  // Later activations, and one that arrives while the first still runs (pending
  // messages are processed in between), do nothing.
  if (activating_ || startupFinished_) return;
  activating_ = true;
  try {
    RunEngineSteps();
  } catch (...) {
    // The engine then stays as it is; the program still scans with its own table.
  }
  try {
    ShowEngineInfo();
  } catch (...) {
    // Labels that could not be filled stay blank; start-up goes on regardless.
  }
  // Whatever happened above, the splash must not stay over a disabled page.
  if (splash_) {
    splash_->hide();
    splash_->deleteLater();  // its own events may still be queued
    splash_ = nullptr;
  }
  FormHide();
  activating_ = false;
  startupFinished_ = true;
}

void TMainForm::RunEngineSteps() {
  engine_->CreateEngine();
  ProcessPendingMessages();
  SetSplashStatus("DLL initialization...");
  SetSplashStatus(engine_->LibraryAvailable() ? "DLL loaded." : "DLL NOT loaded.");
  SetSplashStatus("Database initialization...");
  ProcessPendingMessages();
  bool loaded = false;
  try {
    loaded = engine_->LoadDatabase();
  } catch (...) {
    loaded = false;
  }
  SetSplashStatus(loaded ? "Database loaded." : "Database NOT loaded.");
}

void TMainForm::FormHide() {
  if (sheetUtama_->isEnabled()) return;
  sheetUtama_->setEnabled(true);
  btnScan_->setFocus();
}

void TMainForm::ShowEngineInfo() {
  chkSubfolders_->setChecked(true);
  chkAllFiles_->setChecked(true);
  chkNewVirus_->setChecked(true);
  chkArchive_->setChecked(true);
  lbBuild_->setText(QString::fromLatin1(kBuildText));
  lbEngineVer_->setText(QString::fromLatin1(kEngineVersionText));

  // Each figure on its own: a damaged database header must not blank the others.
  std::uint32_t count = 0;
  try {
    count = engine_->SignatureCount();
  } catch (...) {
    count = 0;
  }
  lbVirSign_->setText(FromBytes(SignatureLabel(count)));
  std::string reason;
  try {
    reason = engine_->NotLoadedReason();
  } catch (...) {
    reason.clear();
  }
  lbVirSign_->setToolTip(FromBytes(reason));
  std::pair<std::string, std::string> versions;
  try {
    versions = engine_->DatabaseVersions();
  } catch (...) {
    versions = {};
  }
  lbCVDVer_->setText(FromBytes(DatabaseVersionLabel(versions.first, versions.second)));
  std::pair<std::string, std::string> dates;
  try {
    dates = engine_->DatabaseDates();
  } catch (...) {
    dates = {};
  }
  lbCVDDateMain_->setText(FromBytes(MainDateLabel(dates.first)));
  lbCVDDateDaily_->setText(FromBytes(DailyDateLabel(dates.second)));
}

ScanOptions TMainForm::ReadOptions() const {
  ScanOptions options;
  options.subfolders = chkSubfolders_->isChecked();
  options.allFiles = chkAllFiles_->isChecked();
  options.heuristic = chkNewVirus_->isChecked();
  options.archive = chkArchive_->isChecked();
  options.location = tvLocation_->SelectedPath();
  return options;
}

void TMainForm::ShowOperation(const std::string& text) { lbInfoScan_->setText(FromBytes(text)); }

void TMainForm::ShowObject(const std::string& text) {
  objectText_ = QFile::decodeName(QByteArray::fromStdString(text));
  // Deep paths are cut in the middle so that both the drive end and the name show.
  const QString shown =
      QFontMetrics(lbFileScan_->font()).elidedText(objectText_, Qt::ElideMiddle, lbFileScan_->width());
  lbFileScan_->setText(shown);
  lbFileScan_->setToolTip(shown == objectText_ ? QString() : objectText_);
}

void TMainForm::ProcessPendingMessages() { QCoreApplication::processEvents(); }

void TMainForm::lvFoundChange() {
  detectedCount_ = static_cast<int>(detections_.Count());
  lbFileDetCount_->setText(QString::number(detectedCount_));
}

}  // namespace korbu
