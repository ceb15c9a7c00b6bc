#pragma once
// The location tree of the options page: the machine's folders only, under one
// computer node, kept up to date by the file system model as folders change.

#include <QTreeView>

#include <string>

class QFileSystemModel;
class QIdentityProxyModel;

namespace korbu {

class TFolderTree : public QTreeView {
  Q_OBJECT

 public:
  explicit TFolderTree(QWidget* parent = nullptr);

  /// The selected folder's path in the file system's encoding; the computer node
  /// stands for "/". Empty when nothing is selected.
  std::string SelectedPath() const;

  /// Selects the folder (expanding its parents); false when it is not in the tree.
  bool SelectPath(const QString& path);

 private:
  QFileSystemModel* folders_ = nullptr;
  QIdentityProxyModel* computer_ = nullptr;
};

}  // namespace korbu
