#include "support/WineCallCounter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korbu::test {

WineCallCounter::WineCallCounter(const std::string& folder) : notes_(folder + "/wine-calls") {
  const std::string script = folder + "/count-wine";
  std::ofstream(script) << "#!/bin/sh\necho x >> '" << notes_ << "'\nexec wine \"$@\"\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  wine_.emplace("WINE", script);
}

long WineCallCounter::Take() {
  std::ifstream notes(notes_);
  const long count = static_cast<long>(std::count(std::istreambuf_iterator<char>(notes), std::istreambuf_iterator<char>(), '\n'));
  notes.close();
  std::filesystem::remove(notes_);
  return count;
}

}  // namespace korbu::test
