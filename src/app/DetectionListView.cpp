#include "app/DetectionListView.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "app/WindowStyle.h"
#include "cli/RowTexts.h"

namespace korbu {
namespace {

QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }

}  // namespace

void DetectionListView::ConfigureControl(QTreeWidget* view) {
  view->setColumnCount(3);
  view->setHeaderLabels({QStringLiteral("File Name"), QStringLiteral("Virus Name"),
                         QStringLiteral("Information")});
  view->setColumnWidth(0, 250);
  view->setColumnWidth(1, 150);
  view->setColumnWidth(2, 180);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setSortingEnabled(false);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setTextElideMode(Qt::ElideRight);
  view->header()->setStretchLastSection(false);
  view->header()->setSectionsMovable(false);
  view->setFont(WindowFont());
  // Grid lines between cells, as a report view draws them. An item rule takes the
  // selection's face from the style, which then drew the selected row's texts in
  // the selection's text colour on white: the face is given back here.
  view->setStyleSheet(QStringLiteral("QTreeWidget::item { border-right: 1px solid #e0e0e0; "
                                     "border-bottom: 1px solid #e0e0e0; }"
                                     "QTreeWidget::item:selected { background-color: palette(highlight); "
                                     "color: palette(highlighted-text); }"));
}

DetectionListView::DetectionListView(QTreeWidget* view) : QObject(view), view_(view) {
  connect(view_, &QTreeWidget::itemChanged, this, &DetectionListView::OnItemChanged);
}

void DetectionListView::Clear() {
  following_ = true;
  view_->clear();
  following_ = false;
}

void DetectionListView::ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) {
  following_ = true;
  // Rows are only ever appended, so the control is at most the new rows behind.
  while (static_cast<std::size_t>(view_->topLevelItemCount()) <= index) {
    auto* item = new QTreeWidgetItem(view_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemNeverHasChildren);
    item->setCheckState(0, Qt::Unchecked);
  }
  QTreeWidgetItem* item = view_->topLevelItem(static_cast<int>(index));
  const QString texts[] = {Text(RowFileName(row)), Text(row.virusName), Text(RowInformation(row))};
  const QString reason = Text(tip);
  for (int column = 0; column < 3; ++column) {
    if (item->text(column) != texts[column]) item->setText(column, texts[column]);
    if (item->toolTip(column) != reason) item->setToolTip(column, reason);
  }
  const Qt::CheckState mark = row.checked ? Qt::Checked : Qt::Unchecked;
  if (item->checkState(0) != mark) item->setCheckState(0, mark);
  following_ = false;
}

void DetectionListView::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (following_ || column != 0 || !OnItemChecked) return;
  const int at = view_->indexOfTopLevelItem(item);
  if (at < 0) return;
  OnItemChecked(static_cast<std::size_t>(at), item->checkState(0) == Qt::Checked);
}

}  // namespace korbu
