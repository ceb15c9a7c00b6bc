#pragma once
// The detection list's control: a report view that tells the window about every
// click and double click anywhere in it, after the click has changed a row's mark,
// so the window counts the marks as the user now sees them. Space on a row counts
// as a click, which keeps the marks usable from the keyboard. A cell's tool tip shows
// only what the cell cannot.

#include <QTreeWidget>

namespace korbu {

class TListControl : public QTreeWidget {
  Q_OBJECT

 public:
  using QTreeWidget::QTreeWidget;

  /// The tool tip at a point of the viewport: the row's reason for staying pending
  /// when it has one, else the cell's whole text when the column cuts it, else none.
  QString ToolTipAt(const QPoint& where) const;

 signals:
  void Clicked();
  void DoubleClicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;
};

}  // namespace korbu
