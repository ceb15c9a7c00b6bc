#include "app/MainForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>

#include "app/DetectionListView.h"
#include "app/FolderTree.h"
#include "app/HistoryDialog.h"
#include "app/JpegPicture.h"
#include "app/ListControl.h"
#include "app/SplashForm.h"
#include "app/WindowStyle.h"
#include "ui/StartLocation.h"

namespace korbu {
namespace {

constexpr int kHeaderHeight = 81;
constexpr int kActivationWaitMs = 500;

}  // namespace

TMainForm::TMainForm(std::unique_ptr<EngineStartup> engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("KORBU"));
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont());
  setAutoFillBackground(true);
  // A folder or file dragged from a file manager selects its folder in the tree.
  setAcceptDrops(true);
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

  controller_ = std::make_unique<WindowController>(*this, dispatcher_, std::move(engine));
  ConnectControls();
  controller_->FormCreate();

  if (const QScreen* where = QGuiApplication::primaryScreen()) {
    QRect box(QPoint(0, 0), size());
    // Centred, yet on a screen too small for it (a large scale factor) its title bar
    // and left edge stay on the screen, where the user can reach them.
    const QRect room = where->availableGeometry();
    box.moveCenter(room.center());
    move(std::max(box.left(), room.left()), std::max(box.top(), room.top()));
  }
}

TMainForm::~TMainForm() {
  // Work still running ends here, while the controls it reports to still exist.
  controller_.reset();
  ShowBusy(false);
}

void TMainForm::ConnectControls() {
  WindowController* const logic = controller_.get();
  connect(btnScan_, &QPushButton::clicked, this, [logic] { logic->btnScanClick(); });
  connect(btnCancel_, &QPushButton::clicked, this, [logic] { logic->btnCancelClick(); });
  connect(btnHistory_, &QPushButton::clicked, this, &TMainForm::ShowHistory);
  connect(btnCancel2_, &QPushButton::clicked, this, [logic] { logic->btnCancel2Click(); });
  connect(btnBack_, &QPushButton::clicked, this, [logic] { logic->btnBackClick(); });
  connect(btnClean_, &QPushButton::clicked, this, [logic] { logic->btnCleanClick(); });
  connect(btnDelete_, &QPushButton::clicked, this, [logic] { logic->btnDeleteClick(); });
  // clicked is the user's doing only; the program sets the box through SetSelectAllChecked.
  connect(cbSelAll_, &QCheckBox::clicked, this, [logic](bool checked) { logic->cbSelAllClick(checked); });
  connect(LvFound_, &TListControl::Clicked, this, [logic] { logic->lvFoundClick(); });
  connect(LvFound_, &TListControl::DoubleClicked, this, [logic] { logic->lvFoundDblClick(); });
  listView_->OnItemChecked = [logic](std::size_t index, bool checked) {
    logic->LvFoundItemChecked(index, checked);
  };
  ConnectKeys();
}

void TMainForm::ConnectKeys() {
  // A key presses a button only as a click could: while it is shown and enabled.
  const auto press = [](QPushButton* button) {
    return [button] {
      if (button->isVisible() && button->isEnabled()) button->click();
    };
  };
  // Escape: "Exit" on the options page, "Back" on the scan page.
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), sheetUtama_, nullptr, nullptr, Qt::WidgetWithChildrenShortcut),
          &QShortcut::activated, this, press(btnCancel_));
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), sheetScan_, nullptr, nullptr, Qt::WidgetWithChildrenShortcut),
          &QShortcut::activated, this, press(btnBack_));
  // Enter in the folder tree scans the selected folder.
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    connect(new QShortcut(QKeySequence(key), tvLocation_, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, press(btnScan_));
  }
}

void TMainForm::ShowHistory() {
  HistoryDialog history(this);
  history.exec();
}

void TMainForm::AttachSplash(TSplashForm* splash) { splash_ = splash; }

bool TMainForm::SelectLocation(const std::string& path) {
  const std::string folder = FolderToSelect(path);
  if (folder.empty() || !tvLocation_->SelectPath(QString::fromStdString(folder))) return false;
  controller_->SetFileTarget(FileToScan(path));
  return true;
}

std::string TMainForm::DroppedLocation(const QMimeData* dropped, std::string* file) const {
  if (dropped == nullptr || !dropped->hasUrls() || pcMain_->currentWidget() != sheetUtama_ || !sheetUtama_->isEnabled()) {
    return std::string();
  }
  for (const QUrl& url : dropped->urls()) {
    if (!url.isLocalFile()) continue;
    const std::string path = url.toLocalFile().toStdString();
    if (file != nullptr) *file = FileToScan(path);
    return FolderToSelect(path);
  }
  return std::string();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedLocation(event->mimeData()).empty()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  std::string file;
  const std::string folder = DroppedLocation(event->mimeData(), &file);
  if (folder.empty() || !tvLocation_->SelectPath(QString::fromStdString(folder))) return;
  // A dropped file is what "Scan" then judges, alone.
  controller_->SetFileTarget(file);
  event->acceptProposedAction();
  tvLocation_->setFocus();
}

bool TMainForm::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // Queued: the toolkit is still going through its windows for this activation,
  // and start-up destroys one of them (the splash).
  if (event->type() == QEvent::WindowActivate && controller_ && !controller_->StartupFinished()) {
    QMetaObject::invokeMethod(this, &TMainForm::FormActivate, Qt::QueuedConnection);
  }
  return handled;
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (controller_->StartupFinished() || startupTimerArmed_) return;
  startupTimerArmed_ = true;
  // Without a window manager the window that maps last lies on top: the splash is
  // raised again over this one once it has been mapped (after this handler).
  if (splash_) QTimer::singleShot(0, splash_.data(), &QWidget::raise);
  // A window manager that prevents focus stealing may never activate the window;
  // start-up then runs anyway, a moment after the window is shown.
  QTimer::singleShot(kActivationWaitMs, this, &TMainForm::FormActivate);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // While an action or the scan's first phases run, the window closes once they end.
  if (!controller_->CloseQuery()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace korbu
