#include "services/FileUtils.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Wildcard.h"
#include "services/Searches.h"

namespace korbu {

bool ClearFileAttributes(const std::string& path) {
  const auto parent = platform::OpenParent(path);
  return parent && parent->first.SetAttributes(parent->second, platform::kAttrNormal);
}

bool IsFileLocked(const std::string& path) {
  const auto parent = platform::OpenParent(path);
  if (!parent) return false;
  const auto entry = parent->first.Entry(parent->second);
  if (!entry || entry->kind != platform::EntryKind::Regular) return false;
  return !parent->first.CanOpenExclusively(parent->second);
}

void ForEachFolderBelow(const platform::Folder& root, const std::string& mask,
                        const std::function<void(const platform::Folder&, const std::vector<platform::EntryInfo>&)>& visit) {
  // An explicit stack, so that a deep tree cannot exhaust ours: each pending
  // subfolder is named by its depth and name, and only the folders on the way down
  // to the current one are held open.
  std::vector<platform::Folder> chain{root};
  std::vector<std::pair<std::size_t, std::string>> pending;
  while (true) {
    const platform::Folder& current = chain.back();
    std::vector<platform::EntryInfo> matching;
    std::vector<std::string> subfolders;
    // A folder that cannot be listed yields no entries.
    (void)current.List("*", [&](const platform::EntryInfo& entry) {
      if (platform::MatchesWildcard(entry.name, mask)) matching.push_back(entry);
      if (entry.kind == platform::EntryKind::Directory) subfolders.push_back(entry.name);
      return true;
    });
    visit(current, matching);
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) pending.emplace_back(chain.size(), std::move(*it));
    std::optional<platform::Folder> next;
    while (!next && !pending.empty()) {
      auto [depth, name] = std::move(pending.back());
      pending.pop_back();
      chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(depth), chain.end());
      if (auto child = chain.back().Child(name)) next = std::move(*child);
    }
    if (!next) return;
    chain.push_back(std::move(*next));
  }
}

void DeleteFilesRecursive(const std::string& pathWithMask) {
  const std::string folder = platform::ExtractFilePath(pathWithMask);
  const std::string mask = platform::ExtractFileName(pathWithMask);
  if (folder.empty() || mask.empty()) return;
  const auto root = platform::Folder::Open(folder);
  if (!root) return;
  ForEachFolderBelow(*root, mask, [](const platform::Folder& current, const std::vector<platform::EntryInfo>& entries) {
    for (const platform::EntryInfo& entry : entries) {
      if (entry.kind == platform::EntryKind::Link) {
        (void)current.DeleteFile(entry.name);  // removes the link itself; what stays, stays
      } else if (entry.kind == platform::EntryKind::Regular) {
        if ((entry.attributes & platform::kAttrReadOnly) != 0) {
          (void)current.SetAttributes(entry.name, entry.attributes & ~platform::kAttrReadOnly);
        }
        if (current.CanOpenExclusively(entry.name)) (void)current.DeleteFile(entry.name);
      }
    }
  });
}

std::string ReadFileToString(const std::string& path) {
  std::optional<std::string> content = platform::ReadWholeFile(path, platform::ShareMode::DenyWrite);
  if (!content) throw FileReadError(path);
  return std::move(*content);
}

std::int64_t FindTextInFile(const std::string& path, std::string_view text) {
  if (text.empty() || path.empty()) return -1;
  // A match lies within a zero-free run of the file, so such a text never matches.
  if (text.find('\0') != std::string_view::npos) return -1;
  std::optional<platform::InputFile> file = platform::InputFile::Open(path, platform::ShareMode::DenyNone);
  if (!file) return -1;
  return FindInOpenFile(*file, text);
}

}  // namespace korbu
