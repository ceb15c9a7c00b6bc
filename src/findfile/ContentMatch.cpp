#include "findfile/ContentMatch.h"

#include <algorithm>

#include "findfile/CharTables.h"
#include "platform/FileSystem.h"

namespace korbu {
namespace {

// Reads until the block is full or the file ends; -1 on a read error.
std::int64_t ReadBlock(platform::InputFile& file, char* into, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const std::int64_t got = file.Read(into + done, count - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace

bool FileContainsPhrase(const std::string& path, std::string_view phrase, bool ignoreCase,
                        bool wholeWord) {
  if (phrase.empty()) return true;
  auto file = platform::InputFile::Open(path, platform::ShareMode::DenyNone);
  if (!file) return false;
  if (file->Size() < phrase.size()) return false;

  const TCharTable& table = ignoreCase ? LowerCaseTable() : IdentityTable();
  const std::size_t block = std::max(kContentBlockSize, phrase.size() + 1);
  // The window holds the unresolved tail of the previous block and the new block,
  // so a match may span two blocks.
  std::string window;
  window.reserve(block + phrase.size());
  unsigned char before = 0;  // the byte in front of the window; zero at the start
  bool atEnd = false;
  while (!atEnd) {
    const std::size_t kept = window.size();
    window.resize(kept + block);
    const std::int64_t got = ReadBlock(*file, window.data() + kept, block);
    if (got < 0) return false;
    window.resize(kept + static_cast<std::size_t>(got));
    atEnd = static_cast<std::size_t>(got) < block;
    for (std::size_t i = kept; i < window.size(); ++i) {
      window[i] = static_cast<char>(table[static_cast<unsigned char>(window[i])]);
    }

    const std::string_view view(window);
    for (std::size_t pos = view.find(phrase); pos != std::string_view::npos;
         pos = view.find(phrase, pos + 1)) {
      if (!wholeWord) return true;
      const std::size_t end = pos + phrase.size();
      if (end == view.size() && !atEnd) break;  // the byte after is in the next block
      const auto prev = pos == 0 ? before : static_cast<unsigned char>(view[pos - 1]);
      const bool prevOk = !IsAlphaNumeric(prev);
      const bool nextOk = end == view.size() || !IsAlphaNumeric(static_cast<unsigned char>(view[end]));
      if (prevOk && nextOk) return true;
    }
    // Keep the last phrase-length bytes: every match not yet decided starts there.
    if (window.size() > phrase.size()) {
      const std::size_t cut = window.size() - phrase.size();
      before = static_cast<unsigned char>(window[cut - 1]);
      window.erase(0, cut);
    }
  }
  return false;
}

}  // namespace korbu
