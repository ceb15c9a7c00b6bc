#include "app/FolderTree.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileSystemWatcher>
#include <QStorageInfo>
#include <QStyle>

#include <QFileInfo>

#include <algorithm>
#include <functional>

#include "platform/FileSystem.h"

namespace korbu {
namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kPopulatedRole = Qt::UserRole + 1;
constexpr int kLookedRole = Qt::UserRole + 2;  // whether it has subfolders is known

QString PathOf(const QTreeWidgetItem* item) { return item->data(0, kPathRole).toString(); }

bool IsVirtual(const QString& path) {
  return platform::IsVirtualFileSystem(QFile::encodeName(path).toStdString());
}

// A volume mounted inside a kernel-made file system (/sys/fs/cgroup, /dev/shm) is
// no place a user keeps files either.
bool IsVirtualOrInside(const QString& root) {
  QString path = root;
  for (;;) {
    if (IsVirtual(path)) return true;
    const QString up = QFileInfo(path).path();
    if (up == path || QDir(path).isRoot()) return false;
    path = up;
  }
}

// The subfolders a user would pick from: hidden and kernel-made ones left out.
QStringList Subfolders(const QString& path) {
  QStringList names;
  const QDir dir(path);
  for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot,
                                           QDir::Name | QDir::IgnoreCase)) {
    if (!IsVirtual(dir.filePath(name))) names.push_back(name);
  }
  return names;
}

// Reads no further than the first subfolder a user would pick from.
bool HasSubfolders(const QString& path) {
  QDirIterator entries(path, QDir::Dirs | QDir::NoDotAndDotDot);
  while (entries.hasNext()) {
    if (!IsVirtual(entries.next())) return true;
  }
  return false;
}

// The theme's icon where the desktop has one, else the style's.
QIcon IconOf(const QFileIconProvider& icons, QFileIconProvider::IconType type,
             QStyle::StandardPixmap fallback) {
  QIcon icon = icons.icon(type);
  if (icon.isNull()) icon = QApplication::style()->standardIcon(fallback);
  return icon;
}

bool IsUnder(const QString& path, const QString& folder) {
  if (path == folder) return true;
  const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
  return path.startsWith(prefix);
}

}  // namespace

TFolderTree::TFolderTree(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAnimated(false);
  watcher_ = new QFileSystemWatcher(this);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TFolderTree::FolderChanged);
  connect(this, &QTreeWidget::itemExpanded, this, &TFolderTree::Populate);

  computer_ = new QTreeWidgetItem(this, QStringList(QStringLiteral("Computer")));
  computer_->setIcon(0, IconOf(icons_, QFileIconProvider::Computer, QStyle::SP_ComputerIcon));
  computer_->setData(0, kPopulatedRole, true);
  const QIcon drive = IconOf(icons_, QFileIconProvider::Drive, QStyle::SP_DriveHDIcon);
  QStringList seen;
  AddFolder(computer_, 0, QDir::rootPath(), QDir::rootPath(), drive);
  seen.push_back(QDir::rootPath());
  QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
  std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
    return a.rootPath() < b.rootPath();
  });
  for (const QStorageInfo& volume : volumes) {
    const QString root = volume.rootPath();
    // Bind mounts of single files and the kernel's own file systems are no volumes.
    if (!volume.isValid() || !volume.isReady() || seen.contains(root) || !QFileInfo(root).isDir() ||
        IsVirtualOrInside(root)) {
      continue;
    }
    seen.push_back(root);
    const QString label = volume.name().isEmpty() ? root : volume.name() + QStringLiteral(" (") + root + QLatin1Char(')');
    AddFolder(computer_, computer_->childCount(), label, root, drive);
  }
  expandItem(computer_);

  // A right click selects the folder under the pointer, as a left click does.
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& where) {
    if (QTreeWidgetItem* hit = itemAt(where)) setCurrentItem(hit);
  });
}

QTreeWidgetItem* TFolderTree::AddFolder(QTreeWidgetItem* parent, int at, const QString& name,
                                        const QString& path, const QIcon& icon) {
  auto* item = new QTreeWidgetItem(QStringList(name));
  item->setData(0, kPathRole, path);
  item->setData(0, kPopulatedRole, false);
  item->setIcon(0, icon);
  // Opened lazily: the mark to open it shows until its folder has been read, or
  // was found to hold no subfolder when first drawn.
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  parent->insertChild(at, item);
  return item;
}

void TFolderTree::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  if (QTreeWidgetItem* item = itemFromIndex(index)) LookForSubfolders(item);
  QTreeWidget::drawBranches(painter, rect, index);
}

void TFolderTree::LookForSubfolders(QTreeWidgetItem* item) const {
  if (item == computer_ || item->data(0, kPopulatedRole).toBool() || item->data(0, kLookedRole).toBool()) return;
  item->setData(0, kLookedRole, true);
  if (!HasSubfolders(PathOf(item))) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TFolderTree::Populate(QTreeWidgetItem* item) {
  if (item == nullptr || item->data(0, kPopulatedRole).toBool()) return;
  item->setData(0, kPopulatedRole, true);
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  const QString path = PathOf(item);
  const QIcon folder = IconOf(icons_, QFileIconProvider::Folder, QStyle::SP_DirIcon);
  for (const QString& name : Subfolders(path)) {
    AddFolder(item, item->childCount(), name, QDir(path).filePath(name), folder);
  }
  watcher_->addPath(path);
}

void TFolderTree::FolderChanged(const QString& path) {
  // A folder may be listed twice (the root and a volume inside it): both follow.
  std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
    if (!item->data(0, kPopulatedRole).toBool()) return;
    if (item != computer_ && PathOf(item) == path) Resync(item);
    for (int i = 0; i < item->childCount(); ++i) visit(item->child(i));
  };
  visit(computer_);
}

void TFolderTree::Resync(QTreeWidgetItem* item) {
  const QString path = PathOf(item);
  const QStringList names = Subfolders(path);
  for (int i = item->childCount() - 1; i >= 0; --i) {
    if (!names.contains(item->child(i)->text(0))) delete item->takeChild(i);
  }
  const QIcon folder = IconOf(icons_, QFileIconProvider::Folder, QStyle::SP_DirIcon);
  for (int at = 0; at < names.size(); ++at) {
    if (at < item->childCount() && item->child(at)->text(0) == names[at]) continue;
    AddFolder(item, at, names[at], QDir(path).filePath(names[at]), folder);
  }
}

std::string TFolderTree::SelectedPath() const {
  const QTreeWidgetItem* current = currentItem();
  if (current == nullptr || current == computer_) return {};
  return QFile::encodeName(PathOf(current)).toStdString();
}

QStringList TFolderTree::Volumes() const {
  QStringList roots;
  for (int i = 0; i < computer_->childCount(); ++i) roots.push_back(PathOf(computer_->child(i)));
  return roots;
}

bool TFolderTree::SelectPath(const QString& path) {
  const QString wanted = QDir::cleanPath(QDir(path).absolutePath());
  // The volume nearest the folder: the longest root it lies under.
  QTreeWidgetItem* item = nullptr;
  for (int i = 0; i < computer_->childCount(); ++i) {
    QTreeWidgetItem* volume = computer_->child(i);
    if (IsUnder(wanted, PathOf(volume)) &&
        (item == nullptr || PathOf(volume).size() > PathOf(item).size())) {
      item = volume;
    }
  }
  if (item == nullptr) return false;
  const QString rest = wanted.mid(PathOf(item).size());
  for (const QString& name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    Populate(item);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
      if (item->child(i)->text(0) == name) next = item->child(i);
    }
    if (next == nullptr) return false;
    expandItem(item);
    item = next;
  }
  setCurrentItem(item);
  scrollToItem(item);
  return true;
}

}  // namespace korbu
