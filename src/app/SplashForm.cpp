#include "app/SplashForm.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include "app/JpegPicture.h"
#include "app/WindowStyle.h"

namespace korbu {

TSplashForm::TSplashForm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("SplashForm"));
  setFixedSize(kWidth, kHeight);
  setCursor(Qt::WaitCursor);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::white);
  setPalette(colours);

  Image1_ = new QLabel(this);
  Image1_->setObjectName(QStringLiteral("Image1"));
  Image1_->setGeometry(0, 0, kWidth, kHeight);
  Image1_->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/pictures/splash.jpg"))));

  Shape1_ = new QFrame(this);
  Shape1_->setObjectName(QStringLiteral("Shape1"));
  Shape1_->setGeometry(0, 0, kWidth, kHeight);
  Shape1_->setStyleSheet(QStringLiteral("QFrame#Shape1 { border: 1px solid black; background: transparent; }"));

  lbSplashStatus_ = new QLabel(QStringLiteral("Application initialization..."), this);
  lbSplashStatus_->setObjectName(QStringLiteral("lbSplashStatus"));
  lbSplashStatus_->setFont(WindowFont(8, true));
  lbSplashStatus_->setAttribute(Qt::WA_TranslucentBackground);
  lbSplashStatus_->setTextFormat(Qt::PlainText);
  // Left 236, top 92, growing to the right edge inside the frame.
  lbSplashStatus_->setGeometry(236, 92, kWidth - 236 - 2, kHeight - 92 - 2);
  lbSplashStatus_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  CenterOnScreen();
}

void TSplashForm::SetStatus(const QString& text) {
  lbSplashStatus_->setText(text);
  // Start-up runs on the main thread between these texts; paint now.
  if (isVisible()) lbSplashStatus_->repaint();
  emit StatusChanged(text);
}

QString TSplashForm::Status() const { return lbSplashStatus_->text(); }

void TSplashForm::CenterOnScreen() {
  const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (where == nullptr) return;
  QRect box = frameGeometry();
  box.moveCenter(where->availableGeometry().center());
  move(box.topLeft());
}

}  // namespace korbu
