#include "services/Searches.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/FolderHandle.h"

namespace korbu {

TBaseSearch::TBaseSearch() {
  for (std::size_t b = 0; b < lowerMap_.size(); ++b) {
    lowerMap_[b] = static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(b)));
  }
}

TBaseSearch::~TBaseSearch() { ClearBuffer(); }

void TBaseSearch::SetPattern(std::string_view pattern) {
  if (pattern == pattern_) return;
  pattern_.assign(pattern);
  patternLength_ = pattern_.size();
  tableValid_ = false;
}

void TBaseSearch::SetCaseSensitive(bool value) {
  if (value == caseSensitive_) return;
  caseSensitive_ = value;
  tableValid_ = false;
}

void TBaseSearch::ClearBuffer() {
  buffer_ = nullptr;
  cursor_ = 0;
  end_ = 0;
}

void TBaseSearch::SetBuffer(const void* buffer, std::size_t length) {
  ClearBuffer();
  if (buffer == nullptr || length < 1 || length > kMaxBufferLength) return;
  buffer_ = static_cast<const unsigned char*>(buffer);
  end_ = length;
}

void TBaseSearch::BuildShiftTable() {
  const std::size_t n = patternLength_;
  if (n == 0) return;
  const auto* p = reinterpret_cast<const unsigned char*>(pattern_.data());
  skipTable_.fill(n);
  for (std::size_t j = 0; j + 1 < n; ++j) skipTable_[Key(p[j])] = n - 1 - j;
  lastByteShift_ = skipTable_[Key(p[n - 1])];
  skipTable_[Key(p[n - 1])] = 0;
  tableValid_ = true;
}

std::int32_t TBaseSearch::SearchFirst() {
  cursor_ = patternLength_ == 0 ? 0 : patternLength_ - 1;
  return SearchNext();
}

std::int32_t TBaseSearch::SearchNext() {
  if (!tableValid_) BuildShiftTable();
  const std::size_t n = patternLength_;
  if (n == 0 || n > end_ || cursor_ >= end_) {
    cursor_ = end_;
    return -1;
  }
  // No match can end before the pattern's length; this also keeps the comparison
  // inside the buffer when the pattern grew since the last search.
  if (cursor_ < n - 1) cursor_ = n - 1;
  const auto* p = reinterpret_cast<const unsigned char*>(pattern_.data());
  while (cursor_ < end_) {
    const std::size_t shift = skipTable_[Key(buffer_[cursor_])];
    if (shift != 0) {
      cursor_ += shift;
      continue;
    }
    const std::size_t start = cursor_ + 1 - n;
    std::size_t i = 0;
    if (caseSensitive_) {
      while (i + 1 < n && p[i] == buffer_[start + i]) ++i;
    } else {
      while (i + 1 < n && lowerMap_[p[i]] == lowerMap_[buffer_[start + i]]) ++i;
    }
    if (i + 1 == n) {
      cursor_ += n;
      return static_cast<std::int32_t>(start);
    }
    cursor_ += lastByteShift_;
  }
  return -1;
}

TFileSearch::~TFileSearch() { CloseFile(); }

void TFileSearch::CloseFile() {
  ClearBuffer();
  content_.clear();
  content_.shrink_to_fit();
  filename_.clear();
}

void TFileSearch::SetFilename(const std::string& name) {
  CloseFile();
  const auto parent = platform::OpenParent(name);
  if (!parent) return;
  auto content = parent->first.ReadFile(parent->second, kMaxFileLength);
  if (!content || content->empty()) return;
  content_ = std::move(*content);
  SetBuffer(content_.data(), content_.size());
  if (HasBuffer()) filename_ = name;
}

namespace {

constexpr std::size_t kBlockSize = 65536;

// Fills the buffer from offset as far as the file goes; the count read, or -1.
std::int64_t ReadBlock(platform::InputFile& file, char* buffer, std::size_t count, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const std::int64_t got = file.ReadAt(buffer + done, count - done, offset + done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace

std::int64_t FindInOpenFile(platform::InputFile& file, std::string_view pattern) {
  if (pattern.empty() || pattern.size() > TBaseSearch::kMaxBufferLength) return -1;
  // Consecutive blocks overlap by the pattern's length less one byte, so that a
  // match across a boundary lies whole in the next block; a block holds at least
  // two patterns so that each step moves on.
  const std::size_t blockSize = std::max(kBlockSize, 2 * pattern.size());
  const std::size_t step = blockSize - (pattern.size() - 1);
  const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
  std::vector<char> block(blockSize);
  std::uint64_t offset = 0;
  while (offset < TBaseSearch::kMaxBufferLength) {
    const std::uint64_t left = TBaseSearch::kMaxBufferLength - offset;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, left));
    const std::int64_t got = ReadBlock(file, block.data(), want, offset);
    if (got <= 0) return -1;
    const auto end = block.begin() + got;
    const auto at = std::search(block.begin(), end, searcher);
    if (at != end) return static_cast<std::int64_t>(offset) + (at - block.begin());
    if (static_cast<std::size_t>(got) < blockSize) return -1;  // that was the end
    offset += step;
  }
  return -1;
}

std::int32_t FindInFile(std::string_view pattern, const std::string& fileName) {
  if (pattern.empty()) return -1;
  const auto parent = platform::OpenParent(fileName);
  if (!parent) return -1;
  auto file = parent->first.OpenFile(parent->second);
  if (!file) return -1;
  return static_cast<std::int32_t>(FindInOpenFile(*file, pattern));
}

}  // namespace korbu
