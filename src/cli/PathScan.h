#pragma once
// The PATH arguments of korbu-scan, scanned one after the other after the memory
// and registry phases: a folder is walked by the session's file search, a file is
// judged at once whatever its name, "-" judges standard input.

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/PathFilter.h"
#include "cli/ScanReport.h"
#include "dispatch/MainThreadDispatcher.h"
#include "scan/ScanSession.h"

namespace korbu::cli {

class PathScan {
 public:
  /// Binds the filters, the byte count and the walk's errors to the session's file
  /// search; onError runs on the main thread for each error of a PATH or folder as
  /// it happens. A file's row and errors reach the session's front end.
  PathScan(ScanSession& session, MainThreadDispatcher& dispatcher, const CliOptions& options,
           const PathFilter& filter, std::function<void(const ScanError&)> onError);

  /// Scans one PATH, taken literally; returns when its walk has ended.
  void Scan(const std::string& path);

  std::int32_t FilesScanned() const { return files_; }
  std::int32_t FoldersScanned() const { return folders_; }
  /// Bytes the verdicts read: files the cache knew and files that did not open
  /// add nothing.
  std::uint64_t BytesRead() const { return bytes_; }
  /// What was passed over, each counted: files over --max-filesize, files and
  /// folders excluded by the patterns, folders of made-up file systems, files
  /// that could not be opened (not counted as scanned; each is an error too).
  std::int64_t SkippedOverLimit() const { return overLimit_.load(); }
  std::int64_t SkippedExcluded() const { return excluded_.load(); }
  std::int64_t SkippedPseudo() const { return pseudo_.load(); }
  std::int64_t SkippedUnreadable() const { return unreadable_; }
  /// Files scanned so far, the running walk's included.
  std::int32_t FilesSoFar() const;
  bool Walking() const { return walking_; }

 private:
  void Walk(const std::string& folder);
  void Judge(const std::string& file, std::uint64_t size);
  void JudgeStandardInput();
  /// False, and counted, when a file is over --max-filesize.
  bool WithinLimit(std::uint64_t size);
  void Error(const std::string& path, const std::string& reason);
  /// Runs what (a walk or one file's verdict) and takes in the session's figures
  /// of it; returns the files of it that could not be opened.
  std::int64_t Counted(const std::function<void()>& what);

  ScanSession& session_;
  MainThreadDispatcher& dispatcher_;
  const CliOptions& options_;
  const PathFilter& filter_;
  std::function<void(const ScanError&)> onError_;
  std::int32_t files_ = 0;
  std::int32_t folders_ = 0;
  bool walking_ = false;
  /// True when path lies inside a folder walked before, which took it in.
  bool WalkedBefore(const std::string& path) const;

  std::set<std::string> named_;        // the PATHs scanned so far, in full
  std::vector<std::string> walked_;    // the folders walked so far, with their delimiter
  std::uint64_t bytes_ = 0;
  std::int64_t unreadable_ = 0;
  // Counted on the walker, read on the main thread.
  std::atomic<std::int64_t> overLimit_{0};
  std::atomic<std::int64_t> excluded_{0};
  std::atomic<std::int64_t> pseudo_{0};
};

}  // namespace korbu::cli
