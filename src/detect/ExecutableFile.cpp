#include "detect/ExecutableFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <memory>
#include <utility>

#include "detect/Crc32.h"
#include "detect/Heuristic.h"
#include "platform/FileSystem.h"

namespace korbu {
namespace {

using platform::InputFile;
using platform::ShareMode;

constexpr std::size_t kBlockSize = kExamineBlockSize;

struct PassResult {
  bool opened = false;
  bool readError = false;
  bool notMz = false;          // stopped after the first two bytes
  std::uint64_t length = 0;    // bytes read
  std::uint32_t crcRegister = kCrc32Start;  // over all but the last 32 bytes read
  bool patternFound = false;
};

struct PassRequest {
  bool requireMz = false;
  bool crc = false;
  std::string_view pattern;  // empty: no search
};

// memchr finds candidates for the first byte far faster than a byte loop could.
bool Contains(const unsigned char* data, std::size_t size, std::string_view pattern) {
  if (pattern.empty() || size < pattern.size()) return pattern.empty();
  const auto first = static_cast<unsigned char>(pattern[0]);
  const unsigned char* p = data;
  const unsigned char* const last = data + (size - pattern.size());  // last possible start
  while (p <= last) {
    const void* hit = std::memchr(p, first, static_cast<std::size_t>(last - p) + 1);
    if (hit == nullptr) return false;
    p = static_cast<const unsigned char*>(hit);
    if (std::memcmp(p + 1, pattern.data() + 1, pattern.size() - 1) == 0) return true;
    ++p;
  }
  return false;
}

// One pass over the file. The window holds the bytes of the current block after a
// carry of the previous block's last bytes: enough for a pattern that crosses the
// block boundary, and for the 32 bytes the checksum holds back until it knows
// they are not the file's last.
PassResult ReadOnce(ByteSource& source, std::uint64_t size, const PassRequest& request) {
  PassResult result;
  result.opened = true;
  const std::size_t carryMax =
      std::max<std::size_t>(kCrcIgnoredTail, request.pattern.empty() ? 0 : request.pattern.size() - 1);
  // Left uninitialised: every byte looked at has been read into it first.
  const std::size_t blockSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, kBlockSize));
  // A pass that stops at the head of most files (they are not MZ files) reads a
  // small head first, and takes a window for whole blocks only for an MZ file.
  std::size_t readSize = request.requireMz ? std::min(blockSize, kExamineHeadSize) : blockSize;
  auto window = std::make_unique_for_overwrite<unsigned char[]>(carryMax + readSize);

  std::size_t carry = 0;         // bytes at the start of the window from earlier blocks
  std::uint64_t windowStart = 0; // file offset of window[0]
  std::uint64_t crcFed = 0;      // file offset up to which the register has seen the data
  std::uint64_t remaining = size;  // what was appended after the open is not read
  bool headKnown = false;

  while (remaining > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, readSize));
    const std::int64_t got = source.Read(window.get() + carry, want);
    if (got < 0) {
      result.readError = true;
      return result;
    }
    if (got == 0) break;  // cut short since it was opened
    remaining -= static_cast<std::uint64_t>(got);
    const std::size_t filled = carry + static_cast<std::size_t>(got);
    const std::uint64_t end = windowStart + filled;
    result.length = end;

    // While fewer than two bytes have arrived, the window still starts at offset 0.
    if (!headKnown && end >= 2) {
      headKnown = true;
      if (request.requireMz && !(window[0] == 'M' && window[1] == 'Z')) {
        result.notMz = true;
        return result;
      }
    }

    if (request.crc && end > kCrcIgnoredTail && end - kCrcIgnoredTail > crcFed) {
      const std::uint64_t feedEnd = end - kCrcIgnoredTail;
      result.crcRegister = Crc32Update(window.get() + (crcFed - windowStart),
                                       static_cast<std::int64_t>(feedEnd - crcFed), result.crcRegister);
      crcFed = feedEnd;
    }

    if (!request.pattern.empty() && !result.patternFound) {
      result.patternFound = Contains(window.get(), filled, request.pattern);
      if (result.patternFound && !request.crc) return result;
    }

    const std::size_t keep = std::min(filled, carryMax);
    if (headKnown && readSize < blockSize) {
      readSize = blockSize;
      auto wider = std::make_unique_for_overwrite<unsigned char[]>(carryMax + readSize);
      std::memcpy(wider.get(), window.get() + filled - keep, keep);
      window = std::move(wider);
    } else {
      std::memmove(window.get(), window.get() + filled - keep, keep);
    }
    carry = keep;
    windowStart = end - keep;
  }
  if (request.requireMz && !headKnown) result.notMz = true;  // fewer than two bytes
  return result;
}

PassResult ReadPath(const std::string& path, const PassRequest& request) {
  auto file = InputFile::Open(path, ShareMode::DenyNone);
  if (!file) return {};
  FileByteSource source(*file);
  return ReadOnce(source, file->Size(), request);
}

PassRequest ExamineRequest(ExamineFor what) {
  PassRequest request;
  request.requireMz = true;
  request.crc = what != ExamineFor::Pattern;
  if (what != ExamineFor::Crc) request.pattern = HeuristicPattern();
  return request;
}

ExecutableFacts FactsOf(const PassResult& pass, const PassRequest& request) {
  ExecutableFacts facts;
  facts.readError = pass.readError;
  if (!pass.opened || pass.notMz || pass.readError) {
    facts.isMz = pass.opened && !pass.notMz && pass.length >= 2;
    return facts;
  }
  facts.isMz = true;
  if (request.crc && pass.length >= kCrcIgnoredTail) {
    facts.crcValid = true;
    facts.crc = ~pass.crcRegister;
  }
  facts.patternFound = pass.patternFound;
  return facts;
}

}  // namespace

bool IsPEFile(const std::string& path) {
  auto file = InputFile::Open(path, ShareMode::DenyNone);
  if (!file) return false;
  std::array<unsigned char, 2> head{};
  std::size_t have = 0;
  while (have < head.size()) {
    const std::int64_t got = file->Read(head.data() + have, head.size() - have);
    if (got <= 0) return false;
    have += static_cast<std::size_t>(got);
  }
  return head[0] == 'M' && head[1] == 'Z';
}

std::optional<std::uint32_t> FileCrc32(const std::string& path) {
  PassRequest request;
  request.crc = true;
  const PassResult pass = ReadPath(path, request);
  if (!pass.opened || pass.readError || pass.length < kCrcIgnoredTail) return std::nullopt;
  return ~pass.crcRegister;
}

ExecutableFacts ExamineExecutable(const std::string& path, ExamineFor what) {
  const PassRequest request = ExamineRequest(what);
  return FactsOf(ReadPath(path, request), request);
}

ExecutableFacts ExamineExecutable(platform::OpenedFile& file, ExamineFor what) {
  if (!file.IsOpen()) return {};
  OpenedFileByteSource source(file);
  return ExamineExecutable(source, file.Size(), what);
}

ExecutableFacts ExamineExecutable(ByteSource& source, std::uint64_t size, ExamineFor what) {
  const PassRequest request = ExamineRequest(what);
  return FactsOf(ReadOnce(source, size, request), request);
}

bool GetExeCrc(const std::string& path, std::uint32_t& crc) {
  const ExecutableFacts facts = ExamineExecutable(path, ExamineFor::Crc);
  if (!facts.crcValid) return false;
  crc = facts.crc;
  return true;
}

}  // namespace korbu
