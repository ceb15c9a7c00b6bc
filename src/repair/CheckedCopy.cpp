#include "repair/CheckedCopy.h"

#include "platform/Sha256.h"
#include "platform/SystemError.h"

namespace korbu {

Status CopyCheckedContent(platform::InputFile& from, std::uint64_t size, const std::string& sha256,
                          platform::DurableFile& into) {
  constexpr std::size_t kBlockBytes = 1 << 16;
  std::string block(kBlockBytes, '\0');
  platform::Sha256 digest;
  std::uint64_t offset = 0;
  while (true) {
    const std::int64_t got = from.ReadAt(block.data(), block.size(), offset);
    if (got < 0) return platform::LastSystemError().Context("it cannot be read");
    if (got == 0) break;
    const std::string_view bytes(block.data(), static_cast<std::size_t>(got));
    digest.Update(bytes);
    if (!into.Write(bytes)) return platform::LastSystemError().Context("the copy cannot be written");
    offset += static_cast<std::uint64_t>(got);
  }
  if (offset != size || digest.HexDigest() != sha256) return Failure("the file changed while it was copied");
  return Ok();
}

}  // namespace korbu
