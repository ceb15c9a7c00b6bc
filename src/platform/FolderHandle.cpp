// The parts of Folder that need no system call of their own.
#include "platform/FolderHandle.h"

#include <algorithm>
#include <utility>

#include "platform/Path.h"
#include "platform/SystemError.h"

namespace korbu::platform {

std::string Folder::PathOf(const std::string& name) const { return IncludeTrailingDelimiter(path_) + name; }

Expected<std::string> Folder::ReadFile(const std::string& name, std::uint64_t maxBytes) const {
  auto file = OpenFile(name);
  if (!file) return file.error();
  return ReadToEnd(*file, maxBytes);
}

Expected<std::string> ReadToEnd(InputFile& file, std::uint64_t maxBytes) {
  const Error tooLarge = Failure("it holds more than " + std::to_string(maxBytes) + " bytes");
  if (file.Size() > maxBytes) return tooLarge;
  // The file may grow while it is read: one byte more than allowed tells.
  const std::size_t limit = static_cast<std::size_t>(maxBytes);
  std::string content(static_cast<std::size_t>(file.Size()), '\0');
  std::size_t done = 0;
  while (true) {
    if (done == content.size()) {
      if (done > limit) return tooLarge;
      content.resize(done + std::min<std::size_t>(65536, limit - done + 1));
    }
    const std::int64_t got = file.Read(content.data() + done, content.size() - done);
    if (got < 0) return LastSystemError();
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  content.resize(done);
  return content;
}

Status Folder::RemoveIfSame(const std::string& name, const FileStatus& expected) const {
  const auto now = StatusOf(name);
  if (!now) return now.error();
  if (!now->SameFile(expected)) return Failure(PathOf(name) + " was replaced meanwhile");
  const Status deleted = DeleteFile(name);
  if (!deleted) return deleted.error().Context(PathOf(name));
  return Ok();
}

NewFile::NewFile(Folder folder, std::string name, std::string tempName, DurableFile file)
    : folder_(std::move(folder)), name_(std::move(name)), tempName_(std::move(tempName)), file_(std::move(file)) {}

NewFile::NewFile(NewFile&& other) noexcept
    : folder_(other.folder_),
      name_(std::move(other.name_)),
      tempName_(std::move(other.tempName_)),
      file_(std::move(other.file_)),
      committed_(std::exchange(other.committed_, true)) {}

Status NewFile::Commit() { return Finish(false); }

Status NewFile::CommitReplacing() { return Finish(true); }

Status NewFile::CommitUnsynced() { return Finish(false, false); }

Expected<std::pair<Folder, std::string>> OpenParent(const std::string& path) {
  std::string full = FullPath(path);
  while (full.size() > 1 && IsPathDelimiter(full.back()) && full.back() != ':') full.pop_back();
  const std::string name = ExtractFileName(full);
  const std::string folder = ExtractFilePath(full);
  if (name.empty() || name == "." || name == ".." || folder.empty()) return Failure("the path ends in no name");
  auto opened = Folder::Open(folder);
  if (!opened) return opened.error();
  return std::make_pair(std::move(*opened), name);
}

}  // namespace korbu::platform
