#include "app/FolderTree.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>

namespace korbu {
namespace {

// The top node of the tree is the file system's root; it is shown as the computer.
class ComputerNodeModel final : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    if (index.isValid() && !index.parent().isValid()) {
      if (role == Qt::DisplayRole) return QStringLiteral("Computer");
      if (role == Qt::DecorationRole) return icons_.icon(QFileIconProvider::Computer);
    }
    return QIdentityProxyModel::data(index, role);
  }

 private:
  QFileIconProvider icons_;
};

}  // namespace

TFolderTree::TFolderTree(QWidget* parent) : QTreeView(parent) {
  folders_ = new QFileSystemModel(this);
  folders_->setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
  folders_->setReadOnly(true);
  folders_->setRootPath(QDir::rootPath());
  computer_ = new ComputerNodeModel(this);
  computer_->setSourceModel(folders_);
  setModel(computer_);
  for (int column = 1; column < folders_->columnCount(); ++column) hideColumn(column);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAnimated(false);
  expand(computer_->index(0, 0));
  // A right click selects the folder under the pointer, as a left click does.
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& where) {
    const QModelIndex hit = indexAt(where);
    if (hit.isValid()) setCurrentIndex(hit);
  });
}

std::string TFolderTree::SelectedPath() const {
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return {};
  const QString path = folders_->filePath(computer_->mapToSource(current));
  return QFile::encodeName(path).toStdString();
}

bool TFolderTree::SelectPath(const QString& path) {
  const QModelIndex source = folders_->index(path);
  if (!source.isValid()) return false;
  const QModelIndex shown = computer_->mapFromSource(source);
  for (QModelIndex up = shown.parent(); up.isValid(); up = up.parent()) expand(up);
  setCurrentIndex(shown);
  scrollTo(shown);
  return true;
}

}  // namespace korbu
