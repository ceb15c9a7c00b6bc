#pragma once
// Byte-pattern search in memory (Horspool skip table), byte-exact or ignoring the
// case of the letters A-Z, and its variant that searches a whole file read into
// memory. Successive searches give successive, non-overlapping matches. Files are
// read, never mapped: one that shrinks while it is searched just ends sooner.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace korbu {

class TBaseSearch {
 public:
  /// The largest buffer a search accepts: every offset fits the 32-bit result.
  static constexpr std::size_t kMaxBufferLength = 0x7FFFFFFF;

  TBaseSearch();
  virtual ~TBaseSearch();
  TBaseSearch(const TBaseSearch&) = delete;
  TBaseSearch& operator=(const TBaseSearch&) = delete;

  const std::string& Pattern() const { return pattern_; }
  void SetPattern(std::string_view pattern);

  /// False after construction: letters A-Z and a-z then compare equal.
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);

  /// Attaches a buffer the caller keeps alive while it is searched. A null
  /// pointer, a length of 0 or one above kMaxBufferLength leaves no buffer.
  /// The next SearchNext starts at the beginning of the new buffer.
  virtual void SetBuffer(const void* buffer, std::size_t length);

  /// Zero-based offset of the first match in the buffer, or -1.
  std::int32_t SearchFirst();
  /// Zero-based offset of the next match after the previous one (matches do not
  /// overlap), or -1 when there is none. Starts at the beginning when no search
  /// ran on this buffer yet.
  std::int32_t SearchNext();

 protected:
  void ClearBuffer();
  bool HasBuffer() const { return buffer_ != nullptr; }

 private:
  void BuildShiftTable();
  unsigned char Key(unsigned char byte) const { return caseSensitive_ ? byte : lowerMap_[byte]; }

  std::size_t cursor_ = 0;  // index of the byte aligned with the pattern's last byte
  std::size_t end_ = 0;     // one past the buffer's last byte
  std::string pattern_;
  std::size_t patternLength_ = 0;
  bool tableValid_ = false;
  bool caseSensitive_ = false;
  std::size_t lastByteShift_ = 0;
  std::array<std::size_t, 256> skipTable_{};  // 0 marks the pattern's last byte
  std::array<unsigned char, 256> lowerMap_{};
  const unsigned char* buffer_ = nullptr;
};

/// Searches the whole content of one file, read into memory.
class TFileSearch : public TBaseSearch {
 public:
  /// The largest file it reads.
  static constexpr std::uint64_t kMaxFileLength = 256ULL << 20;

  TFileSearch() = default;
  ~TFileSearch() override;

  /// The file currently searched; empty when none is read.
  const std::string& Filename() const { return filename_; }
  /// Releases the current file and reads the named one. A missing, empty or
  /// unreadable file, a symbolic link, or one larger than kMaxFileLength leaves
  /// no buffer and Filename empty; every search then gives -1.
  void SetFilename(const std::string& name);

 private:
  void CloseFile();

  std::string filename_;
  std::string content_;
};

/// Offset of the first occurrence of the pattern's exact bytes in an open file,
/// read from its start in blocks of bounded size (a match across two blocks is
/// found), or -1 when there is none, the pattern is empty or a read fails. Only
/// the first kMaxBufferLength bytes are searched.
std::int64_t FindInOpenFile(platform::InputFile& file, std::string_view pattern);

/// FindInOpenFile on the file at a path, reached without following any link; -1
/// also for a file that cannot be opened.
std::int32_t FindInFile(std::string_view pattern, const std::string& fileName);

}  // namespace korbu
