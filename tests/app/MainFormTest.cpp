// The main window: every control of both pages with its text, the sizes, colours
// and window flags, the folder tree, the detection list view and the progress labels.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>

#include <map>
#include <string>

#include "AppTestSupport.h"
#include "support/TempTree.h"
#include "app/Application.h"
#include "app/FolderTree.h"
#include "app/ListControl.h"
#include "app/MainForm.h"
#include "app/WindowStyle.h"
#include "scan/RegistryLocations.h"

using korbu::TMainForm;
using korbu::test::Control;
using korbu::test::ScriptedEngine;

namespace {

std::unique_ptr<TMainForm> ReadyForm() {
  auto form = std::make_unique<TMainForm>(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
  form->FormActivate();
  form->Controller().WaitForWork();
  return form;
}

QString TextOf(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  // What the button shows: its access key's "&" is no part of the text.
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return QString(button->text()).remove(QLatin1Char('&'));
  return QStringLiteral("<no text>");
}

// A screenshot's file name; at a scale factor (QT_SCALE_FACTOR) it says which.
QString ShotName(const char* name) {
  const qreal scale = qApp->devicePixelRatio();
  QString file = QStringLiteral("/") + QString::fromLatin1(name);
  if (scale > 1.0) file += QStringLiteral("-scale") + QString::number(scale);
  return file + QStringLiteral(".png");
}

bool Near(QColor colour, int r, int g, int b) {
  return std::abs(colour.red() - r) <= 2 && std::abs(colour.green() - g) <= 2 &&
         std::abs(colour.blue() - b) <= 2;
}

// True when some pixel of the picture is close to the colour (text is anti-aliased).
bool HasColour(const QImage& picture, int r, int g, int b, int tolerance) {
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QColor pixel = picture.pixelColor(x, y);
      if (std::abs(pixel.red() - r) <= tolerance && std::abs(pixel.green() - g) <= tolerance &&
          std::abs(pixel.blue() - b) <= tolerance) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryControlCarriesItsCaption_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    const char* rows[][2] = {
        {"pnlLocation", "   Location to Scan"},
        {"pnlOptions", "    Scan Options"},
        {"chkSubfolders", "Scan subfolders"},
        {"chkAllFiles", "Scan all files"},
        {"Label1", "    Clear this item to scan program files only"},
        {"chkNewVirus", "Scan for new unknown viruses"},
        {"Label2", "    Use unique heuristic algorithms to detect new viruses"},
        {"chkArchive", "Scan for archive"},
        {"Label8", "Scan compressed file (.zip) for viruses"},
        {"pnlInfo", "   KORBU Informations"},
        {"Label3", "Build                         :"},
        {"Label4", "Engine Version       :"},
        {"Label5", "Virus Signature      :"},
        {"Label6", "CVD Version            :"},
        {"Label7", "CVD Date Created :"},
        {"lbScan", "Select location and click Scan to scan your computer for viruses."},
        {"btnScan", "Scan"},
        {"btnCancel", "Exit"},
        {"pnlStatus", "    Current Operation"},
        {"lbFileScaned", "Objects Scanned :"},
        {"lbFileDetected", "Objects Detected:"},
        {"lbInfo", "Information          :"},
        {"pnlDetected", "        List of Detected Files"},
        {"cbSelAll", ""},
        {"btnBack", "Back"},
        {"btnClean", "Clean"},
        {"btnDelete", "Delete"},
        {"btnCancel2", "Exit"},
        // Value labels start blank.
        {"lbBuild", ""},
        {"lbEngineVer", ""},
        {"lbVirSign", ""},
        {"lbCVDVer", ""},
        {"lbCVDDateMain", ""},
        {"lbCVDDateDaily", ""},
        {"lbFileScan", ""},
        {"lbFileDetCount", ""},
        {"lbInfoScan", ""},
    };
    for (const auto& row : rows) {
      QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }
  }
  void EveryControlCarriesItsCaption() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    auto* control = form.findChild<QWidget*>(name);
    QVERIFY2(control != nullptr, qPrintable(name));
    QCOMPARE(TextOf(control), caption);
  }

  void WindowHasItsFixedShape() {
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    QCOMPARE(form.windowTitle(), QStringLiteral("KORBU"));
    QCOMPARE(form.size(), QSize(658, 454));
    QCOMPARE(form.minimumSize(), QSize(658, 454));
    QCOMPARE(form.maximumSize(), QSize(658, 454));
    const Qt::WindowFlags flags = form.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(form.font().pointSize(), 8);

    auto* header = Control<QLabel>(&form, "imgHeader");
    QCOMPARE(header->geometry(), QRect(0, 0, 658, 81));
    QCOMPARE(header->pixmap().size(), QSize(658, 81));

    // Two pages, switched by the program only: no tabs anywhere.
    auto* pages = Control<QStackedWidget>(&form, "pcMain");
    QCOMPARE(pages->count(), 2);
    QCOMPARE(pages->currentWidget(), Control<QWidget>(&form, "sheetUtama"));
    QVERIFY(form.findChildren<QTabBar*>().isEmpty());
  }

  void ControlsHaveTheirLookAndCursor() {
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    for (const char* name : {"chkSubfolders", "chkAllFiles", "chkNewVirus", "chkArchive"}) {
      QVERIFY2(Control<QCheckBox>(&form, name)->font().bold(), name);
    }
    QVERIFY(Control<QLabel>(&form, "lbScan")->font().bold());
    for (const char* name : {"btnScan", "btnCancel", "btnBack", "btnClean", "btnDelete", "btnCancel2"}) {
      QCOMPARE(Control<QPushButton>(&form, name)->cursor().shape(), Qt::PointingHandCursor);
    }
    QCOMPARE(Control<QCheckBox>(&form, "cbSelAll")->toolTip(),
             QStringLiteral("Check this box for select all."));
    QVERIFY(!Control<QCheckBox>(&form, "cbSelAll")->isEnabled());
    QVERIFY(!Control<QPushButton>(&form, "btnClean")->isEnabled());
    QVERIFY(!Control<QPushButton>(&form, "btnDelete")->isEnabled());
    // The select-all box sits at the left end of the list's heading bar.
    QCOMPARE(Control<QCheckBox>(&form, "cbSelAll")->parentWidget(),
             Control<QWidget>(&form, "pnlDetected"));
  }

  void BarsAndFramesAreDrawnInTheirColours() {
    auto form = ReadyForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    auto* bar = Control<QLabel>(form.get(), "pnlOptions");
    const QImage face = bar->grab().toImage();
    // Right of the caption the bar shows its face; the last column is its shadow.
    QVERIFY(Near(face.pixelColor(face.width() - 20, face.height() / 2), 202, 240, 255));
    QVERIFY(Near(face.pixelColor(face.width() - 1, face.height() / 2), 0, 128, 255));
    QVERIFY(HasColour(face, 0, 0, 128, 40));  // navy caption
    QVERIFY(bar->font().bold());
    const QImage frame = Control<QWidget>(form.get(), "frmOptions")->grab().toImage();
    QVERIFY(Near(frame.pixelColor(0, frame.height() / 2), 0, 128, 255));
  }

  void TheLogicReachesEachNamedControl() {
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    korbu::WindowView& view = form;
    using korbu::WindowLabel;
    const std::pair<WindowLabel, const char*> labels[] = {
        {WindowLabel::Build, "lbBuild"},           {WindowLabel::EngineVersion, "lbEngineVer"},
        {WindowLabel::Signatures, "lbVirSign"},    {WindowLabel::CvdVersion, "lbCVDVer"},
        {WindowLabel::CvdDateMain, "lbCVDDateMain"}, {WindowLabel::CvdDateDaily, "lbCVDDateDaily"},
        {WindowLabel::FileScan, "lbFileScan"},     {WindowLabel::DetectedCount, "lbFileDetCount"},
        {WindowLabel::InfoScan, "lbInfoScan"}};
    for (const auto& [label, name] : labels) {
      view.SetText(label, name);
      QCOMPARE(Control<QLabel>(&form, name)->text(), QString::fromLatin1(name));
    }
    using korbu::WindowControl;
    const std::pair<WindowControl, const char*> controls[] = {
        {WindowControl::OptionsPage, "sheetUtama"}, {WindowControl::List, "LvFound"},
        {WindowControl::SelectAll, "cbSelAll"},     {WindowControl::Back, "btnBack"},
        {WindowControl::Clean, "btnClean"},         {WindowControl::Delete, "btnDelete"},
        {WindowControl::Stop, "btnCancel2"}};
    for (const auto& [control, name] : controls) {
      view.SetEnabled(control, true);
      QVERIFY2(Control<QWidget>(&form, name)->isEnabled(), name);
      view.SetEnabled(control, false);
      QVERIFY2(!Control<QWidget>(&form, name)->isEnabled(), name);
    }
    using korbu::ScanOption;
    const std::pair<ScanOption, const char*> options[] = {
        {ScanOption::Subfolders, "chkSubfolders"}, {ScanOption::AllFiles, "chkAllFiles"},
        {ScanOption::NewVirus, "chkNewVirus"},     {ScanOption::Archive, "chkArchive"}};
    for (const auto& [option, name] : options) {
      view.SetOption(option, true);
      QVERIFY2(Control<QCheckBox>(&form, name)->isChecked(), name);
      Control<QCheckBox>(&form, name)->setChecked(false);
      QVERIFY2(!view.OptionChecked(option), name);
    }
  }

  void DetectionListHasItsColumns() {
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    auto* list = Control<QTreeWidget>(&form, "LvFound");
    QCOMPARE(list->columnCount(), 3);
    const QTreeWidgetItem* head = list->headerItem();
    QCOMPARE(head->text(0), QStringLiteral("File Name"));
    QCOMPARE(head->text(1), QStringLiteral("Virus Name"));
    QCOMPARE(head->text(2), QStringLiteral("Information"));
    QCOMPARE(list->columnWidth(0), 250);
    QCOMPARE(list->columnWidth(1), 150);
    QCOMPARE(list->columnWidth(2), 180);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  }

  void ListFollowsTheDetectionRows() {
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    auto* list = Control<QTreeWidget>(&form, "LvFound");
    auto* count = Control<QLabel>(&form, "lbFileDetCount");
    korbu::DetectionList& rows = form.Controller().Detections();
    rows.AddDetection("/tmp/a/worm.exe", "Brontok-1", korbu::DetectionKind::Program);
    rows.AddRegistryDetection({korbu::platform::kHkeyLocalMachine, "Software\\Run", "x"}, "Brontok-2");
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("/tmp/a/worm.exe"));
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Brontok-1"));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("Memory was infected"));
    QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
    QCOMPARE(count->text(), QStringLiteral("2"));

    // A mark set in the control reaches the row, and one set on the row the control.
    list->topLevelItem(1)->setCheckState(0, Qt::Checked);
    QVERIFY(rows.Row(1).checked);
    rows.SetChecked(0, true);
    QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Checked);

    // A handled row refuses the mark, and the control shows it unchecked again.
    rows.SetState(0, korbu::RowState::Cleaned);
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("This object was cleaned!"));
    QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
    list->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QVERIFY(!rows.Row(0).checked);
    QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Unchecked);

    rows.Clear();
    QCOMPARE(list->topLevelItemCount(), 0);
  }

  // Every button and option box has its access key; Escape is "Exit" on the options
  // page and "Back" on the scan page; Enter in the folder tree is "Scan".
  void KeysPressTheButtonsOfThePageShown() {
    auto form = ReadyForm();
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
      if (button->objectName() == QStringLiteral("cbSelAll")) continue;  // no caption
      QVERIFY2(!QKeySequence::mnemonic(button->text()).isEmpty(), qPrintable(button->objectName()));
    }
    // Counted, not acted on: the clicks reach no logic here.
    std::map<std::string, int> clicks;
    for (const char* name : {"btnScan", "btnCancel", "btnBack", "btnCancel2"}) {
      auto* button = Control<QPushButton>(form.get(), name);
      QObject::disconnect(button, &QPushButton::clicked, form.get(), nullptr);
      QObject::connect(button, &QPushButton::clicked, [&clicks, name] { ++clicks[name]; });
    }
    auto* folders = Control<korbu::TFolderTree>(form.get(), "tvLocation");
    folders->setFocus();
    QTest::keyClick(folders, Qt::Key_Return);
    QCOMPARE(clicks["btnScan"], 1);
    QTest::keyClick(folders, Qt::Key_Escape);
    QCOMPARE(clicks["btnCancel"], 1);
    // An access key presses its button a moment later, as the press is shown.
    QTest::keyClick(folders, Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(clicks["btnCancel"], 2);
    auto* subfolders = Control<QCheckBox>(form.get(), "chkSubfolders");
    QVERIFY(subfolders->isChecked());
    QTest::keyClick(folders, Qt::Key_U, Qt::AltModifier);
    QTRY_VERIFY(!subfolders->isChecked());
    QCOMPARE(clicks["btnBack"], 0);  // the scan page's keys wait for their page

    Control<QStackedWidget>(form.get(), "pcMain")->setCurrentWidget(Control<QWidget>(form.get(), "sheetScan"));
    auto* list = Control<QTreeWidget>(form.get(), "LvFound");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Escape);
    QCOMPARE(clicks["btnBack"], 1);
    QTest::keyClick(list, Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(clicks["btnCancel2"], 1);
    QCOMPARE(clicks["btnCancel"], 2);
    // A button that goes disabled under the focus hands it on to an enabled control.
    form->SetEnabled(korbu::WindowControl::Delete, true);
    Control<QPushButton>(form.get(), "btnDelete")->setFocus();
    form->SetEnabled(korbu::WindowControl::Delete, false);
    QVERIFY(QApplication::focusWidget() != nullptr);
    QVERIFY(QApplication::focusWidget()->isEnabled());
    // A disabled button is not pressed by its key either.
    Control<QPushButton>(form.get(), "btnBack")->setEnabled(false);
    QTest::keyClick(list, Qt::Key_Escape);
    QCOMPARE(clicks["btnBack"], 1);
  }

  // A path named on the command line or dropped from a file manager selects its
  // folder in the tree (a file: the folder that holds it), on the options page only.
  void ANamedOrDroppedPathSelectsItsFolder() {
    korbu::test::TempTree tree;
    const std::string file = tree.Write("one/worm.exe", "MZ");
    tree.Write("two/x.txt", "x");
    const std::string one = tree.Path() + "/one";
    const std::string two = tree.Path() + "/two";
    auto form = ReadyForm();
    QVERIFY(form->SelectLocation(file));
    QCOMPARE(form->SelectedLocation(), one);
    QVERIFY(!form->SelectLocation(tree.Path() + "/gone"));
    QCOMPARE(form->SelectedLocation(), one);

    const auto drop = [&](const std::string& path) {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(form.get(), &enter);
      if (!enter.isAccepted()) return false;
      QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(form.get(), &dropped);
      return dropped.isAccepted();
    };
    QVERIFY(drop(two));
    QCOMPARE(form->SelectedLocation(), two);
    QVERIFY(drop(file));
    QCOMPARE(form->SelectedLocation(), one);
    QVERIFY(!drop(tree.Path() + "/gone"));
    // The scan page takes no drop: the location is chosen on the options page.
    Control<QStackedWidget>(form.get(), "pcMain")->setCurrentWidget(Control<QWidget>(form.get(), "sheetScan"));
    QVERIFY(!drop(two));
    QCOMPARE(form->SelectedLocation(), one);
  }

  // A keyboard user walks the list by its selection: the selected row's texts show
  // in the selection's text colour over its face.
  void SelectedRowShowsItsTexts() {
    auto form = ReadyForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->Controller().Detections().AddDetection("/tmp/worm.exe", "Brontok-1");
    auto* list = Control<QTreeWidget>(form.get(), "LvFound");
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    const QImage shot = list->viewport()->grab().toImage();
    QVERIFY(shot.save(korbu::test::ArtefactDir("screenshots") + ShotName("selected-row")));
    // The Virus Name cell: no check box in it, only the name.
    const QRect where = list->visualItemRect(list->topLevelItem(0)).intersected(
        list->visualRect(list->model()->index(0, 1)));
    const qreal scale = shot.devicePixelRatio();  // the picture is in the screen's pixels
    const QImage cell = shot.copy(QRect((QPointF(where.topLeft()) * scale).toPoint(),
                                        (QSizeF(where.size()) * scale).toSize()));
    const QColor face = list->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor ink = list->palette().color(QPalette::Active, QPalette::HighlightedText);
    QVERIFY(HasColour(cell, face.red(), face.green(), face.blue(), 8));
    QVERIFY(HasColour(cell, ink.red(), ink.green(), ink.blue(), 40));
  }

  // Letters that end in a stem ("m", "n", "h", "u") leave the same room after them:
  // no letter stands apart from the next, so names hold no false spaces.
  void LettersAreSpacedAsTheyAreDrawn() {
    for (const bool bold : {false, true}) {
      const QFont font = korbu::WindowFont(8, bold);
      std::vector<int> rooms;
      for (const QChar letter : {QChar(u'm'), QChar(u'n'), QChar(u'h'), QChar(u'u')}) {
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(5, 20), QString(letter));
        const int advance = QFontMetrics(font, &picture).horizontalAdvance(letter);
        painter.end();
        int right = -1;
        for (int x = 0; x < picture.width(); ++x) {
          for (int y = 0; y < picture.height(); ++y) {
            if (qGray(picture.pixel(x, y)) < 128) right = x;
          }
        }
        QVERIFY(right >= 5);
        rooms.push_back(5 + advance - 1 - right);
      }
      for (const int room : rooms) QVERIFY2(std::abs(room - rooms.front()) <= 0, bold ? "bold" : "regular");
    }
  }

  void ProgressLabelsShowTheScan() {
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    form.Controller().ShowOperation("Scanning file(s)...");
    QCOMPARE(Control<QLabel>(&form, "lbInfoScan")->text(), QStringLiteral("Scanning file(s)..."));
    auto* object = Control<QLabel>(&form, "lbFileScan");
    form.Controller().ShowObject("/home/user/a.exe");
    QCOMPARE(object->text(), QStringLiteral("/home/user/a.exe"));
    // A path too long for the label is cut in the middle, keeping both ends.
    std::string deep = "/home";
    for (int i = 0; i < 40; ++i) deep += "/folder" + std::to_string(i);
    deep += "/worm.exe";
    form.Controller().ShowObject(deep);
    const QString shown = object->text();
    QVERIFY(shown.size() < static_cast<qsizetype>(deep.size()));
    QVERIFY(shown.startsWith(QStringLiteral("/home/folder0")));
    QVERIFY(shown.endsWith(QStringLiteral("worm.exe")));
    QVERIFY(object->fontMetrics().horizontalAdvance(shown) <= object->width());
    QCOMPARE(object->toolTip(), QString::fromStdString(deep));
  }

  void OptionsAreReadFromTheBoxesAndTheTree() {
    korbu::test::TempTree tree;
    tree.MakeDir("scan here");
    tree.Write("scan here/a.exe", "MZ");
    auto form = ReadyForm();
    form->show();
    auto* folders = Control<korbu::TFolderTree>(form.get(), "tvLocation");
    QCOMPARE(form->Controller().ReadOptions().location, std::string());
    const QString target = QString::fromStdString(tree.Path("scan here"));
    QTRY_VERIFY(folders->SelectPath(target));
    Control<QCheckBox>(form.get(), "chkAllFiles")->setChecked(false);
    Control<QCheckBox>(form.get(), "chkArchive")->setChecked(false);
    const korbu::ScanOptions options = form->Controller().ReadOptions();
    QVERIFY(options.subfolders);
    QVERIFY(!options.allFiles);
    QVERIFY(options.heuristic);
    QVERIFY(!options.archive);
    QCOMPARE(options.location, tree.Path("scan here"));
  }

  void TreeShowsFoldersOnlyUnderTheComputerNode() {
    korbu::test::TempTree tree;
    tree.MakeDir("inner");
    tree.MakeDir("outer/deeper");
    tree.Write("file.txt", "x");
    korbu::TFolderTree folders;
    folders.resize(300, 400);
    folders.show();
    QAbstractItemModel* model = folders.model();
    QCOMPARE(model->rowCount(), 1);
    const QModelIndex computer = model->index(0, 0);
    QCOMPARE(computer.data().toString(), QStringLiteral("Computer"));

    const QString root = QString::fromStdString(tree.Path());
    QTRY_VERIFY(folders.SelectPath(root));
    const QModelIndex here = folders.currentIndex();
    folders.expand(here);
    QTRY_COMPARE(model->rowCount(here), 2);  // the file is not listed
    QCOMPARE(model->index(0, 0, here).data().toString(), QStringLiteral("inner"));
    // Once drawn, only the folder that has a subfolder keeps the mark to open it.
    folders.grab();
    const auto item = [&](int row) { return folders.currentItem()->child(row); };
    QCOMPARE(item(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    QCOMPARE(item(1)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    // The tree follows folders made after it was shown.
    tree.MakeDir("later");
    QTRY_COMPARE(model->rowCount(here), 3);

    // A right click selects the folder under the pointer.
    const QModelIndex inner = model->index(0, 0, here);
    folders.scrollTo(inner);
    const QRect cell = folders.visualRect(inner);
    QVERIFY(cell.isValid());
    QTest::mouseClick(folders.viewport(), Qt::RightButton, Qt::NoModifier, cell.center());
    QCOMPARE(folders.SelectedPath(), tree.Path("inner"));
  }

  void ComputerNodeNamesNoFolderAndListsTheVolumes() {
    korbu::TFolderTree folders;
    const QStringList volumes = folders.Volumes();
    QVERIFY(!volumes.isEmpty());
    QCOMPARE(volumes.first(), QDir::rootPath());
    for (const QString& root : volumes) {
      QVERIFY2(!root.startsWith(QStringLiteral("/proc")) && !root.startsWith(QStringLiteral("/sys")),
               qPrintable(root));
    }
    QTreeWidgetItem* computer = folders.topLevelItem(0);
    QCOMPARE(folders.topLevelItemCount(), 1);
    QCOMPARE(computer->childCount(), volumes.size());
    folders.setCurrentItem(computer);
    QCOMPARE(folders.SelectedPath(), std::string());
    // Every node carries an icon: the computer, the volumes, the folders.
    QVERIFY(folders.SelectPath(QDir::tempPath()));
    QCOMPARE(folders.SelectedPath(), QDir::tempPath().toStdString());
    for (const QTreeWidgetItem* node = folders.currentItem(); node != nullptr; node = node->parent()) {
      QVERIFY2(!node->icon(0).isNull(), qPrintable(node->text(0)));
    }
  }

  void TheApplicationIsTitledAndTheCaptionsShowWhole() {
    korbu::SetUpApplication();
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Selvo Antivirus"));
    // No display name of its own, which the toolkit would append to every title
    // ("KORBU — Selvo Antivirus"): it follows the application's name.
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    korbu::SetUpApplication();
    TMainForm form(std::make_unique<ScriptedEngine>(ScriptedEngine::Script{}));
    QCOMPARE(form.windowTitle(), QStringLiteral("KORBU"));
    for (const char* name : {"Label3", "Label4", "Label5", "Label6", "Label7", "lbFileScaned",
                             "lbFileDetected", "lbInfo"}) {
      auto* caption = Control<QLabel>(&form, name);
      QVERIFY2(caption->fontMetrics().horizontalAdvance(caption->text()) <= caption->contentsRect().width(),
               name);
    }
    // The values start right of the widest caption.
    QVERIFY(Control<QLabel>(&form, "lbBuild")->x() >= Control<QLabel>(&form, "Label7")->geometry().right());
    QVERIFY(Control<QLabel>(&form, "lbInfoScan")->x() >= Control<QLabel>(&form, "lbInfo")->geometry().right());
    if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
      QSKIP("Tahoma not installed (Debian package fonts-wine)");
    }
    QCOMPARE(QFontInfo(Control<QLabel>(&form, "Label3")->font()).family(), QStringLiteral("Tahoma"));
    // Message boxes and tool tips too.
    QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("Tahoma"));
    QCOMPARE(QFontInfo(QToolTip::font()).family(), QStringLiteral("Tahoma"));
  }

  void ListCellsTellOnlyWhatTheyCut() {
    auto form = ReadyForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    std::string deep = "/home/user";
    for (int i = 0; i < 10; ++i) deep += "/folder" + std::to_string(i);
    form->Controller().Detections().AddDetection("/a.exe", "Brontok-1");
    form->Controller().Detections().AddDetection(deep + "/worm.exe", "Brontok-1");
    auto* list = Control<korbu::TListControl>(form.get(), "LvFound");
    const auto at = [&](int row, int column) { return list->visualRect(list->model()->index(row, column)).center(); };
    QCOMPARE(list->ToolTipAt(at(0, 0)), QString());
    QCOMPARE(list->ToolTipAt(at(0, 1)), QString());
    QCOMPARE(list->ToolTipAt(at(1, 0)), QString::fromStdString(deep + "/worm.exe"));
    QCOMPARE(list->ToolTipAt(QPoint(5, list->viewport()->height() - 2)), QString());
  }

  void ScreenshotsOfBothPages() {
    auto form = ReadyForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    auto* folders = Control<korbu::TFolderTree>(form.get(), "tvLocation");
    QTRY_VERIFY(folders->SelectPath(QDir::homePath()) || folders->SelectPath(QStringLiteral("/tmp")));
    const QString dir = korbu::test::ArtefactDir("screenshots");
    QVERIFY(form->grab().save(dir + ShotName("options")));

    form->Controller().Detections().AddDetection("/home/user/Local Settings/Application Data/smss.exe", "Brontok-1", korbu::DetectionKind::Program);
    form->Controller().Detections().AddRegistryDetection(*korbu::ParseRegistryLocation(
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Tok-Cirrhatus"), "Brontok-1");
    form->Controller().Detections().AddDetection("/home/user/Downloads/eicar.com", "Eicar-Test-Signature");
    form->Controller().ShowObject("/home/user/Downloads/eicar.com");
    form->Controller().ShowOperation("Scanning file(s)...");
    Control<QStackedWidget>(form.get(), "pcMain")->setCurrentWidget(Control<QWidget>(form.get(), "sheetScan"));
    QVERIFY(form->grab().save(dir + ShotName("scan")));
  }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
