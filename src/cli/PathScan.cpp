#include "cli/PathScan.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "findfile/TargetSearch.h"
#include "platform/FileSystem.h"
#include "platform/FileSystemPath.h"
#include "platform/Path.h"
#include "cli/DisplayText.h"
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
  search.FollowFolderLinks = options.followFolderLinks == 2;
  search.FollowFileLinks = options.followFileLinks == 2;
  search.CrossFileSystems = options.crossFileSystems;
  // The session counts and judges what these let through, the folders named on the
  // command line included, as clamscan filters them.
  search.OnFolderChange = [this, inner = search.OnFolderChange](TFindFile& sender, const std::string& folder,
                                                                  TFolderIgnore& ignore) {
    if (!filter_.FolderWanted(folder)) {
      excluded_.fetch_add(1, std::memory_order_relaxed);
      ignore = TFolderIgnore::fiFilesAndSubfolders;
      return;
    }
    if (inner) inner(sender, folder, ignore);
  };
  search.OnFileMatch = [this, inner = search.OnFileMatch](TFindFile& sender, const std::string& folder,
                                                            const TSearchRec& file) {
    if (!filter_.FileWanted(folder + file.Name)) {
      excluded_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    // The limit is applied here rather than by the walk's criteria, which would
    // pass over such files without a count.
    if (!WithinLimit(file.FullSize)) return;
    if (inner) inner(sender, folder, file);
  };
  search.OnFolderSkipped = [this](TFindFile&, const std::string&) { pseudo_.fetch_add(1, std::memory_order_relaxed); };
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
  std::string full = platform::FullPath(path);
  if (full.empty()) {
    Error(path, "the current folder has been removed");  // a relative path has no full form then
    return;
  }
  // A link named here is followed, as clamscan follows it (/bin on Debian is
  // one); what it leads to is scanned and listed by its own name, so that an
  // action acts on that file and not on a link that may change meanwhile.
  if (auto entry = platform::GetEntryInfo(full); entry && entry->kind == platform::EntryKind::Link) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(platform::FileSystemPath(full), ec);
    if (ec) {
      Error(path, "a link that leads nowhere: " + ec.message());
      return;
    }
    full = platform::ProgramPath(target);
    // Not followed when asked so: no error, but said, as nothing of it is judged.
    const bool folder = platform::DirectoryExists(full);
    if ((folder ? options_.followFolderLinks : options_.followFileLinks) == 0) {
      std::cerr << "korbu-scan: " << ReadableFileName(path) << ": a link, not followed (--follow-"
                << (folder ? "dir" : "file") << "-symlinks=0)\n";
      return;
    }
  }
  // The same file or folder named twice is scanned once, and so is one inside a
  // folder already walked.
  if (WalkedBefore(full) || !named_.insert(full).second) return;
  if (platform::DirectoryExists(full)) {
    Walk(full);
    return;
  }
  if (auto entry = platform::GetEntryInfo(full); entry && entry->kind == platform::EntryKind::Regular) {
    if (filter_.FileWanted(full)) {
      Judge(full, entry->size);
    } else {
      excluded_.fetch_add(1, std::memory_order_relaxed);
    }
    return;
  }
  if (platform::GetEntryInfo(full)) {
    Error(path, "not a regular file or folder");  // devices and FIFOs are not read
  } else {
    Error(path, "no such file or folder");
  }
}

bool PathScan::WalkedBefore(const std::string& path) const {
  // Only a walk of every file and every level is sure to have taken it in.
  if (!options_.scan.allFiles || !options_.scan.subfolders) return false;
  for (const std::string& folder : walked_) {
    if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0) return true;
  }
  return false;
}

void PathScan::Walk(const std::string& folder) {
  // The folder goes in as one literal entry of its own, never through the
  // ";"-separated location list, which would read ";", "<", ">" and blanks in it.
  TSearchCriteria& criteria = session_.FindFile().Criteria();
  criteria.Files.Location.clear();
  criteria.Files.Included.clear();
  const std::string full = platform::IncludeTrailingDelimiter(folder);
  walked_.push_back(full);
  for (const std::string& mask : SplitCriteriaList(options_.scan.allFiles ? kAllFilesMask : kProgramFilesMask)) {
    criteria.Files.Included.push_back(full + mask);
  }
  criteria.Size.Max = 0;  // see OnFileMatch
  walking_ = true;
  const std::int64_t notOpened = Counted([this] {
    session_.StartFileSearch();
    session_.WaitForEnd();
  });
  walking_ = false;
  files_ += session_.FilesScanned() - static_cast<std::int32_t>(notOpened);
  folders_ += session_.FoldersScanned();
}

bool PathScan::WithinLimit(std::uint64_t size) {
  if (options_.maxFileSize == 0 || size <= options_.maxFileSize) return true;
  overLimit_.fetch_add(1, std::memory_order_relaxed);
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
  if (!WithinLimit(input.Size())) return;
  ++files_;
  Counted([&] { session_.ScanOneFile(input, name); });
}

void PathScan::Judge(const std::string& file, std::uint64_t size) {
  if (!WithinLimit(size)) return;
  if (Counted([&] { session_.ScanOneFile(file); }) == 0) ++files_;
}

std::int64_t PathScan::Counted(const std::function<void()>& what) {
  const std::uint64_t bytesBefore = session_.BytesRead();
  const std::int64_t notOpenedBefore = session_.FilesNotOpened();
  what();
  bytes_ += session_.BytesRead() - bytesBefore;
  const std::int64_t notOpened = session_.FilesNotOpened() - notOpenedBefore;
  unreadable_ += notOpened;
  return notOpened;
}

}  // namespace korbu::cli
