#include "services/Searches.h"

namespace korbu {

TBaseSearch::TBaseSearch() {
  // The ANSI lower-casing of this platform's C locale: A-Z only.
  for (std::size_t b = 0; b < lowerMap_.size(); ++b) {
    const auto byte = static_cast<unsigned char>(b);
    lowerMap_[b] = (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
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

TFileSearch::~TFileSearch() { CloseMapping(); }

void TFileSearch::CloseMapping() {
  ClearBuffer();
  mapping_.reset();
  filename_.clear();
}

void TFileSearch::SetFilename(const std::string& name) {
  CloseMapping();
  if (name.empty() || !platform::FileExists(name)) return;
  mapping_ = platform::MappedFile::Open(name);
  if (!mapping_ || mapping_->Size() < 1 || mapping_->Size() > kMaxBufferLength) {
    mapping_.reset();
    return;
  }
  SetBuffer(mapping_->Data(), static_cast<std::size_t>(mapping_->Size()));
  if (HasBuffer()) {
    filename_ = name;
  } else {
    mapping_.reset();
  }
}

std::int32_t FindInFile(std::string_view pattern, const std::string& fileName) {
  TFileSearch search;
  search.SetCaseSensitive(true);
  search.SetFilename(fileName);
  search.SetPattern(pattern);
  if (pattern.empty()) return -1;
  return search.SearchFirst();
}

}  // namespace korbu
