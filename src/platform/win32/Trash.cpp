#include "platform/Trash.h"


#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Path.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

bool MoveToTrash(const std::string& path, std::string*) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  // Held while the shell works: no folder on the path can be swapped meanwhile.
  const auto parent = OpenParent(path);
  if (!parent) return false;
  const std::string full = parent->first.PathOf(parent->second);
  const auto held = win32::WidePath(full);
  if (!held || ::GetFileAttributesW(held->c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  // The shell takes the plain form only (no extended-length prefix), and a list of
  // names ended by an empty one: two zeros after the path, whatever its length.
  std::wstring from = win32::Wide(full);
  if (from.size() > 3 && from.back() == L'\\') from.pop_back();
  from.append(2, L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  if (::SHFileOperationW(&op) != 0 || op.fAnyOperationsAborted) return false;
  // Without a recycle bin the shell deletes outright; either way the item is gone,
  // and only a present item means failure.
  return ::GetFileAttributesW(held->c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool MoveToTrash(const Folder& folder, const std::string& name, std::string* trashedAt) {
  return MoveToTrash(folder.PathOf(name), trashedAt);  // the shell takes paths; the folder stays held
}

}  // namespace korbu::platform
