// Selection and the two actions from the window: the select-all box, real clicks
// on the rows' marks, and "Clean" and "Delete" over a scan of a damaged prefix.

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

#include "AppTestSupport.h"
#include "platform/Processes.h"
#include "DamagedPrefix.h"
#include "app/FolderTree.h"
#include "app/ListControl.h"
#include "app/MainForm.h"
#include "platform/SystemFactory.h"
#include "repair/RegistryValues.h"
#include "support/TempTree.h"

using korbu::TMainForm;
using korbu::test::Control;
using korbu::test::ScriptedEngine;

namespace {

const QString kCleaned = QStringLiteral("This object was cleaned!");
const QString kDeleted = QStringLiteral("This object was deleted!");
const char* const kRunValue =
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\Bron-Spizaetus";

bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

}  // namespace

class ActionsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<korbu::test::DamagedPrefix> damage_;
  std::unique_ptr<TMainForm> form_;
  std::string other_;  // a file of another virus, listed by hand
  int wormRow_ = -1;
  int registryRow_ = -1;
  int otherRow_ = -1;

  QTreeWidget* List() { return Control<QTreeWidget>(form_.get(), "LvFound"); }
  QCheckBox* SelectAll() { return Control<QCheckBox>(form_.get(), "cbSelAll"); }
  QPushButton* Button(const char* name) { return Control<QPushButton>(form_.get(), name); }
  QTreeWidgetItem* Item(int row) { return List()->topLevelItem(row); }
  bool Checked(int row) { return Item(row)->checkState(0) == Qt::Checked; }

  int RowOf(const std::string& fileName) {
    for (int i = 0; i < List()->topLevelItemCount(); ++i) {
      if (Item(i)->text(0) == QString::fromStdString(fileName)) return i;
    }
    return -1;
  }

  // A mouse click where the user sees the row's check box.
  void ClickMark(int row) {
    QTreeWidget* list = List();
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualRect(list->model()->index(row, 0));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
  }

  // Presses an action's button and waits for the action to end.
  void Act(const char* button) {
    Button(button)->click();
    form_->Controller().WaitForWork();
  }

  // A click in the list that hits no mark.
  void ClickText(int row) {
    QTreeWidget* list = List();
    const QRect cell = list->visualRect(list->model()->index(row, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  }

 private slots:
  // The memory phase sees only what these tests start, whatever else runs here.
  void initTestCase() { korbu::platform::LimitSnapshotsToDescendants(); }

  void init() {
    damage_ = std::make_unique<korbu::test::DamagedPrefix>();
    other_ = damage_->Prefix().WriteC("windows/ShellNew/eicar.com", "not really");
    form_ = std::make_unique<TMainForm>(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    form_->FormActivate();
    form_->Controller().WaitForWork();
    form_->show();
    auto* folders = Control<korbu::TFolderTree>(form_.get(), "tvLocation");
    const std::string folder = damage_->Prefix().DriveC("windows/ShellNew");
    QTRY_VERIFY(folders->SelectPath(QString::fromStdString(folder)));
    Button("btnScan")->click();
    QTRY_VERIFY(!form_->Controller().ScanRunning());
    // The engine is not loaded in this test; the other virus's row is listed by hand.
    form_->Controller().Detections().AddDetection(other_, "Eicar-Test-Signature");
    wormRow_ = RowOf(damage_->wormFile);
    registryRow_ = RowOf(kRunValue);
    otherRow_ = RowOf(other_);
    QVERIFY(wormRow_ >= 0 && registryRow_ >= 0 && otherRow_ >= 0);
    QCOMPARE(Item(registryRow_)->text(2), QStringLiteral("Registry was infected"));
    QVERIFY(SelectAll()->isEnabled());
    QVERIFY(!Button("btnClean")->isEnabled());
    QVERIFY(!Button("btnDelete")->isEnabled());
  }

  void cleanup() {
    form_.reset();
    damage_.reset();
  }

  void MarksAndTheSelectAllBoxDriveTheButtons() {
    SelectAll()->click();
    for (int i = 0; i < List()->topLevelItemCount(); ++i) QVERIFY(Checked(i));
    QVERIFY(Button("btnClean")->isEnabled());
    QVERIFY(Button("btnDelete")->isEnabled());

    // Removing one mark by a click unchecks the box and keeps the other marks.
    ClickMark(otherRow_);
    QVERIFY(!Checked(otherRow_));
    QVERIFY(!SelectAll()->isChecked());
    QVERIFY(Checked(wormRow_) && Checked(registryRow_));

    // Checked again by a click: every row is checked, so the box follows.
    ClickMark(otherRow_);
    QVERIFY(SelectAll()->isChecked());

    // Unchecking the box with every row checked clears every mark.
    SelectAll()->click();
    for (int i = 0; i < List()->topLevelItemCount(); ++i) QVERIFY(!Checked(i));
    QVERIFY(!Button("btnClean")->isEnabled());
    QVERIFY(!Button("btnDelete")->isEnabled());

    // Only another virus's row checked: nothing to clean, something to delete.
    ClickMark(otherRow_);
    QVERIFY(Checked(otherRow_));
    QVERIFY(!Button("btnClean")->isEnabled());
    QVERIFY(Button("btnDelete")->isEnabled());

    // Space on the current row marks it as a click would.
    List()->setCurrentItem(Item(wormRow_));
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Space);
    QVERIFY(Checked(wormRow_));
    QVERIFY(Button("btnClean")->isEnabled());
  }

  void CleanRepairsTheWormThenDeleteRemovesTheRest() {
    SelectAll()->click();
    Act("btnClean");
    QCOMPARE(Item(wormRow_)->text(2), kCleaned);
    QCOMPARE(Item(registryRow_)->text(2), kCleaned);
    QVERIFY(!Checked(wormRow_));
    QVERIFY(!Exists(damage_->wormFile));
    QCOMPARE(korbu::RegistryLocationPresence(*korbu::platform::DefaultWindowsSystem(), kRunValue), korbu::ValuePresence::Absent);
    QCOMPARE(korbu::test::ReadFileBytes(damage_->Hosts()), std::string("127.0.0.1\tlocalhost"));
    // Another virus's row is left as it was, and can still be deleted.
    QCOMPARE(Item(otherRow_)->text(2), QString());
    QVERIFY(Checked(otherRow_));
    QVERIFY(Exists(other_));
    QVERIFY(!Button("btnClean")->isEnabled());
    QVERIFY(Button("btnDelete")->isEnabled());
    QVERIFY(SelectAll()->isEnabled());

    // A handled row cannot be marked again. The click unchecks the select-all box,
    // and as the checked rows were just the pending ones, their marks go with it.
    ClickMark(wormRow_);
    QVERIFY(!Checked(wormRow_));
    QVERIFY(!SelectAll()->isChecked());
    QVERIFY(!Checked(otherRow_));
    QVERIFY(!Button("btnDelete")->isEnabled());

    ClickMark(otherRow_);
    Act("btnDelete");
    QCOMPARE(Item(otherRow_)->text(2), kDeleted);
    QVERIFY(!Exists(other_));
    // Every listed object is handled now: nothing is left to select or act on,
    // unless the scan listed more than the three rows of this test.
    bool allHandled = true;
    for (int i = 0; i < List()->topLevelItemCount(); ++i) {
      const QString info = Item(i)->text(2);
      allHandled = allHandled && (info == kCleaned || info == kDeleted);
    }
    if (allHandled) QVERIFY(!SelectAll()->isEnabled());
    QVERIFY(!Button("btnClean")->isEnabled());
    QVERIFY(!Button("btnDelete")->isEnabled());
    QVERIFY(form_->grab().save(korbu::test::ArtefactDir("screenshots") + QStringLiteral("/actions.png")));
  }

  void DeleteOfAFileAlreadyGoneKeepsItsRowChecked() {
    ClickMark(otherRow_);
    QVERIFY(QFile::remove(QString::fromStdString(other_)));
    Act("btnDelete");
    QCOMPARE(Item(otherRow_)->text(2), QString());
    QVERIFY(Checked(otherRow_));
    QVERIFY(Button("btnDelete")->isEnabled());
    // Why it stays is the row's tool tip, wherever the pointer rests on it.
    auto* list = Control<korbu::TListControl>(form_.get(), "LvFound");
    const QString reason = list->ToolTipAt(list->visualRect(list->model()->index(otherRow_, 1)).center());
    QVERIFY2(reason.contains(QStringLiteral("no longer exists")), qPrintable(reason));
  }

  void EachResultShowsBeforeTheNextRowIsRepaired() {
    ClickMark(wormRow_);
    ClickMark(otherRow_);
    // The first result shows while the other row's object is still there.
    bool otherObjectLeft = false;
    bool checkedOnce = false;
    connect(List(), &QTreeWidget::itemChanged, this, [&](QTreeWidgetItem* item, int column) {
      if (column != 2 || item->text(2) != kDeleted || checkedOnce) return;
      checkedOnce = true;
      otherObjectLeft = Exists(item == Item(wormRow_) ? other_ : damage_->wormFile);
    });
    Act("btnDelete");
    QVERIFY(checkedOnce);
    QVERIFY(otherObjectLeft);
    QCOMPARE(Item(wormRow_)->text(2), kDeleted);
    QCOMPARE(Item(otherRow_)->text(2), kDeleted);
  }

  void OnceEveryRowIsHandledTheBoxIsUnticked() {
    SelectAll()->click();
    QVERIFY(SelectAll()->isChecked());
    Act("btnDelete");
    for (int i = 0; i < List()->topLevelItemCount(); ++i) {
      if (Item(i)->text(2) != kDeleted) QSKIP("the scan listed a row that Delete cannot handle here");
    }
    QVERIFY(!SelectAll()->isEnabled());
    QVERIFY(!SelectAll()->isChecked());
    ClickText(0);
    QVERIFY(!SelectAll()->isChecked());
  }

  void TheWindowStaysWholeWhileAnActionRuns() {
    SelectAll()->click();
    const int rows = List()->topLevelItemCount();
    Button("btnClean")->click();
    // The repairs run on a worker: the window answers, busy, with nothing to press.
    QVERIFY(form_->Controller().ActionRunning());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    for (const char* name : {"btnBack", "btnCancel2", "btnClean", "btnDelete", "cbSelAll", "LvFound"}) {
      QVERIFY2(!Control<QWidget>(form_.get(), name)->isEnabled(), name);
    }
    form_->close();
    QVERIFY(form_->isVisible());
    form_->Controller().WaitForWork();
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // The list is whole and the close came afterwards.
    QCOMPARE(List()->topLevelItemCount(), rows);
    QCOMPARE(Item(wormRow_)->text(2), kCleaned);
    QVERIFY(Exists(other_));
    QVERIFY(!form_->isVisible());
  }
};

QTEST_MAIN(ActionsTest)
#include "ActionsTest.moc"
