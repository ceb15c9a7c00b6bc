// The history dialog: opened from the options page over the user's records, the
// selected action's rows and changes, and "Restore" with its question.

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "AppTestSupport.h"
#include "app/ConfirmBox.h"
#include "app/HistoryDialog.h"
#include "app/MainForm.h"
#include "platform/FolderHandle.h"
#include "repair/Journal.h"
#include "repair/JournalSink.h"
#include "scan/DetectionList.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

using korbu::HistoryDialog;
using korbu::TMainForm;
using korbu::test::Control;

namespace {

namespace fs = std::filesystem;

// Deletes the file through the journal, as the window's Delete does.
void DeleteRecorded(const std::string& path, const std::string& actions) {
  korbu::DetectionList rows;
  rows.AddDetection(path, "Eicar-Test-Signature");
  rows.SetChecked(0, true);
  korbu::JournalSink sink("delete", rows, actions);
  const auto folder = korbu::platform::Folder::Open(fs::path(path).parent_path().string());
  QVERIFY(folder);
  QVERIFY(sink.DeleteFile(*folder, fs::path(path).filename().string()));
}

}  // namespace

class HistoryDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void OpensFromTheOptionsPageOverTheUsersRecords() {
    korbu::test::TempTree home;
    korbu::test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
    const std::string file = home.Write("files/eicar.com", "x");
    DeleteRecorded(file, korbu::ActionsFolder());

    TMainForm form(std::make_unique<korbu::test::ScriptedEngine>(korbu::test::ScriptedEngine::Script{}));
    form.FormActivate();
    form.Controller().WaitForWork();
    form.show();
    auto* history = Control<QPushButton>(&form, "btnHistory");
    QCOMPARE(history->text(), QStringLiteral("&History"));
    QVERIFY(history->isVisible() && history->isEnabled());
    // The instruction beside it still shows whole.
    auto* instruction = Control<QLabel>(&form, "lbScan");
    QVERIFY(instruction->geometry().right() < history->geometry().left());
    QVERIFY(instruction->fontMetrics().horizontalAdvance(instruction->text()) <= instruction->width());

    int listed = -1;
    QString details;
    QTimer::singleShot(0, &form, [&] {
      auto* dialog = qobject_cast<HistoryDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      listed = Control<QListWidget>(dialog, "lvHistory")->count();
      details = Control<QPlainTextEdit>(dialog, "memHistoryDetails")->toPlainText();
      dialog->grab().save(korbu::test::ArtefactDir("screenshots") + QStringLiteral("/history.png"));
      dialog->accept();
    });
    history->click();
    QCOMPARE(listed, 1);
    QVERIFY2(details.contains(QStringLiteral("Removed to the quarantine: ") + QString::fromStdString(file)),
             qPrintable(details));
  }

  void RestoreAsksFirstThenPutsTheFileBackOnce() {
    korbu::test::TempTree home;
    const std::string actions = home.Path("data/actions");
    const std::string file = home.Write("files/eicar.com", "the deleted file");
    DeleteRecorded(file, actions);

    HistoryDialog dialog(nullptr, actions);
    dialog.show();
    auto* restore = Control<QPushButton>(&dialog, "btnRestore");
    QCOMPARE(restore->text(), QStringLiteral("&Restore"));
    QVERIFY(restore->isEnabled());
    // Enter does not restore.
    const int before = korbu::ConfirmBox::QuestionsAsked();
    QTest::keyClick(Control<QListWidget>(&dialog, "lvHistory"), Qt::Key_Return);
    QCOMPARE(korbu::ConfirmBox::QuestionsAsked(), before);
    QVERIFY(!dialog.isVisible());
    dialog.show();

    const int asked = korbu::ConfirmBox::QuestionsAsked();
    korbu::ConfirmBox::SetNextAnswer(false);
    restore->click();
    QCOMPARE(korbu::ConfirmBox::QuestionsAsked(), asked + 1);
    QVERIFY(!fs::exists(file));
    QVERIFY(restore->isEnabled());

    korbu::ConfirmBox::SetNextAnswer(true);
    restore->click();
    QCOMPARE(korbu::test::ReadFileBytes(file), std::string("the deleted file"));
    QCOMPARE(Control<QLabel>(&dialog, "lbHistoryOutcome")->text(),
             QStringLiteral("Restored: everything the action changed is as it was before."));
    // The entry now says it was restored, and Restore says why it is closed.
    QVERIFY(Control<QListWidget>(&dialog, "lvHistory")->item(0)->text().contains(QStringLiteral(", restored ")));
    QVERIFY(!restore->isEnabled());
    QVERIFY(restore->toolTip().startsWith(QStringLiteral("Already restored on ")));
    QVERIFY(dialog.grab().save(korbu::test::ArtefactDir("screenshots") + QStringLiteral("/history-restored.png")));
  }

  void AnEmptyHistorySaysSoAndOffersNoRestore() {
    korbu::test::TempTree home;
    HistoryDialog dialog(nullptr, home.Path("data/actions"));
    auto* list = Control<QListWidget>(&dialog, "lvHistory");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QStringLiteral("No action has been recorded."));
    QVERIFY(!Control<QPushButton>(&dialog, "btnRestore")->isEnabled());
  }
};

QTEST_MAIN(HistoryDialogTest)
#include "HistoryDialogTest.moc"
