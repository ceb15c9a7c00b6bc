#include "win32app/FolderTree.h"

#include <functional>
#include <map>
#include <set>
#include <vector>

#include "win32app/Controls.h"

namespace korbu::win32app {
namespace {

// My Computer's parsing name: a text that names no folder on disk.
const char* const kMyComputer = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

LPITEMIDLIST ItemPidl(HWND tree, HTREEITEM item) {
  TVITEMW data{};
  data.mask = TVIF_PARAM;
  data.hItem = item;
  if (SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)) == FALSE) return nullptr;
  return reinterpret_cast<LPITEMIDLIST>(data.lParam);
}

// The file system path of a shell item, whatever its length; empty for a
// virtual folder.
std::string PathOfItem(LPCITEMIDLIST pidl) {
  std::wstring path(32768, L'\0');
  if (pidl == nullptr || !SHGetPathFromIDListEx(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
    return std::string();
  }
  path.resize(path.find(L'\0'));
  return win32::Utf8(path);
}

// Reads no further than the first subfolder the shell would list (hidden ones are
// not listed).
bool HasVisibleSubdirectory(const std::string& folder) {
  auto pattern = win32::WidePath(folder);
  if (!pattern) return false;
  if (pattern->back() != L'\\') pattern->push_back(L'\\');
  pattern->push_back(L'*');
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &entry, FindExSearchLimitToDirectories, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    const std::wstring_view name = entry.cFileName;
    found = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) == 0 && name != L"." && name != L"..";
  } while (!found && FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

}  // namespace

FolderTree::FolderTree(HWND parent, int id, int x, int y, int width, int height) {
  tree_ = CreateWindowExW(0, WC_TREEVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS |
                              TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                          Scaled(x), Scaled(y), Scaled(width), Scaled(height), parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(false)), FALSE);
  // The shell's own small icons; the list belongs to the system.
  SHFILEINFOW info{};
  auto icons = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(
      L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  if (icons != nullptr) TreeView_SetImageList(tree_, icons, TVSIL_NORMAL);

  LPITEMIDLIST computer = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer))) {
    root_ = Add(TVI_ROOT, computer);
    if (root_ != nullptr) {
      Fill(root_);
      TreeView_Expand(tree_, root_, TVE_EXPAND);
    }
  }
}

FolderTree::~FolderTree() = default;

HTREEITEM FolderTree::Add(HTREEITEM parent, void* pidlBytes, HTREEITEM after) {
  auto pidl = static_cast<LPITEMIDLIST>(pidlBytes);
  SHFILEINFOW info{};
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof info,
                 SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  SHFILEINFOW open{};
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &open, sizeof open,
                 SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = after;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = info.szDisplayName;
  insert.item.lParam = reinterpret_cast<LPARAM>(pidl);
  // Asked for once the node is first drawn: a folder without subfolders gets
  // no mark to open it.
  insert.item.cChildren = I_CHILDRENCALLBACK;
  insert.item.iImage = info.iIcon;
  insert.item.iSelectedImage = open.iIcon;
  auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (item == nullptr) CoTaskMemFree(pidl);
  return item;
}

// Calls visit with each folder of the file system (or one that holds such, as a
// drive does) directly in the folder of parentPidl, until visit returns false.
// Virtual folders are left out.
void FolderTree::ForEachSubfolder(void* parentPidlBytes, const std::function<bool(void*)>& visit) const {
  auto parentPidl = static_cast<LPITEMIDLIST>(parentPidlBytes);
  IShellFolder* desktop = nullptr;
  if (parentPidl == nullptr || FAILED(SHGetDesktopFolder(&desktop))) return;
  IShellFolder* folder = nullptr;
  IEnumIDList* children = nullptr;
  if (SUCCEEDED(desktop->BindToObject(parentPidl, nullptr, IID_IShellFolder,
                                      reinterpret_cast<void**>(&folder))) &&
      folder->EnumObjects(nullptr, SHCONTF_FOLDERS, &children) == S_OK && children != nullptr) {
    LPITEMIDLIST child = nullptr;
    ULONG fetched = 0;
    bool more = true;
    while (more && children->Next(1, &child, &fetched) == S_OK && fetched == 1) {
      SFGAOF attributes = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR;
      LPCITEMIDLIST relative = child;
      folder->GetAttributesOf(1, &relative, &attributes);
      if ((attributes & SFGAO_FOLDER) != 0 &&
          (attributes & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR)) != 0) {
        more = visit(ILCombine(parentPidl, child));
      }
      CoTaskMemFree(child);
    }
  }
  if (children != nullptr) children->Release();
  if (folder != nullptr) folder->Release();
  desktop->Release();
}

void FolderTree::Fill(HTREEITEM parent) {
  // The nodes there already, by their folder's path (a virtual one by its id list):
  // each one still listed stays as it is, opened or not, in the listing's order.
  std::map<std::string, HTREEITEM> shown;
  std::vector<HTREEITEM> virtualNodes;
  for (HTREEITEM child = TreeView_GetChild(tree_, parent); child != nullptr; child = TreeView_GetNextSibling(tree_, child)) {
    const std::string path = PathOfItem(ItemPidl(tree_, child));
    if (path.empty()) {
      virtualNodes.push_back(child);
    } else {
      shown.emplace(path, child);
    }
  }
  std::set<HTREEITEM> kept;
  HTREEITEM previous = TVI_FIRST;
  ForEachSubfolder(ItemPidl(tree_, parent), [&](void* pidl) {
    HTREEITEM found = nullptr;
    const std::string path = PathOfItem(static_cast<LPCITEMIDLIST>(pidl));
    if (!path.empty()) {
      const auto at = shown.find(path);
      if (at != shown.end()) found = at->second;
    } else {
      for (HTREEITEM node : virtualNodes) {
        LPCITEMIDLIST own = ItemPidl(tree_, node);
        if (own != nullptr && ILIsEqual(own, static_cast<LPCITEMIDLIST>(pidl))) found = node;
      }
    }
    if (found != nullptr) {
      CoTaskMemFree(pidl);
    } else {
      found = Add(parent, pidl, previous);
    }
    if (found != nullptr) {
      kept.insert(found);
      previous = found;
    }
    return true;
  });
  for (HTREEITEM child = TreeView_GetChild(tree_, parent); child != nullptr;) {
    HTREEITEM next = TreeView_GetNextSibling(tree_, child);
    if (kept.count(child) == 0) TreeView_DeleteItem(tree_, child);
    child = next;
  }
  TVITEMW data{};
  data.mask = TVIF_CHILDREN;
  data.hItem = parent;
  data.cChildren = TreeView_GetChild(tree_, parent) != nullptr ? 1 : 0;
  SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
}

bool FolderTree::HasSubfolders(HTREEITEM item) const {
  LPITEMIDLIST pidl = ItemPidl(tree_, item);
  if (pidl == nullptr) return false;
  // A drive with removable media is not read until the user opens it.
  SHFILEINFOW info{};
  if (SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof info, SHGFI_PIDL | SHGFI_ATTRIBUTES) != 0 &&
      (info.dwAttributes & SFGAO_REMOVABLE) != 0) {
    return true;
  }
  // A folder on disk is asked directly: the shell's listing costs far more, and
  // this runs while the tree paints.
  const std::string path = PathOfItem(pidl);
  if (!path.empty()) return HasVisibleSubdirectory(path);
  bool found = false;
  ForEachSubfolder(pidl, [&](void* child) {
    found = true;
    CoTaskMemFree(child);
    return false;
  });
  return found;
}

std::string FolderTree::SelectedPath() const {
  HTREEITEM selected = TreeView_GetSelection(tree_);
  if (selected == nullptr) return std::string();
  const std::string path = PathOfItem(ItemPidl(tree_, selected));
  return path.empty() ? kMyComputer : path;
}

bool FolderTree::SelectPath(const std::string& path) {
  LPITEMIDLIST target = ILCreateFromPathW(win32::Wide(path).c_str());
  if (target == nullptr || root_ == nullptr) {
    if (target != nullptr) ILFree(target);
    return false;
  }
  HTREEITEM item = root_;
  bool found = false;
  while (item != nullptr) {
    LPITEMIDLIST pidl = ItemPidl(tree_, item);
    if (pidl != nullptr && ILIsEqual(pidl, target)) {
      found = true;
      break;
    }
    if (pidl != nullptr && ILIsParent(pidl, target, FALSE)) {
      Fill(item);
      TreeView_Expand(tree_, item, TVE_EXPAND);
      item = TreeView_GetChild(tree_, item);
    } else {
      item = TreeView_GetNextSibling(tree_, item);
    }
  }
  ILFree(target);
  if (found) TreeView_SelectItem(tree_, item);
  return found;
}

bool FolderTree::Notify(const NMHDR& header, LRESULT& result) {
  if (header.hwndFrom != tree_) return false;
  if (header.code == TVN_ITEMEXPANDINGA || header.code == TVN_ITEMEXPANDINGW) {
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    if (change.action == TVE_EXPAND) Fill(change.itemNew.hItem);
    result = FALSE;
    return true;
  }
  if (header.code == TVN_ITEMEXPANDEDA || header.code == TVN_ITEMEXPANDEDW) {
    // A node once opened tells of later openings by the program no more; closed,
    // it counts as never opened, so every opening reads its folder again.
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    if (change.action == TVE_COLLAPSE) TreeView_SetItemState(tree_, change.itemNew.hItem, 0, TVIS_EXPANDEDONCE);
    result = 0;
    return true;
  }
  if (header.code == TVN_GETDISPINFOA || header.code == TVN_GETDISPINFOW) {
    // Both forms carry the item in the same place; only the child count is asked.
    auto& info = const_cast<NMTVDISPINFOW&>(reinterpret_cast<const NMTVDISPINFOW&>(header));
    if ((info.item.mask & TVIF_CHILDREN) != 0) {
      info.item.cChildren = HasSubfolders(info.item.hItem) ? 1 : 0;
      info.item.mask |= TVIF_DI_SETITEM;  // kept: asked only once per node
    }
    result = 0;
    return true;
  }
  if (header.code == TVN_DELETEITEMA || header.code == TVN_DELETEITEMW) {
    // Each node owns its item id list.
    CoTaskMemFree(reinterpret_cast<void*>(reinterpret_cast<const NMTREEVIEWW&>(header).itemOld.lParam));
    result = 0;
    return true;
  }
  if (header.code == NM_RCLICK) {
    // A right click selects the node under the pointer.
    TVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(tree_, &hit.pt);
    if (HTREEITEM item = TreeView_HitTest(tree_, &hit)) TreeView_SelectItem(tree_, item);
    result = TRUE;
    return true;
  }
  return false;
}

}  // namespace korbu::win32app
