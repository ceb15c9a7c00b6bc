#include "cli/PathScan.h"

#include "findfile/TargetSearch.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "cli/StopSignal.h"

namespace korbu::cli {

PathScan::PathScan(ScanSession& session, MainThreadDispatcher& dispatcher, const CliOptions& options,
                   const PathFilter& filter, std::function<void(const ScanError&)> onError)
    : session_(session),
      dispatcher_(dispatcher),
      options_(options),
      filter_(filter),
      onError_(std::move(onError)) {
  TFindFile& search = session_.FindFile();
  // The session counts and judges what these let through, the folders named on the
  // command line included, as clamscan filters them.
  search.OnFolderChange = [this, inner = search.OnFolderChange](TFindFile& sender, const std::string& folder,
                                                                  TFolderIgnore& ignore) {
    if (!filter_.FolderWanted(folder)) {
      ignore = TFolderIgnore::fiFilesAndSubfolders;
      return;
    }
    if (inner) inner(sender, folder, ignore);
  };
  search.OnFileMatch = [this, inner = search.OnFileMatch](TFindFile& sender, const std::string& folder,
                                                            const TSearchRec& file) {
    if (!filter_.FileWanted(folder + file.Name)) return;
    bytes_.fetch_add(file.FullSize, std::memory_order_relaxed);
    if (inner) inner(sender, folder, file);
  };
  search.OnWalkError = [this](TFindFile&, const std::string& folder, const std::string& reason) {
    session_.InWalkOrder([this, folder, reason] { dispatcher_.RunOnMainThread([&] { Error(folder, reason); }); });
  };
}

std::int32_t PathScan::FilesSoFar() const { return files_ + (walking_ ? session_.FilesScanned() : 0); }

void PathScan::Error(const std::string& path, const std::string& reason) {
  if (onError_) onError_(ScanError{path, reason});
}

void PathScan::Scan(const std::string& path) {
  if (path == kStandardInputArgument) {
    JudgeStandardInput();
    return;
  }
  // Named as the walk names its files, so that an action finds it from anywhere.
  const std::string full = platform::FullPath(path);
  if (full.empty()) {
    Error(path, "the current folder has been removed");  // a relative path has no full form then
    return;
  }
  if (platform::DirectoryExists(full)) {
    Walk(full);
    return;
  }
  if (auto entry = platform::GetEntryInfo(full); entry && entry->kind == platform::EntryKind::Regular) {
    if (filter_.FileWanted(full)) Judge(full, entry->size);
    return;
  }
  if (platform::GetEntryInfo(full)) {
    Error(path, "not a regular file or folder");  // links are not followed, devices not read
  } else {
    Error(path, "no such file or folder");
  }
}

void PathScan::Walk(const std::string& folder) {
  // The folder goes in as one literal entry of its own, never through the
  // ";"-separated location list, which would read ";", "<", ">" and blanks in it.
  TSearchCriteria& criteria = session_.FindFile().Criteria();
  criteria.Files.Location.clear();
  criteria.Files.Included.clear();
  const std::string full = platform::IncludeTrailingDelimiter(folder);
  for (const std::string& mask : SplitCriteriaList(options_.scan.allFiles ? kAllFilesMask : kProgramFilesMask)) {
    criteria.Files.Included.push_back(full + mask);
  }
  criteria.Size.Max = options_.maxFileSize;
  walking_ = true;
  session_.StartFileSearch();
  session_.WaitForEnd();
  walking_ = false;
  files_ += session_.FilesScanned();
  folders_ += session_.FoldersScanned();
}

bool PathScan::WithinLimit(const std::string& file, std::uint64_t size) {
  if (options_.maxFileSize == 0 || size <= options_.maxFileSize) return true;
  Error(file, "larger than " + std::to_string(options_.maxFileSize) + " bytes, not scanned (see --max-filesize)");
  return false;
}

void PathScan::JudgeStandardInput() {
  const std::string name(kStandardInputName);
  // One byte over the limit is enough to tell that it is over.
  const std::uint64_t keep = options_.maxFileSize == 0 ? 0 : std::uint64_t{options_.maxFileSize} + 1;
  platform::OpenedFile input = platform::OpenedFile::FromStandardInput(keep, [] { return StopRequested(); });
  if (StopRequested()) return;
  if (!input.IsOpen()) {
    Error(name, input.Error());
    return;
  }
  if (!WithinLimit(name, input.Size())) return;
  ++files_;
  bytes_.fetch_add(input.Size(), std::memory_order_relaxed);
  session_.ScanOneFile(input, name);
}

void PathScan::Judge(const std::string& file, std::uint64_t size) {
  if (!WithinLimit(file, size)) return;
  ++files_;
  bytes_.fetch_add(size, std::memory_order_relaxed);
  session_.ScanOneFile(file);
}

}  // namespace korbu::cli
