// Scans run from the window: start, the walk's end, "Stop" with both answers, "Back"
// and closing during a walk. The walk cannot end before the test lets the main
// thread run, so every "during the walk" step is taken while it is still busy.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include <stdexcept>

#include "AppTestSupport.h"
#include "platform/Processes.h"
#include "app/ConfirmBox.h"
#include "app/ErrorBox.h"
#include "app/FolderTree.h"
#include "app/MainForm.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

using korbu::ConfirmBox;
using korbu::ErrorBox;
using korbu::TMainForm;
using korbu::test::Control;
using korbu::test::ScriptedEngine;

namespace {

QString Text(QWidget* window, const char* name) {
  QWidget* control = Control<QWidget>(window, name);
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  return Control<QAbstractButton>(window, name)->text().remove(QLatin1Char('&'));
}

const QString kQuestion = QStringLiteral("Scanning is under process, would you want to stop?");

// A window whose options read fails when told.
class SteppedForm final : public TMainForm {
 public:
  using TMainForm::TMainForm;
  bool failOptions = false;

  std::string SelectedLocation() const override {
    if (failOptions) throw std::runtime_error("cannot read the location");
    return TMainForm::SelectedLocation();
  }
};

}  // namespace

class ScanControlTest : public QObject {
  Q_OBJECT

  std::unique_ptr<korbu::test::TempTree> tree_;
  std::unique_ptr<korbu::test::TempTree> noPrefix_;
  std::unique_ptr<TMainForm> form_;

  // A ready window with the tree selected as the location.
  void OpenWindow() {
    form_ = std::make_unique<SteppedForm>(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    form_->FormActivate();
    form_->Controller().WaitForWork();
    form_->show();
    auto* folders = Control<korbu::TFolderTree>(form_.get(), "tvLocation");
    QTRY_VERIFY(folders->SelectPath(QString::fromStdString(tree_->Path())));
  }

  SteppedForm* Stepped() { return static_cast<SteppedForm*>(form_.get()); }

  // "Scan", and the memory and registry phases run to their end: the walk runs.
  void StartScan() {
    Control<QPushButton>(form_.get(), "btnScan")->click();
    form_->Controller().WaitForWork();
    QVERIFY(form_->Controller().ScanBusy());
  }

 private slots:
  void initTestCase() {
    // The memory phase sees only what these tests start, whatever else runs here.
    korbu::platform::LimitSnapshotsToDescendants();
    // The registry phase must not touch the user's own Wine prefix.
    noPrefix_ = std::make_unique<korbu::test::TempTree>();
    qputenv("WINEPREFIX", QByteArray::fromStdString(noPrefix_->Path()));
    ErrorBox::Record();
  }

  void init() {
    tree_ = std::make_unique<korbu::test::TempTree>();
    tree_->Write("worm.exe", korbu::test::VariantFile(1));
    tree_->Write("docs/readme.txt", "nothing to see");
    tree_->Write("docs/tool.exe", korbu::test::MzFile(300));
    OpenWindow();
  }

  void cleanup() {
    form_.reset();
    tree_.reset();
  }

  void AScanListsWhatItFindsAndEndsWithTheSummary() {
    const int asked = ConfirmBox::QuestionsAsked();
    StartScan();
    // During the walk: the scan page, "Stop", the list closed to the user.
    QCOMPARE(Control<QStackedWidget>(form_.get(), "pcMain")->currentWidget(),
             Control<QWidget>(form_.get(), "sheetScan"));
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Stop"));
    QVERIFY(!Control<QWidget>(form_.get(), "LvFound")->isEnabled());
    QVERIFY(!Control<QWidget>(form_.get(), "btnClean")->isEnabled());

    QTRY_VERIFY(!form_->Controller().ScanBusy());
    auto* list = Control<QTreeWidget>(form_.get(), "LvFound");
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QString::fromStdString(tree_->Path("worm.exe")));
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Brontok-1"));
    QCOMPARE(list->topLevelItem(0)->text(2), QString());
    QCOMPARE(Text(form_.get(), "lbFileDetCount"), QStringLiteral("1"));
    QCOMPARE(Text(form_.get(), "lbInfoScan"),
             QStringLiteral("3 file(s) and 2 Folder(s) scanned. Scan is finished..."));
    QCOMPARE(Text(form_.get(), "lbFileScan"), QString());
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Exit"));
    QVERIFY(list->isEnabled());
    QVERIFY(Control<QWidget>(form_.get(), "cbSelAll")->isEnabled());
    QVERIFY(!Control<QWidget>(form_.get(), "btnDelete")->isEnabled());
    QCOMPARE(ConfirmBox::QuestionsAsked(), asked);
  }

  void AScanWithoutDetectionsShowsZero() {
    QVERIFY(QFile::remove(QString::fromStdString(tree_->Path("worm.exe"))));
    StartScan();
    QCOMPARE(Text(form_.get(), "lbFileDetCount"), QString());
    QTRY_VERIFY(!form_->Controller().ScanBusy());
    QCOMPARE(Text(form_.get(), "lbFileDetCount"), QStringLiteral("0"));
    QVERIFY(!Control<QWidget>(form_.get(), "cbSelAll")->isEnabled());
    // A click in the empty list ticks nothing: there is no row to select.
    QTest::mouseClick(Control<QTreeWidget>(form_.get(), "LvFound")->viewport(), Qt::LeftButton);
    QVERIFY(!Control<QCheckBox>(form_.get(), "cbSelAll")->isChecked());
  }

  void StopAsksAndOnlyYesStops() {
    StartScan();
    const int asked = ConfirmBox::QuestionsAsked();
    ConfirmBox::SetNextAnswer(false);
    Control<QPushButton>(form_.get(), "btnCancel2")->click();
    QCOMPARE(ConfirmBox::QuestionsAsked(), asked + 1);
    QCOMPARE(ConfirmBox::LastQuestion(), kQuestion);
    QVERIFY(form_->Controller().ScanBusy());
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Stop"));

    ConfirmBox::SetNextAnswer(true);
    Control<QPushButton>(form_.get(), "btnCancel2")->click();
    // Stopping returns with the walk ended and its end shown.
    QVERIFY(!form_->Controller().ScanBusy());
    QCOMPARE(Text(form_.get(), "lbFileScan"), QStringLiteral("Scan stopped by user."));
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Exit"));
    QVERIFY(Text(form_.get(), "lbInfoScan").endsWith(QStringLiteral(" Folder(s) scanned. Scan is finished...")));
    QVERIFY(Control<QWidget>(form_.get(), "LvFound")->isEnabled());
    QVERIFY(form_->isVisible());
  }

  void MarksDuringTheMemoryAndRegistryPhasesEnableNothing() {
    Control<QPushButton>(form_.get(), "btnScan")->click();
    // The phases run on their worker until the window next takes its messages.
    QVERIFY(form_->Controller().ScanRunning());
    QVERIFY(!Control<QWidget>(form_.get(), "LvFound")->isEnabled());
    form_->Controller().Detections().AddDetection("/proc/1/exe", "Brontok-1", korbu::DetectionKind::Program);
    form_->Controller().Detections().SetChecked(0, true);
    form_->Controller().lvFoundClick();  // what a click in the list would run
    QVERIFY(!Control<QWidget>(form_.get(), "btnClean")->isEnabled());
    QVERIFY(!Control<QWidget>(form_.get(), "btnDelete")->isEnabled());
    QTRY_VERIFY(!form_->Controller().ScanRunning());
    QVERIFY(!Control<QWidget>(form_.get(), "btnClean")->isEnabled());
    // Checked after the walk: now they respond.
    form_->Controller().lvFoundClick();
    QVERIFY(Control<QWidget>(form_.get(), "btnClean")->isEnabled());
  }

  void StopDuringTheMemoryPhaseAnswersAndYesEndsTheScan() {
    Control<QPushButton>(form_.get(), "btnScan")->click();
    QVERIFY(form_->Controller().ScanRunning() && !form_->Controller().ScanBusy());
    ConfirmBox::SetNextAnswer(true);
    Control<QPushButton>(form_.get(), "btnCancel2")->click();
    QCOMPARE(ConfirmBox::LastQuestion(), kQuestion);
    QVERIFY(!form_->Controller().ScanRunning());
    QCOMPARE(Text(form_.get(), "lbFileScan"), QStringLiteral("Scan stopped by user."));
    QCOMPARE(Text(form_.get(), "lbInfoScan"), QStringLiteral("0 file(s) and 0 Folder(s) scanned. Scan is finished..."));
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Exit"));
    QVERIFY(form_->isVisible());
  }

  void YesAfterTheWalkEndedLeavesTheSummaryAlone() {
    StartScan();
    // The walk ends while the question is open.
    bool endedWhileOpen = false;
    ConfirmBox::SetNextAnswer(true, [&] {
      endedWhileOpen = QTest::qWaitFor([this] { return !form_->Controller().ScanBusy(); });
    });
    Control<QPushButton>(form_.get(), "btnCancel2")->click();
    QVERIFY(endedWhileOpen);
    QCOMPARE(Text(form_.get(), "lbFileScan"), QString());
    QCOMPARE(Text(form_.get(), "lbInfoScan"),
             QStringLiteral("3 file(s) and 2 Folder(s) scanned. Scan is finished..."));
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Exit"));
  }

  void AnErrorOfTheScanIsShownInAMessageBox() {
    Stepped()->failOptions = true;
    const int shown = ErrorBox::Shown();
    Control<QPushButton>(form_.get(), "btnScan")->click();
    QCOMPARE(ErrorBox::Shown(), shown + 1);
    QCOMPARE(ErrorBox::LastMessage(), QStringLiteral("cannot read the location"));
    QVERIFY(!form_->Controller().ScanBusy());
    QCOMPARE(Text(form_.get(), "btnCancel2"), QStringLiteral("Exit"));
    QVERIFY(Control<QWidget>(form_.get(), "btnBack")->isEnabled());
  }

  void BackDuringTheWalkStopsItAndClearsTheList() {
    StartScan();
    form_->Controller().Detections().AddDetection("/somewhere/else.exe", "Brontok-2", korbu::DetectionKind::Program);
    ConfirmBox::SetNextAnswer(true);
    Control<QPushButton>(form_.get(), "btnBack")->click();
    QVERIFY(!form_->Controller().ScanBusy());
    QCOMPARE(Control<QStackedWidget>(form_.get(), "pcMain")->currentWidget(),
             Control<QWidget>(form_.get(), "sheetUtama"));
    QCOMPARE(form_->Controller().Detections().Count(), std::size_t{0});
    QCOMPARE(Control<QTreeWidget>(form_.get(), "LvFound")->topLevelItemCount(), 0);
  }

  void BackAfterTheScanAsksNothingAndANewScanStartsAfresh() {
    StartScan();
    QTRY_VERIFY(!form_->Controller().ScanBusy());
    const int asked = ConfirmBox::QuestionsAsked();
    Control<QPushButton>(form_.get(), "btnBack")->click();
    QCOMPARE(ConfirmBox::QuestionsAsked(), asked);
    QCOMPARE(form_->Controller().Detections().Count(), std::size_t{0});
    StartScan();
    QCOMPARE(Text(form_.get(), "lbFileDetCount"), QString());
    QTRY_VERIFY(!form_->Controller().ScanBusy());
    QCOMPARE(form_->Controller().Detections().Count(), std::size_t{1});
    QCOMPARE(Text(form_.get(), "lbInfoScan"),
             QStringLiteral("3 file(s) and 2 Folder(s) scanned. Scan is finished..."));
  }

  void ClosingTheWindowStopsTheWalkWithoutAQuestion() {
    StartScan();
    const int asked = ConfirmBox::QuestionsAsked();
    QVERIFY(form_->close());
    QVERIFY(!form_->Controller().ScanBusy());
    QVERIFY(!form_->isVisible());
    QCOMPARE(ConfirmBox::QuestionsAsked(), asked);
  }

  void DestroyingTheWindowDuringTheScanIsSafe_data() {
    QTest::addColumn<bool>("inTheWalk");
    QTest::newRow("memory phase") << false;
    QTest::newRow("walk") << true;
  }
  void DestroyingTheWindowDuringTheScanIsSafe() {
    QFETCH(bool, inTheWalk);
    if (inTheWalk) {
      StartScan();
    } else {
      Control<QPushButton>(form_.get(), "btnScan")->click();
    }
    form_.reset();  // the worker is still blocked on a hand-over to this window
    QVERIFY(!form_);
  }

  void ExitButtonsCloseWithoutAQuestion_data() {
    QTest::addColumn<bool>("fromScanPage");
    QTest::newRow("options page") << false;
    QTest::newRow("finished scan page") << true;
  }
  void ExitButtonsCloseWithoutAQuestion() {
    QFETCH(bool, fromScanPage);
    if (fromScanPage) {
      StartScan();
      QTRY_VERIFY(!form_->Controller().ScanBusy());
    }
    const int asked = ConfirmBox::QuestionsAsked();
    Control<QPushButton>(form_.get(), fromScanPage ? "btnCancel2" : "btnCancel")->click();
    QVERIFY(!form_->isVisible());
    QCOMPARE(ConfirmBox::QuestionsAsked(), asked);
  }
};

QTEST_MAIN(ScanControlTest)
#include "ScanControlTest.moc"
