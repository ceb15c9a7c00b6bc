#pragma once
// The splash window shown while the program starts: the splash picture, a thin
// frame and one status line at its lower right.

#include <QString>
#include <QWidget>

class QFrame;
class QLabel;

namespace korbu {

class TSplashForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 400;
  static constexpr int kHeight = 110;

  explicit TSplashForm(QWidget* parent = nullptr);

  /// Shows a status text at once, even while the main thread is busy.
  void SetStatus(const QString& text);
  QString Status() const;

  /// Centres the window on the screen it is on.
  void CenterOnScreen();

 signals:
  void StatusChanged(const QString& text);

 private:
  QLabel* Image1_ = nullptr;
  QFrame* Shape1_ = nullptr;
  QLabel* lbSplashStatus_ = nullptr;
};

}  // namespace korbu
