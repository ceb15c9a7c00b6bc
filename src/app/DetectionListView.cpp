#include "app/DetectionListView.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "app/WindowStyle.h"

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
  // Grid lines between cells, as a report view draws them.
  view->setStyleSheet(QStringLiteral("QTreeWidget::item { border-right: 1px solid #e0e0e0; "
                                     "border-bottom: 1px solid #e0e0e0; }"));
}

DetectionListView::DetectionListView(QTreeWidget* view, DetectionList& list,
                                     std::function<void(std::size_t)> onChange)
    : QObject(view), view_(view), list_(list), onChange_(std::move(onChange)) {
  list_.SetChangeHandler([this](std::size_t index) { Follow(index); });
  connect(view_, &QTreeWidget::itemChanged, this, &DetectionListView::OnItemChanged);
  for (std::size_t i = 0; i < list_.Count(); ++i) ShowRow(i);
}

DetectionListView::~DetectionListView() { list_.SetChangeHandler(nullptr); }

void DetectionListView::Follow(std::size_t index) {
  if (index == DetectionList::npos) {
    following_ = true;
    view_->clear();
    following_ = false;
  } else {
    ShowRow(index);
  }
  if (onChange_) onChange_(index);
}

void DetectionListView::ShowRow(std::size_t index) {
  if (index >= list_.Count()) return;
  following_ = true;
  // Rows are only ever appended, so the view is at most the new rows behind.
  while (static_cast<std::size_t>(view_->topLevelItemCount()) <= index) {
    auto* item = new QTreeWidgetItem(view_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemNeverHasChildren);
    item->setCheckState(0, Qt::Unchecked);
  }
  const DetectionRow& row = list_.Row(index);
  QTreeWidgetItem* item = view_->topLevelItem(static_cast<int>(index));
  const QString texts[] = {Text(row.fileName), Text(row.virusName), Text(row.information)};
  for (int column = 0; column < 3; ++column) {
    const QString& text = texts[column];
    if (item->text(column) != text) item->setText(column, text);
  }
  const Qt::CheckState mark = row.checked ? Qt::Checked : Qt::Unchecked;
  if (item->checkState(0) != mark) item->setCheckState(0, mark);
  following_ = false;
}

void DetectionListView::SetRowReason(std::size_t index, const std::string& reason) {
  if (index >= static_cast<std::size_t>(view_->topLevelItemCount())) return;
  QTreeWidgetItem* item = view_->topLevelItem(static_cast<int>(index));
  following_ = true;
  for (int column = 0; column < view_->columnCount(); ++column) item->setToolTip(column, Text(reason));
  following_ = false;
}

void DetectionListView::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (following_ || column != 0) return;
  const int at = view_->indexOfTopLevelItem(item);
  if (at < 0 || static_cast<std::size_t>(at) >= list_.Count()) return;
  const auto index = static_cast<std::size_t>(at);
  const bool wanted = item->checkState(0) == Qt::Checked;
  list_.SetChecked(index, wanted);
  // A refused mark (a handled row) raises no change; put the view back in step.
  if (list_.Row(index).checked != wanted) ShowRow(index);
}

}  // namespace korbu
