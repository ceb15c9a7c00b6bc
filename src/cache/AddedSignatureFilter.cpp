#include "cache/AddedSignatureFilter.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "cache/NormalizedText.h"
#include "engine/SignatureLines.h"
#include "platform/FileSystem.h"
#include "platform/HexText.h"
#include "platform/Path.h"

namespace korbu::cache {
namespace {

constexpr std::size_t kChunk = 1u << 18;

std::uint32_t AnchorAt(const unsigned char* bytes) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// libclamav's script scanner normalizes at most this many bytes (its scan buffer)
// before it starts afresh, so its text holds at most one space more per as many
// bytes of the file than this program's normalized text; half of it, to be safe.
constexpr std::uint64_t kBytesPerFreshStart = 1u << 16;

// What of the patterns can occur in normalized text.
std::vector<std::string> AsNormalizedText(const std::vector<std::string>& patterns) {
  std::vector<std::string> text;
  for (const std::string& pattern : patterns) {
    std::string collapsed = CollapseSpaces(pattern);
    if (std::all_of(collapsed.begin(), collapsed.end(),
                    [](char c) { return TextNormalizer::CanHold(static_cast<unsigned char>(c)); })) {
      text.push_back(std::move(collapsed));
    }
  }
  return text;
}

// The bytes of a body signature that is bytes alone (no wildcard, alternative or
// anchor), for every file type; empty when it is anything else.
std::optional<std::string> BodyPattern(std::string_view line) {
  if (LineField(line, ':', 1) != "0") return std::nullopt;
  const std::string_view hex = LineField(line, ':', 3);
  if (hex.size() % 2 != 0 || hex.size() < 2 * PatternSet::kAnchor) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (!platform::IsHexDigit(hex[i]) || !platform::IsHexDigit(hex[i + 1])) return std::nullopt;
    bytes.push_back(static_cast<char>(platform::HexDigitValue(hex[i]) * 16 + platform::HexDigitValue(hex[i + 1])));
  }
  return bytes;
}

// The file size of a hash signature (hash:size:name...); empty for any size ("*")
// or a line that is not one.
std::optional<std::uint64_t> HashSize(std::string_view line) {
  if (std::count(line.begin(), line.end(), ':') < 2) return std::nullopt;
  const std::string_view digits = LineField(line, ':', 1);
  std::uint64_t size = 0;
  const auto [end, problem] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  if (digits.empty() || problem != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return size;
}

}  // namespace

std::optional<AddedSignatureFilter> AddedSignatureFilter::FromSmallEngine(const std::string& official,
                                                                          const std::string& local) {
  std::vector<std::string> patterns;
  std::vector<std::uint64_t> sizes;
  bool judged = true;
  for (const std::string& folder : {official, local}) {
    if (folder.empty()) continue;
    const Status listed = platform::ListFolder(folder, "*", [&](const platform::EntryInfo& entry) {
      const std::string& name = entry.name;
      // What only shapes how the engine sees files, or spares files, changes no
      // clean verdict.
      if (name.rfind("allowed.", 0) == 0 || name.rfind("shaping.", 0) == 0 || name == "daily.cfg") return true;
      const bool body = name == "added.ndb";
      judged = body || name == "added.hdb" || name == "added.hsb";
      if (!judged) return false;
      const Status read = ReadSignatureLines(
          platform::IncludeTrailingDelimiter(folder) + name, [&](std::string_view, std::string_view line) {
            if (!judged || line.front() == '#') return;
            if (body) {
              std::optional<std::string> pattern = BodyPattern(line);
              judged = pattern.has_value();
              if (judged) patterns.push_back(std::move(*pattern));
            } else {
              std::optional<std::uint64_t> size = HashSize(line);
              judged = size.has_value();
              if (judged) sizes.push_back(*size);
            }
          });
      judged = judged && read;
      return judged;
    });
    if (!listed || !judged) return std::nullopt;
  }
  return AddedSignatureFilter(std::move(patterns), std::move(sizes));
}

PatternSet::PatternSet(std::vector<std::string> patterns)
    : patterns_(std::move(patterns)), anchorBits_((std::size_t{1} << kAnchorHashBits) / 64) {
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    const std::string& pattern = patterns_[i];
    if (pattern.size() < kAnchor) {
      tooShort_ = true;
      continue;
    }
    longest_ = std::max(longest_, pattern.size());
    const std::uint32_t anchor = AnchorAt(reinterpret_cast<const unsigned char*>(pattern.data()));
    const std::size_t hash = AnchorHash(anchor);
    anchorBits_[hash / 64] |= std::uint64_t{1} << (hash % 64);
    byAnchor_[anchor].push_back(i);
  }
}

bool PatternSet::Stream::Feed(const unsigned char* bytes, std::size_t count) {
  if (set_.longest_ == 0) return false;
  held_.insert(held_.end(), bytes, bytes + count);
  if (Search()) return true;
  // A pattern that starts in the last longest-1 bytes may end in the next feed.
  const std::size_t keep = std::min(held_.size(), set_.longest_ - 1);
  held_.erase(held_.begin(), held_.end() - static_cast<std::ptrdiff_t>(keep));
  return false;
}

bool PatternSet::Stream::Search() const {
  const unsigned char* data = held_.data();
  const std::size_t have = held_.size();
  for (std::size_t at = 0; at + kAnchor <= have; ++at) {
    const std::uint32_t anchor = AnchorAt(data + at);
    if (!set_.AnchorMayStart(anchor)) continue;
    const auto found = set_.byAnchor_.find(anchor);
    if (found == set_.byAnchor_.end()) continue;
    for (std::size_t index : found->second) {
      const std::string& pattern = set_.patterns_[index];
      if (at + pattern.size() <= have && std::memcmp(data + at, pattern.data(), pattern.size()) == 0) return true;
    }
  }
  return false;
}

AddedSignatureFilter::AddedSignatureFilter(std::vector<std::string> patterns, std::vector<std::uint64_t> sizes)
    : bytes_(patterns), text_(AsNormalizedText(patterns)), sizes_(std::move(sizes)) {
  std::sort(sizes_.begin(), sizes_.end());
}

bool AddedSignatureFilter::SizeMayMatch(std::uint64_t low, std::uint64_t high) const {
  const auto first = std::lower_bound(sizes_.begin(), sizes_.end(), low);
  return first != sizes_.end() && *first <= high;
}

bool AddedSignatureFilter::MayMatch(platform::OpenedFile& file, MatchedAs matchedAs) const {
  const bool text = matchedAs == MatchedAs::Text;
  if (matchedAs == MatchedAs::Unknown || bytes_.HasTooShort() || (text && text_.HasTooShort())) return true;
  if (SizeMayMatch(file.Size(), file.Size())) return true;
  if (bytes_.Empty() && (sizes_.empty() || !text)) return false;

  PatternSet::Stream inBytes(bytes_);
  PatternSet::Stream inText(text_);
  TextNormalizer normalizer;
  // Most files are small: a buffer of a whole chunk for each would be mostly cleared for nothing.
  std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, file.Size() + 1)));
  std::vector<unsigned char> normalized;
  std::uint64_t offset = 0;
  std::uint64_t textSize = 0;
  for (;;) {
    const std::int64_t got = file.ReadAt(buffer.data(), buffer.size(), offset);
    if (got < 0) return true;
    if (got == 0) break;
    const auto count = static_cast<std::size_t>(got);
    offset += count;
    if (inBytes.Feed(buffer.data(), count)) return true;
    if (text) {
      normalized.clear();
      normalizer.Feed(buffer.data(), count, normalized);
      textSize += normalized.size();
      if (inText.Feed(normalized.data(), normalized.size())) return true;
    }
  }
  // Read to an end other than the one the stamp said: changed under the test.
  if (offset != file.Size()) return true;
  return text && SizeMayMatch(textSize, textSize + offset / kBytesPerFreshStart + 2);
}

}  // namespace korbu::cache
