#include "app/ListControl.h"

#include <QAbstractItemDelegate>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>

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

QString TListControl::ToolTipAt(const QPoint& where) const {
  const QModelIndex index = indexAt(where);
  if (!index.isValid()) return {};
  const QString reason = index.data(Qt::ToolTipRole).toString();
  if (!reason.isEmpty()) return reason;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const int needed = itemDelegateForIndex(index)->sizeHint(option, index).width();
  return needed > visualRect(index).width() ? index.data().toString() : QString();
}

bool TListControl::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTreeWidget::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString tip = ToolTipAt(help->pos());
  if (tip.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(indexAt(help->pos())));
  }
  return true;
}

}  // namespace korbu
