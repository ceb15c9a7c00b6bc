#include "services/FileUtils.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace korbu {

bool ClearFileAttributes(const std::string& path) {
  return platform::SetFileAttributes(path, platform::kAttrNormal);
}

bool IsFileLocked(const std::string& path) {
  if (!platform::FileExists(path)) return false;
  return !platform::CanOpenExclusively(path);
}

namespace {

void DeleteMatchingFiles(const std::string& folder, const std::string& mask) {
  platform::ListFolder(folder, mask, [&](const platform::EntryInfo& entry) {
    const std::string path = platform::IncludeTrailingDelimiter(folder) + entry.name;
    if (entry.kind == platform::EntryKind::Link) {
      platform::DeleteFile(path);  // removes the link itself
    } else if (entry.kind == platform::EntryKind::Regular) {
      if ((entry.attributes & platform::kAttrReadOnly) != 0) {
        platform::SetFileAttributes(path, entry.attributes & ~platform::kAttrReadOnly);
      }
      if (!IsFileLocked(path)) platform::DeleteFile(path);
    }
    return true;
  });
}

std::vector<std::string> RealSubfolders(const std::string& folder) {
  std::vector<std::string> subfolders;
  platform::ListFolder(folder, "*", [&](const platform::EntryInfo& entry) {
    // Without a trailing separator the listing refuses a link swapped in later.
    if (entry.kind == platform::EntryKind::Directory) {
      subfolders.push_back(platform::IncludeTrailingDelimiter(folder) + entry.name);
    }
    return true;
  });
  return subfolders;
}

}  // namespace

void DeleteFilesRecursive(const std::string& pathWithMask) {
  const std::string folder = platform::ExtractFilePath(pathWithMask);
  const std::string mask = platform::ExtractFileName(pathWithMask);
  if (folder.empty() || mask.empty()) return;

  // Depth first, a folder's own files before its subfolders, subfolders in
  // listing order; an explicit stack so that a deep tree cannot exhaust ours.
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    const std::string current = std::move(pending.back());
    pending.pop_back();
    DeleteMatchingFiles(current, mask);
    std::vector<std::string> subfolders = RealSubfolders(current);
    pending.insert(pending.end(), std::make_move_iterator(subfolders.rbegin()),
                   std::make_move_iterator(subfolders.rend()));
  }
}

std::string ReadFileToString(const std::string& path) {
  std::optional<std::string> content = platform::ReadWholeFile(path, platform::ShareMode::DenyWrite);
  if (!content) throw FileReadError(path);
  return std::move(*content);
}

namespace {

constexpr std::size_t kFindBlockSize = 32768;

// Reads up to count bytes at offset, as many as there are; -1 on a read error.
std::int64_t ReadFully(platform::InputFile& file, char* buffer, std::size_t count, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const std::int64_t got = file.ReadAt(buffer + done, count - done, offset + done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace

std::int64_t FindTextInFile(const std::string& path, std::string_view text) {
  if (text.empty() || path.empty()) return -1;
  // A match lies within a zero-free run of the file, so such a text never matches.
  if (text.find('\0') != std::string_view::npos) return -1;
  std::optional<platform::InputFile> file = platform::InputFile::Open(path, platform::ShareMode::DenyNone);
  if (!file) return -1;

  // Consecutive blocks overlap by the text's length less one byte, so that a match
  // across a boundary lies whole in the next block; a block holds at least two
  // texts so that each step moves on.
  const std::size_t blockSize = std::max(kFindBlockSize, 2 * text.size());
  const std::size_t step = blockSize - (text.size() - 1);
  std::vector<char> block(blockSize);
  std::uint64_t offset = 0;
  while (true) {
    const std::int64_t got = ReadFully(*file, block.data(), blockSize, offset);
    if (got <= 0) return -1;
    const std::string_view view(block.data(), static_cast<std::size_t>(got));
    const std::size_t at = view.find(text);
    if (at != std::string_view::npos) return static_cast<std::int64_t>(offset + at);
    if (static_cast<std::size_t>(got) < blockSize) return -1;  // that was the end
    offset += step;
  }
}

}  // namespace korbu
