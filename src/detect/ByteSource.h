#pragma once
// A minimal reader of bytes, so the checksum can run over a file or a buffer alike.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/OpenedFile.h"

namespace korbu {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// Reads up to count bytes; the number read, 0 at the end, -1 on a read error.
  /// May return fewer bytes than asked before the end.
  virtual std::int64_t Read(void* buffer, std::size_t count) = 0;
};

/// Reads an open file from its current position.
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(platform::InputFile& file) : file_(file) {}
  std::int64_t Read(void* buffer, std::size_t count) override { return file_.Read(buffer, count); }

 private:
  platform::InputFile& file_;
};

/// Reads an opened file from its start by offset, so that another reader of the
/// same open file (the engine) cannot move this one's place in it.
class OpenedFileByteSource : public ByteSource {
 public:
  explicit OpenedFileByteSource(platform::OpenedFile& file) : file_(file) {}
  std::int64_t Read(void* buffer, std::size_t count) override;

 private:
  platform::OpenedFile& file_;
  std::uint64_t offset_ = 0;
};

/// Reads a buffer that outlives the source.
class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}
  std::int64_t Read(void* buffer, std::size_t count) override;

 private:
  std::string_view bytes_;
  std::size_t position_ = 0;
};

}  // namespace korbu
