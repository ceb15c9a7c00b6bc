#pragma once
// Records the events of a TFindFile as short texts, for the walk tests.

#include <mutex>
#include <string>
#include <vector>

#include "findfile/FindFile.h"

namespace korbu::test {

class WalkRecorder {
 public:
  /// Events read "begin", "folder <path>", "file <path>", "abort", "finish"; the
  /// paths are relative to root.
  WalkRecorder(TFindFile& search, std::string root) : root_(std::move(root)) {
    search.OnSearchBegin = [this](TFindFile&) { Add("begin"); };
    search.OnSearchFinish = [this](TFindFile&) { Add("finish"); };
    search.OnSearchAbort = [this](TFindFile&) { Add("abort"); };
    search.OnFolderChange = [this](TFindFile&, const std::string& folder, TFolderIgnore&) {
      Add("folder " + Relative(folder));
    };
    search.OnFileMatch = [this](TFindFile&, const std::string& folder, const TSearchRec& rec) {
      Add("file " + Relative(folder) + rec.Name);
    };
  }

  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& e : Events()) if (e.rfind("file ", 0) == 0) files.push_back(e.substr(5));
    return files;
  }
  void Add(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }

 private:
  // Paths are shown with '/' on every platform, so that one expectation fits both.
  static std::string Slashed(std::string path) {
#ifdef _WIN32
    for (char& c : path) if (c == '\\') c = '/';
#endif
    return path;
  }
  std::string Relative(const std::string& path) const {
    const std::string slashed = Slashed(path);
    const std::string root = Slashed(root_);
    return slashed.rfind(root, 0) == 0 ? slashed.substr(root.size()) : slashed;
  }
  std::string root_;
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

}  // namespace korbu::test
