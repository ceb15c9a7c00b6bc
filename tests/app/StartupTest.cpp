// Start-up: the splash window, its status texts in order, the options page held
// disabled until the splash hides, and the information labels it leaves behind.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "AppTestSupport.h"
#include "app/MainForm.h"
#include "app/SplashForm.h"
#include "engine/LibClamAV.h"
#include "engine/VirusClamAV.h"
#include "support/TempTree.h"

using korbu::TMainForm;
using korbu::TSplashForm;
using korbu::test::Control;
using korbu::test::ScriptedEngine;

namespace {

QString Text(QWidget* window, const char* name) { return Control<QLabel>(window, name)->text(); }

// Runs start-up with the program's own engine set-up; the statuses it showed.
QStringList StartWithRealEngine(TMainForm& form) {
  auto* splash = new TSplashForm;
  form.AttachSplash(splash);
  QSignalSpy statuses(splash, &TSplashForm::StatusChanged);
  form.FormActivate();
  form.Controller().WaitForWork();
  QStringList seen;
  for (const auto& arguments : statuses) seen << arguments.at(0).toString();
  return seen;
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void SplashWindowLooksAsItShould() {
    TSplashForm splash;
    QCOMPARE(splash.size(), QSize(400, 110));
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(splash.cursor().shape(), Qt::WaitCursor);
    auto* status = Control<QLabel>(&splash, "lbSplashStatus");
    QCOMPARE(status->text(), QStringLiteral("Application initialization..."));
    QCOMPARE(status->pos(), QPoint(236, 92));
    QVERIFY(status->font().bold());
    auto* image = Control<QLabel>(&splash, "Image1");
    QCOMPARE(image->geometry(), QRect(0, 0, 400, 110));
    QVERIFY(!image->pixmap().isNull());
    QCOMPARE(image->pixmap().size(), QSize(400, 110));
    QCOMPARE(Control<QWidget>(&splash, "Shape1")->geometry(), QRect(0, 0, 400, 110));
    splash.SetStatus(QStringLiteral("Database initialization..."));
    QVERIFY(splash.grab().save(korbu::test::ArtefactDir("screenshots") + QStringLiteral("/splash.png")));
  }

  void StatusTextsFollowTheEngineSteps_data() {
    QTest::addColumn<bool>("library");
    QTest::addColumn<bool>("database");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("library and databases")
        << true << true
        << QStringList{"DLL initialization...", "DLL loaded.", "Database initialization...",
                       "Database loaded."};
    QTest::newRow("no library")
        << false << false
        << QStringList{"DLL initialization...", "DLL NOT loaded.", "Database initialization...",
                       "Database NOT loaded."};
    QTest::newRow("library, daily.cvd missing")
        << true << false
        << QStringList{"DLL initialization...", "DLL loaded.", "Database initialization...",
                       "Database NOT loaded."};
  }
  void StatusTextsFollowTheEngineSteps() {
    QFETCH(bool, library);
    QFETCH(bool, database);
    QFETCH(QStringList, texts);
    auto calls = std::make_shared<std::vector<std::string>>();
    ScriptedEngine::Script script;
    script.library = library;
    script.database = database;
    TMainForm form(std::make_unique<ScriptedEngine>(script, calls));
    auto* splash = new TSplashForm;
    splash->show();
    form.AttachSplash(splash);
    QPointer<TSplashForm> watch(splash);
    QSignalSpy statuses(splash, &TSplashForm::StatusChanged);
    auto* options = Control<QWidget>(&form, "sheetUtama");
    bool enabledWhileLoading = false;
    connect(splash, &TSplashForm::StatusChanged, this,
            [&] { enabledWhileLoading = enabledWhileLoading || options->isEnabled(); });

    QVERIFY(!options->isEnabled());
    form.FormActivate();
    form.Controller().WaitForWork();

    QStringList seen;
    for (const auto& arguments : statuses) seen << arguments.at(0).toString();
    QCOMPARE(seen, texts);
    // Loading the databases is tried even without the library.
    QCOMPARE(*calls, (std::vector<std::string>{"create", "library", "database"}));
    QVERIFY(!enabledWhileLoading);
    QVERIFY(options->isEnabled());
    QVERIFY(watch.isNull() || !watch->isVisible());
    QTRY_VERIFY(watch.isNull());  // destroyed once control is back in the event loop
    QVERIFY(form.Controller().StartupFinished());
  }

  void LaterActivationsLoadNothing() {
    auto calls = std::make_shared<std::vector<std::string>>();
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}, calls));
    form.FormActivate();
    form.Controller().WaitForWork();
    Control<QLabel>(&form, "lbVirSign")->setText(QStringLiteral("untouched"));
    form.FormActivate();
    form.FormActivate();
    QCOMPARE(calls->size(), std::size_t{3});
    QCOMPARE(Text(&form, "lbVirSign"), QStringLiteral("untouched"));
  }

  void RealActivationStartsTheEngineOnce() {
    auto calls = std::make_shared<std::vector<std::string>>();
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}, calls));
    // The splash goes away during the activation that the toolkit is delivering.
    auto* splash = new TSplashForm;
    splash->show();
    QPointer<TSplashForm> watch(splash);
    form.AttachSplash(splash);
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) QSKIP("this platform does not activate windows");
    QTRY_VERIFY(form.Controller().StartupFinished());
    QTRY_VERIFY(watch.isNull());
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(calls->size(), std::size_t{3});
  }

  void StartUpRunsWhenTheWindowIsNeverActivated() {
    // A window manager that prevents focus stealing: no activation ever arrives.
    struct NoActivation : QObject {
      bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::WindowActivate; }
    } filter;
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    auto* splash = new TSplashForm;
    splash->show();
    QPointer<TSplashForm> watch(splash);
    form.AttachSplash(splash);
    form.installEventFilter(&filter);
    form.show();
    QTRY_VERIFY(form.Controller().StartupFinished());
    QTRY_VERIFY(watch.isNull());
    QVERIFY(Control<QWidget>(&form, "sheetUtama")->isEnabled());
  }

  void LabelsShowTheEngineFigures_data() {
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("signatures");
    QTest::addColumn<QString>("versions");
    QTest::addColumn<QString>("mainDate");
    QTest::addColumn<QString>("dailyDate");
    QTest::newRow("test databases") << true << "33 viruses" << "[Main: 6; Daily: 3]"
                                    << "[Main: 22 Jun 2021]" << "[Daily: 22 Jun 2021]";
    QTest::newRow("no databases") << false << "16 viruses" << "[Main: ; Daily: ]"
                                  << "[Main: ]" << "[Daily: ]";
  }
  void LabelsShowTheEngineFigures() {
    QFETCH(bool, loaded);
    QFETCH(QString, signatures);
    QFETCH(QString, versions);
    QFETCH(QString, mainDate);
    QFETCH(QString, dailyDate);
    ScriptedEngine::Script script;
    if (!loaded) {
      script.database = false;
      script.signatures = 0;
      script.versions = {};
      script.dates = {};
      script.reason = "database folder \"/db/\": main.cvd or main.cld is missing";
    }
    TMainForm form(std::make_unique<ScriptedEngine>(script));
    form.FormActivate();
    form.Controller().WaitForWork();
    // The reason sits in the signature count's tool tip; the label keeps its text.
    QCOMPARE(Control<QLabel>(&form, "lbVirSign")->toolTip(), QString::fromStdString(script.reason));
    QCOMPARE(Text(&form, "lbBuild"), QStringLiteral("1.0.0 RC1"));
    QCOMPARE(Text(&form, "lbEngineVer"), QStringLiteral("16"));
    QCOMPARE(Text(&form, "lbVirSign"), signatures);
    QCOMPARE(Text(&form, "lbCVDVer"), versions);
    QCOMPARE(Text(&form, "lbCVDDateMain"), mainDate);
    QCOMPARE(Text(&form, "lbCVDDateDaily"), dailyDate);
    for (const char* box : {"chkSubfolders", "chkAllFiles", "chkNewVirus", "chkArchive"}) {
      QVERIFY2(Control<QAbstractButton>(&form, box)->isChecked(), box);
    }
  }

  void AFailingEngineStepStillEndsStartUp_data() {
    QTest::addColumn<bool>("failLoad");
    QTest::addColumn<bool>("failVersions");
    QTest::addColumn<QString>("lastStatus");
    QTest::newRow("damaged database header") << false << true << "Database loaded.";
    QTest::newRow("database load throws") << true << false << "Database NOT loaded.";
  }
  void AFailingEngineStepStillEndsStartUp() {
    QFETCH(bool, failLoad);
    QFETCH(bool, failVersions);
    QFETCH(QString, lastStatus);
    ScriptedEngine::Script script;
    script.failLoad = failLoad;
    script.failVersions = failVersions;
    TMainForm form(std::make_unique<ScriptedEngine>(script));
    auto* splash = new TSplashForm;
    splash->show();
    form.AttachSplash(splash);
    QPointer<TSplashForm> watch(splash);
    QSignalSpy statuses(splash, &TSplashForm::StatusChanged);
    form.FormActivate();
    form.Controller().WaitForWork();
    QTRY_VERIFY(watch.isNull());
    QVERIFY(Control<QWidget>(&form, "sheetUtama")->isEnabled());
    QVERIFY(!statuses.isEmpty());
    QCOMPARE(statuses.last().at(0).toString(), lastStatus);
    // The figures that could be read are shown all the same.
    QCOMPARE(Text(&form, "lbBuild"), QStringLiteral("1.0.0 RC1"));
    QCOMPARE(Text(&form, "lbCVDDateMain"), QStringLiteral("[Main: 22 Jun 2021]"));
    if (failVersions) QCOMPARE(Text(&form, "lbCVDVer"), QStringLiteral("[Main: ; Daily: ]"));
  }

  void RealEngineWithTheTestDatabases() {
    const std::string shared = korbu::test::SharedDir();
    if (shared.empty()) QSKIP("the shared test databases are not here");
    TMainForm form(korbu::MakeEngineStartup(shared + "/engine-test-db"));
    const QStringList seen = StartWithRealEngine(form);
    QCOMPARE(seen, (QStringList{"DLL initialization...", "DLL loaded.",
                                "Database initialization...", "Database loaded."}));
    QCOMPARE(Text(&form, "lbVirSign"), QStringLiteral("33 viruses"));
    QCOMPARE(Text(&form, "lbCVDVer"), QStringLiteral("[Main: 6; Daily: 3]"));
    QCOMPARE(Text(&form, "lbCVDDateMain"), QStringLiteral("[Main: 22 Jun 2021]"));
    QCOMPARE(Text(&form, "lbCVDDateDaily"), QStringLiteral("[Daily: 22 Jun 2021]"));
  }

  void RealEngineWithoutLibraryOrDatabases() {
    korbu::test::TempTree empty;
    korbu::SetEngineLibraryLocationForTests("libkorbu-no-such-engine.so", empty.Path());
    TMainForm form(korbu::MakeEngineStartup(empty.Path()));
    const QStringList seen = StartWithRealEngine(form);
    korbu::ResetEngineLibraryForTests();
    QCOMPARE(seen, (QStringList{"DLL initialization...", "DLL NOT loaded.",
                                "Database initialization...", "Database NOT loaded."}));
    QVERIFY(Control<QWidget>(&form, "sheetUtama")->isEnabled());
    QCOMPARE(Text(&form, "lbVirSign"), QStringLiteral("16 viruses"));
    QCOMPARE(Text(&form, "lbCVDVer"), QStringLiteral("[Main: ; Daily: ]"));
    QCOMPARE(Text(&form, "lbCVDDateMain"), QStringLiteral("[Main: ]"));
    QCOMPARE(Text(&form, "lbCVDDateDaily"), QStringLiteral("[Daily: ]"));
  }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
