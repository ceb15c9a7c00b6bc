#pragma once
// The location tree of the options page: one computer node that names no folder,
// the file system's root and the mounted volumes below it, as a shell lists
// drives, and under those the folders only. A folder's subfolders are read when it
// is first opened and followed as folders come and go; whether it has any at all
// (the mark to open it) is looked up when its node is first drawn.

#include <QFileIconProvider>
#include <QStringList>
#include <QTreeWidget>

#include <string>

class QFileSystemWatcher;

namespace korbu {

class TFolderTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TFolderTree(QWidget* parent = nullptr);

  /// The selected folder's path in the file system's encoding. Empty when nothing
  /// is selected and for the computer node, which names no folder.
  std::string SelectedPath() const;

  /// Selects the folder (opening its parents); false when it is not in the tree.
  bool SelectPath(const QString& path);

  /// The folders listed under the computer node: the root, then the volumes.
  QStringList Volumes() const;

 protected:
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

 private:
  void LookForSubfolders(QTreeWidgetItem* item) const;
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, int at, const QString& name,
                             const QString& path, const QIcon& icon);
  void Populate(QTreeWidgetItem* item);
  void FolderChanged(const QString& path);
  void Resync(QTreeWidgetItem* item);

  QFileIconProvider icons_;
  QFileSystemWatcher* watcher_ = nullptr;
  QTreeWidgetItem* computer_ = nullptr;
};

}  // namespace korbu
