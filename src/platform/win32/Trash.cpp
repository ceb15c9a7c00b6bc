#include "platform/Trash.h"


#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

Expected<std::string> MoveToTrash(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return Failure("not a path");
  // Held while the shell works: no folder on the path can be swapped meanwhile.
  const auto parent = OpenParent(path);
  if (!parent) return parent.error();
  const std::string full = parent->first.PathOf(parent->second);
  const auto held = win32::WidePath(full);
  if (!held || ::GetFileAttributesW(held->c_str()) == INVALID_FILE_ATTRIBUTES) return LastSystemError();
  // The shell takes the plain form only (no extended-length prefix), and a list of
  // names ended by an empty one: two zeros after the path, whatever its length.
  std::wstring from = win32::Wide(full);
  if (from.size() > 3 && from.back() == L'\\') from.pop_back();
  from.append(2, L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  // The shell's own codes are not the system's; only the code itself is told.
  if (const int code = ::SHFileOperationW(&op); code != 0) {
    return Failure("the shell could not move it (code " + std::to_string(code) + ")", code);
  }
  if (op.fAnyOperationsAborted) return Failure("the shell's move was cut short");
  // Without a recycle bin the shell deletes outright; either way the item is gone,
  // and only a present item means failure.
  if (::GetFileAttributesW(held->c_str()) != INVALID_FILE_ATTRIBUTES) return Failure("it is still in its place");
  return std::string();  // the shell does not tell where it went
}

Expected<std::string> MoveToTrash(const Folder& folder, const std::string& name) {
  return MoveToTrash(folder.PathOf(name));  // the shell takes paths; the folder stays held
}

}  // namespace korbu::platform
