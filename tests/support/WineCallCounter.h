#pragma once
// Counts the Wine starts of the program: WINE names, while it lives, a script
// that notes each start and hands over to `wine`.

#include <optional>
#include <string>

#include "support/ScopedEnvironment.h"

namespace korbu::test {

class WineCallCounter {
 public:
  /// The script and its notes go into folder.
  explicit WineCallCounter(const std::string& folder);

  /// The starts since the last call (or since it was made).
  long Take();

 private:
  std::string notes_;
  std::optional<ScopedEnvironment> wine_;
};

}  // namespace korbu::test
