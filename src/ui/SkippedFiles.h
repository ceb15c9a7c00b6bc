#pragma once
// What a scan of the window left out, and why: files over the walk's size limit,
// files and folders that could not be read, links, FIFOs and devices the walk
// never opens, folders of made-up file systems, and
// files the engine judged only in part. The window says how many after the
// summary line and names them in its tool tip, so that nothing is passed over in
// silence.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace korbu {

class ScanSession;

enum class SkipReason { OverSizeLimit, Unreadable, NotAFile, MadeUpFileSystem, JudgedInPart };

class SkippedFiles {
 public:
  /// The names kept for the tip; every skip is counted all the same.
  static constexpr std::size_t kNamesKept = 20;

  /// Counts what the session's walk leaves out from now on: its folder errors and
  /// made-up file systems, and the files over the size limit that BeginScan takes
  /// over. Once per session; the session's walk must end before this goes.
  void Bind(ScanSession& session);
  /// Main thread, once the scan's options are applied and before the walk starts:
  /// clears the counts and moves the size limit from the walk's criteria, which
  /// would pass over bigger files without a word, to the count.
  void BeginScan(ScanSession& session);
  /// The size limit of the scan under way; 0 for none.
  std::uint64_t SizeLimit() const { return limit_.load(); }

  /// Any thread.
  void Add(SkipReason reason, const std::string& path, const std::string& why = {});
  void Clear();
  std::int64_t Count(SkipReason reason) const;
  std::int64_t Total() const;

  /// The sentence after the summary line ("3 file(s) left out.", and how many
  /// were judged only in part); empty when nothing was left out.
  std::string Sentence() const;
  /// The tip: how many for each reason, then the first names with theirs; empty
  /// when nothing was left out.
  std::string Details() const;

 private:
  struct Named {
    SkipReason reason;
    std::string path;
    std::string why;
  };
  std::atomic<std::uint64_t> limit_{0};
  mutable std::mutex mutex_;
  std::int64_t counts_[5] = {};
  std::vector<Named> names_;
};

}  // namespace korbu
