#include "app/WindowStyle.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "ui/AccessKeys.h"

namespace korbu {

namespace {

// Windows has Tahoma; Debian's fonts-wine brings it, outside the font folders that
// the font configuration searches, so the program adds it for itself.
bool FindTahoma() {
  const QString family = QStringLiteral("Tahoma");
  if (QFontDatabase::hasFamily(family)) return true;
  for (const char* file : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
    QFontDatabase::addApplicationFont(QString::fromLatin1(file));
  }
  return QFontDatabase::hasFamily(family);
}

}  // namespace

QString Keyed(const QString& caption) {
  return QString::fromStdString(WithAccessKey(caption.toStdString()));
}

QFont WindowFont(int pointSize, bool bold) {
  static const bool hasTahoma = FindTahoma();
  QFont font = hasTahoma ? QFont(QStringLiteral("Tahoma")) : QGuiApplication::font();
  font.setPointSize(pointSize);
  font.setBold(bold);
  // Wine's Tahoma has its small bold sizes only as embedded bitmaps, which
  // antialiased text never uses: smoothed, the bold captions came out regular.
  // Unsmoothed it is drawn from those bitmaps, as Windows draws it.
  // Those bitmaps are sized for fully hinted advances, as Windows spaces them; with
  // the toolkit's default (vertical) hinting the advances come from the outlines and
  // some letters ("m") stand apart from the next.
  // On a scaled screen the bitmaps are never used and smoothed outlines read best.
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (hasTahoma && (screen == nullptr || screen->devicePixelRatio() <= 1.0)) {
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
  }
  return font;
}

QLabel* MakeHeadingBar(QWidget* parent, const QString& name, const QString& caption) {
  auto* bar = new QLabel(caption, parent);
  bar->setObjectName(name);
  bar->setFont(WindowFont(8, true));
  bar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // The face with a blue shadow along the right and bottom edges.
  bar->setStyleSheet(QStringLiteral("QLabel { background-color: %1; color: %2; "
                                    "border: 0px; border-right: 1px solid %3; "
                                    "border-bottom: 1px solid %3; }")
                         .arg(kBarFace.name(), kNavy.name(), kFrameBlue.name()));
  return bar;
}

QFrame* MakeGroupFrame(QWidget* parent, const QString& name) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(name);
  frame->setStyleSheet(
      QStringLiteral("QFrame#%1 { border: 1px solid %2; background: transparent; }")
          .arg(name, kFrameBlue.name()));
  return frame;
}

int CaptionWidth(const QStringList& captions) {
  const QFontMetrics metrics(WindowFont());
  int widest = 0;
  for (const QString& caption : captions) widest = std::max(widest, metrics.horizontalAdvance(caption));
  return widest + 2;  // the label's own margin
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, bool bold) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setFont(WindowFont(8, bold));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption) {
  auto* button = new QPushButton(Keyed(caption), parent);
  button->setObjectName(name);
  button->setFont(WindowFont());
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

QCheckBox* MakeFlatCheckBox(QWidget* parent, const QString& name, const QString& caption) {
  auto* box = new QCheckBox(Keyed(caption), parent);
  box->setObjectName(name);
  box->setFont(WindowFont(8, true));
  return box;
}

}  // namespace korbu
