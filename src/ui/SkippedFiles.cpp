#include "ui/SkippedFiles.h"

#include "cli/DisplayText.h"
#include "scan/ScanSession.h"

namespace korbu {
namespace {

std::size_t Slot(SkipReason reason) { return static_cast<std::size_t>(reason); }

std::string ReasonText(SkipReason reason, std::uint64_t limit) {
  switch (reason) {
    case SkipReason::OverSizeLimit: return "over the size limit of " + std::to_string(limit / 1024) + " KiB";
    case SkipReason::Unreadable: return "could not be read";
    case SkipReason::NotAFile: return "not a regular file (a link, FIFO, socket or device): not opened";
    case SkipReason::MadeUpFileSystem: return "folder of a made-up file system (not entered)";
    case SkipReason::JudgedInPart: return "judged only in part";
  }
  return "left out";
}

}  // namespace

void SkippedFiles::Add(SkipReason reason, const std::string& path, const std::string& why) {
  const std::lock_guard lock(mutex_);
  ++counts_[Slot(reason)];
  if (names_.size() < kNamesKept) names_.push_back({reason, path, why});
}

void SkippedFiles::Clear() {
  const std::lock_guard lock(mutex_);
  for (auto& count : counts_) count = 0;
  names_.clear();
}

std::int64_t SkippedFiles::Count(SkipReason reason) const {
  const std::lock_guard lock(mutex_);
  return counts_[Slot(reason)];
}

std::int64_t SkippedFiles::Total() const {
  const std::lock_guard lock(mutex_);
  std::int64_t total = 0;
  for (const auto count : counts_) total += count;
  return total;
}

std::string SkippedFiles::Sentence() const {
  const std::int64_t inPart = Count(SkipReason::JudgedInPart);
  const std::int64_t leftOut = Total() - inPart;
  std::string sentence;
  if (leftOut > 0) sentence = std::to_string(leftOut) + " file(s) left out.";
  if (inPart > 0) sentence += (sentence.empty() ? "" : " ") + std::to_string(inPart) + " judged only in part.";
  return sentence;
}

std::string SkippedFiles::Details() const {
  const std::lock_guard lock(mutex_);
  std::string text;
  std::int64_t total = 0;
  for (const SkipReason reason : {SkipReason::OverSizeLimit, SkipReason::Unreadable, SkipReason::NotAFile,
                                  SkipReason::MadeUpFileSystem, SkipReason::JudgedInPart}) {
    const std::int64_t count = counts_[Slot(reason)];
    total += count;
    if (count > 0) text += "\n" + std::to_string(count) + " " + ReasonText(reason, limit_.load());
  }
  if (total == 0) return std::string();
  text = "Left out of the scan:" + text + "\n";
  for (const Named& named : names_) {
    text += "\n" + cli::ReadableFileName(named.path) + ": " + ReasonText(named.reason, limit_.load());
    if (!named.why.empty()) text += " (" + cli::ReadableFileName(named.why) + ")";
  }
  const auto shown = static_cast<std::int64_t>(names_.size());
  if (total > shown) text += "\nand " + std::to_string(total - shown) + " more";
  return text;
}

void SkippedFiles::Bind(ScanSession& session) {
  TFindFile& search = session.FindFile();
  search.OnFileMatch = [this, inner = search.OnFileMatch](TFindFile& sender, const std::string& folder,
                                                           const TSearchRec& file) {
    const std::uint64_t limit = limit_.load(std::memory_order_relaxed);
    if (limit != 0 && file.FullSize > limit) {
      Add(SkipReason::OverSizeLimit, folder + file.Name);
      return;
    }
    if (inner) inner(sender, folder, file);
  };
  search.OnWalkError = [this](TFindFile&, const std::string& folder, const std::string& reason) {
    Add(SkipReason::Unreadable, folder, reason);
  };
  search.OnFolderSkipped = [this](TFindFile&, const std::string& folder) { Add(SkipReason::MadeUpFileSystem, folder); };
  search.OnEntryPassedOver = [this](TFindFile&, const std::string& folder, const std::string& name) {
    Add(SkipReason::NotAFile, folder + name);
  };
}

void SkippedFiles::BeginScan(ScanSession& session) {
  Clear();
  TSearchCriteria& criteria = session.FindFile().Criteria();
  limit_ = criteria.Size.Max;
  criteria.Size.Max = 0;
}

}  // namespace korbu
