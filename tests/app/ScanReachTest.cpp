// What a scan from the window reaches: a dropped file is judged alone, and what a
// walk leaves out is said after the summary line and named in its tip.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "AppTestSupport.h"
#include "app/FolderTree.h"
#include "app/MainForm.h"
#include "platform/Processes.h"
#include "scan/ScanSession.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

using korbu::TMainForm;
using korbu::test::Control;

class ScanReachTest : public QObject {
  Q_OBJECT

  void Scan(TMainForm& form) {
    Control<QPushButton>(&form, "btnScan")->click();
    form.Controller().WaitForWork();
    form.Controller().Session().WaitForEnd();
  }

  static bool Drop(TMainForm& form, const std::string& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &dropped);
    return dropped.isAccepted();
  }

 private slots:
  void initTestCase() { korbu::platform::LimitSnapshotsToDescendants(); }

  void ADroppedFileIsJudgedAloneAndAWalkSaysWhatItLeftOut() {
    korbu::test::TempTree home;  // no Wine prefix or data folder of the user's
    korbu::test::ScopedEnvironment prefix("WINEPREFIX", home.Path("prefix"));
    korbu::test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
    korbu::test::TempTree tree;
    const std::string worm = tree.Write("worm.exe", korbu::test::VariantFile(1));
    tree.Write("docs/other.exe", korbu::test::VariantFile(2));
    const std::string big = tree.Write("docs/big.zip", std::string(korbu::kWalkSizeLimit + 1, 'b'));

    TMainForm form(std::make_unique<korbu::test::ScriptedEngine>(korbu::test::ScriptedEngine::Script{}));
    form.FormActivate();
    form.Controller().WaitForWork();
    form.show();
    QVERIFY(Drop(form, worm));
    auto* scan = Control<QPushButton>(&form, "btnScan");
    QVERIFY2(scan->toolTip().endsWith(QString::fromStdString(": " + worm)), qPrintable(scan->toolTip()));
    Scan(form);
    auto* info = Control<QLabel>(&form, "lbInfoScan");
    QCOMPARE(info->text(), QStringLiteral("1 file(s) and 0 Folder(s) scanned. Scan is finished..."));
    QCOMPARE(Control<QLabel>(&form, "lbFileDetCount")->text(), QStringLiteral("1"));
    Control<QPushButton>(&form, "btnBack")->click();

    // The folder dropped: walked whole, and the file over the limit said and named.
    QVERIFY(Drop(form, tree.Path()));
    QCOMPARE(scan->toolTip(), QString());
    Scan(form);
    QCOMPARE(Control<QLabel>(&form, "lbFileDetCount")->text(), QStringLiteral("2"));
    QCOMPARE(info->text(),
             QStringLiteral("2 file(s) and 2 Folder(s) scanned. Scan is finished... 1 file(s) left out."));
    QVERIFY2(info->toolTip().contains(QString::fromStdString(big) + QStringLiteral(": over the size limit of 100 KiB")),
             qPrintable(info->toolTip()));
    // The added sentence shows whole beside its caption.
    QVERIFY(info->fontMetrics().horizontalAdvance(info->text()) <= info->width());
    QVERIFY(form.grab().save(korbu::test::ArtefactDir("screenshots") + QStringLiteral("/left-out.png")));
  }
};

QTEST_MAIN(ScanReachTest)
#include "ScanReachTest.moc"
