#include "app/ListControl.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace korbu {

void TListControl::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) emit Clicked();
}

void TListControl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

void TListControl::keyPressEvent(QKeyEvent* event) {
  QTreeWidget::keyPressEvent(event);
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) emit Clicked();
}

}  // namespace korbu
