#pragma once
// The detection list's control: a report view that tells the window about every
// click and double click anywhere in it, after the click has changed a row's mark,
// so the window counts the marks as the user now sees them. Space on a row counts
// as a click, which keeps the marks usable from the keyboard.

#include <QTreeWidget>

namespace korbu {

class TListControl : public QTreeWidget {
  Q_OBJECT

 public:
  using QTreeWidget::QTreeWidget;

 signals:
  void Clicked();
  void DoubleClicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace korbu
