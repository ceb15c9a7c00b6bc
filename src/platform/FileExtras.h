#pragma once
// What a file system keeps of a file beside its content, owner and permission
// bits, which a file written anew in its place must be given again: on NTFS
// through ntfs-3g its security descriptor and attribute bits (hives are hidden
// system files). Nothing elsewhere, and nothing on Windows, where a file
// replaced in place keeps them.

#include <string>
#include <utility>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::platform {

/// Named attributes and their bytes.
using FileExtras = std::vector<std::pair<std::string, std::string>>;

/// The extras of a regular file of the folder (never through a link); none
/// where the file system keeps none.
Expected<FileExtras> ReadFileExtras(const Folder& folder, const std::string& name);

/// Gives a regular file of the folder those extras.
Status GiveFileExtras(const Folder& folder, const std::string& name, const FileExtras& extras);

}  // namespace korbu::platform
