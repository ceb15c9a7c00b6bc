#include "platform/FileExtras.h"

namespace korbu::platform {

// Windows keeps a file's security descriptor and attributes with the file
// itself: nothing is carried over by hand.
Expected<FileExtras> ReadFileExtras(const Folder&, const std::string&) { return FileExtras{}; }

Status GiveFileExtras(const Folder&, const std::string&, const FileExtras&) { return Ok(); }

}  // namespace korbu::platform
