#pragma once
// The location tree: My Computer, its drives and their folders from the shell
// namespace, with the shell's icons; folders only, filled as nodes open. A node
// shows the mark to open it only when its folder has subfolders, looked up when
// the node is first drawn. Each opening reads the folder again, so subfolders made
// or removed since show as they are now.

#include <functional>
#include <string>

#include "win32app/Win32Api.h"

namespace korbu::win32app {

class FolderTree {
 public:
  FolderTree(HWND parent, int id, int x, int y, int width, int height);
  ~FolderTree();
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  HWND Handle() const { return tree_; }
  /// The selected node's folder; for a node that is no folder (My Computer) the
  /// shell's parsing name, which names no folder; empty when nothing is selected.
  std::string SelectedPath() const;
  /// Opens the nodes down to a folder and selects it; false when it is not reached.
  bool SelectPath(const std::string& path);

  /// The tree's notifications, passed on by its parent; true when handled.
  bool Notify(const NMHDR& header, LRESULT& result);

 private:
  void Fill(HTREEITEM parent);
  bool HasSubfolders(HTREEITEM item) const;
  void ForEachSubfolder(void* parentPidl, const std::function<bool(void*)>& visit) const;
  /// Inserts a node after the sibling given (TVI_FIRST, TVI_LAST or a node); the
  /// node takes over pidl.
  HTREEITEM Add(HTREEITEM parent, void* pidl, HTREEITEM after = TVI_LAST);

  HWND tree_ = nullptr;
  HTREEITEM root_ = nullptr;
};

}  // namespace korbu::win32app
