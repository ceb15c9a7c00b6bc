#pragma once
// Files a backend replaces whole (a hive of a mounted Windows, written anew with
// its logs left beside it) are handed, just before they are replaced, to the
// keeper the calling thread has: the action's journal keeps their exact bytes for
// an undo. A keeper's refusal stops the replacement; without a keeper (an undo,
// which keeps nothing) files are replaced as they are.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::platform {

struct WholeFileReplacement {
  const Folder& folder;  // where the files are, held
  std::string name;      // the file about to be replaced
  /// Files beside it that go back with it on an undo (a hive's transaction
  /// logs): the names that exist now.
  std::vector<std::string> beside;
  /// The SHA-256 of what the backend read of a file, by name: a file that holds
  /// something else now must not be replaced (the keeper refuses).
  std::vector<std::pair<std::string, std::string>> readAs;
  std::uint64_t writtenSize = 0;  // what replaces it
  std::string writtenSha256;
};

using WholeFileKeeper = std::function<Status(const WholeFileReplacement&)>;

/// Gives the calling thread a keeper while it lives; nests.
class ScopedWholeFileKeeper {
 public:
  explicit ScopedWholeFileKeeper(WholeFileKeeper keeper);
  ~ScopedWholeFileKeeper();
  ScopedWholeFileKeeper(const ScopedWholeFileKeeper&) = delete;
  ScopedWholeFileKeeper& operator=(const ScopedWholeFileKeeper&) = delete;

 private:
  WholeFileKeeper previous_;
};

/// Hands the files to the thread's keeper; Ok when it has none.
Status KeepBeforeReplacing(const WholeFileReplacement& replacement);

}  // namespace korbu::platform
