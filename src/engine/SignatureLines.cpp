#include "engine/SignatureLines.h"

#include <array>
#include <cstring>
#include <memory>

#include "platform/AsciiCase.h"
#include "platform/OpenedFile.h"

#ifdef KORBU_HAVE_ZLIB
#include <zlib.h>
#endif

namespace korbu {
namespace {

// The kinds the engine loads from a folder, as its loader lists them.
constexpr std::string_view kDatabaseKinds[] = {
    "db",  "db2", "db3", "hdb", "hdu", "fp",  "mdb", "mdu", "hsb", "hsu", "sfp",  "msb", "msu", "ndb",
    "ndu", "ldb", "ldu", "sdb", "zmd", "rmd", "pdb", "gdb", "wdb", "cbc", "ftm",  "cfg", "cvd", "cld",
    "cud", "cdb", "cat", "crb", "idb", "ioc", "yar", "yara", "pwdb", "ign", "ign2", "imp"};

constexpr std::size_t kHeaderSize = 512;  // of a container, and of a tar block
constexpr std::size_t kChunk = 1u << 16;

// Cuts a stream of bytes into lines and hands them on.
class LineSplitter {
 public:
  LineSplitter(std::string member, const SignatureLineVisitor& visit) : member_(std::move(member)), visit_(visit) {}

  bool Feed(std::string_view bytes) {
    while (!bytes.empty()) {
      const std::size_t end = bytes.find('\n');
      partial_.append(bytes.substr(0, end));
      if (partial_.size() > kMaxSignatureLine) return false;
      if (end == std::string_view::npos) return true;
      Emit();
      bytes.remove_prefix(end + 1);
    }
    return true;
  }
  void Finish() { Emit(); }

 private:
  void Emit() {
    while (!partial_.empty() && (partial_.back() == '\r' || partial_.back() == '\n')) partial_.pop_back();
    if (!partial_.empty()) visit_(member_, partial_);
    partial_.clear();
  }
  std::string member_;
  const SignatureLineVisitor& visit_;
  std::string partial_;
};

// Reads what follows a container's header: gzip-compressed or plain.
class ContainerBody {
 public:
  explicit ContainerBody(platform::OpenedFile& file) : file_(file), offset_(kHeaderSize) {}
  ~ContainerBody() {
#ifdef KORBU_HAVE_ZLIB
    if (inflating_) inflateEnd(&stream_);
#endif
  }
  ContainerBody(const ContainerBody&) = delete;
  ContainerBody& operator=(const ContainerBody&) = delete;

  /// Exactly count bytes; fails at the end or on a read or unpack error.
  Status Read(char* out, std::size_t count) {
    while (count > 0) {
      if (ready_.size() == used_) {
        Status more = Refill();
        if (!more) return more;
      }
      const std::size_t n = std::min(count, ready_.size() - used_);
      std::memcpy(out, ready_.data() + used_, n);
      used_ += n;
      out += n;
      count -= n;
    }
    return Ok();
  }
  std::uint64_t Unpacked() const { return unpacked_; }
  /// True when the data ends here (not when it cannot be read).
  bool AtEnd() {
    if (used_ < ready_.size()) return false;
    return !Refill() && exhausted_;
  }

 private:
  Status Refill() {
    if (!decided_) {
      unsigned char magic[2] = {};
      gzip_ = file_.ReadAt(magic, 2, offset_) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
      decided_ = true;
#ifdef KORBU_HAVE_ZLIB
      if (gzip_ && inflateInit2(&stream_, 15 + 16) != Z_OK) return Failure("cannot start unpacking");
      inflating_ = gzip_;
#else
      if (gzip_) return Failure("no gzip support in this build");
#endif
    }
    ready_.clear();
    used_ = 0;
    while (ready_.empty()) {
      if (ended_) return Exhausted();
      const bool needInput = !gzip_ || Remaining() == 0;
      if (needInput) {
        raw_.resize(kChunk);
        const std::int64_t got = file_.ReadAt(raw_.data(), raw_.size(), offset_);
        if (got < 0) return Failure(file_.Error());
        // A gzip stream must reach its own end; plain data ends with the file.
        if (got == 0) return gzip_ ? Failure("the database ends early") : Exhausted();
        offset_ += static_cast<std::uint64_t>(got);
        raw_.resize(static_cast<std::size_t>(got));
        if (!gzip_) {
          ready_.swap(raw_);
          break;
        }
#ifdef KORBU_HAVE_ZLIB
        stream_.next_in = reinterpret_cast<Bytef*>(raw_.data());
        stream_.avail_in = static_cast<uInt>(raw_.size());
#endif
      }
#ifdef KORBU_HAVE_ZLIB
      ready_.resize(kChunk);
      stream_.next_out = reinterpret_cast<Bytef*>(ready_.data());
      stream_.avail_out = static_cast<uInt>(ready_.size());
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return Failure("corrupt gzip data");
      ready_.resize(ready_.size() - stream_.avail_out);
      ended_ = result == Z_STREAM_END;
#endif
    }
    unpacked_ += ready_.size();
    return Ok();
  }

  Status Exhausted() {
    exhausted_ = true;
    return Failure("the database ends early");
  }

  std::size_t Remaining() const {
#ifdef KORBU_HAVE_ZLIB
    return stream_.avail_in;
#else
    return 0;
#endif
  }

  platform::OpenedFile& file_;
  std::uint64_t offset_;
  bool decided_ = false;
  bool gzip_ = false;
  std::string ready_;
  std::size_t used_ = 0;
  std::string raw_;  // read from the file, not yet unpacked
  bool ended_ = false;
  bool exhausted_ = false;
  std::uint64_t unpacked_ = 0;
#ifdef KORBU_HAVE_ZLIB
  z_stream stream_{};
  bool inflating_ = false;
#endif
};

// A tar member's size: octal digits, or GNU's base-256 form for large members.
bool TarSize(const char* field, std::uint64_t& size) {
  size = 0;
  if ((static_cast<unsigned char>(field[0]) & 0x80) != 0) {
    for (int i = 1; i < 12; ++i) size = (size << 8) | static_cast<unsigned char>(field[i]);
    return true;
  }
  int i = 0;
  while (i < 12 && (field[i] == ' ' || field[i] == '\0')) ++i;
  for (; i < 12 && field[i] >= '0' && field[i] <= '7'; ++i) size = size * 8 + static_cast<std::uint64_t>(field[i] - '0');
  return true;
}

// Walks the members of a container, handing each (its name, empty for anything
// but a regular file) to member, which reads or skips its bytes.
Status WalkContainer(const std::string& path, std::uint64_t maxUnpacked,
                     const std::function<Status(const std::string& name, ContainerBody& body, std::uint64_t size)>&
                         member) {
  platform::OpenedFile file = platform::OpenedFile::Open(path);
  if (!file.IsOpen()) return Failure(file.Error());
  if (file.Size() < kHeaderSize) return Failure("shorter than a database header");
  ContainerBody body(file);
  char block[kHeaderSize];
  for (;;) {
    // The provider's archives may end without the two empty blocks of a tar's end.
    if (body.AtEnd()) return Ok();
    if (Status read = body.Read(block, kHeaderSize); !read) return read;
    if (block[0] == '\0') return Ok();  // the archive's end
    std::string name(block, ::strnlen(block, 100));
    if (const auto slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    std::uint64_t size = 0;
    TarSize(block + 124, size);
    const char type = block[156];
    if (size > maxUnpacked || body.Unpacked() + size > maxUnpacked) return Failure("the database unpacks too large");
    const bool regular = type == '0' || type == '\0';
    if (Status done = member(regular ? name : std::string(), body, size); !done) return done;
    const std::uint64_t padding = (kHeaderSize - size % kHeaderSize) % kHeaderSize;
    for (std::uint64_t left = padding; left > 0;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kHeaderSize));
      if (Status skip = body.Read(block, n); !skip) return skip;
      left -= n;
    }
  }
}

// Hands a member's bytes on in chunks (or drops them when each is null).
Status PassMember(ContainerBody& body, std::uint64_t size, const std::function<bool(std::string_view)>& each) {
  std::string chunk;
  while (size > 0) {
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, kChunk)));
    if (Status read = body.Read(chunk.data(), chunk.size()); !read) return read;
    size -= chunk.size();
    if (each && !each(chunk)) return Failure("a line longer than " + std::to_string(kMaxSignatureLine) + " bytes");
  }
  return Ok();
}

}  // namespace

std::string DatabaseKind(std::string_view name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return std::string();
  std::string kind;
  for (char c : name.substr(dot + 1)) kind.push_back(platform::AsciiLower(c));
  return kind;
}

bool IsDatabaseFileName(std::string_view name) {
  const std::string kind = DatabaseKind(name);
  if (kind.empty()) return false;
  for (std::string_view known : kDatabaseKinds) {
    if (!known.empty() && kind == known) return true;
  }
  return false;
}

bool IsDatabaseContainer(std::string_view name) {
  const std::string kind = DatabaseKind(name);
  return kind == "cvd" || kind == "cld" || kind == "cud";
}

std::string_view LineField(std::string_view line, char separator, std::size_t index) {
  for (std::size_t i = 0; i < index; ++i) {
    const auto at = line.find(separator);
    if (at == std::string_view::npos) return std::string_view();
    line.remove_prefix(at + 1);
  }
  return line.substr(0, line.find(separator));
}

Status ReadSignatureLines(const std::string& path, const SignatureLineVisitor& visit, std::uint64_t maxUnpacked) {
  const std::string name(path.substr(path.find_last_of("/\\") == std::string::npos ? 0 : path.find_last_of("/\\") + 1));
  if (!IsDatabaseContainer(name)) {
    platform::OpenedFile file = platform::OpenedFile::Open(path);
    if (!file.IsOpen()) return Failure(file.Error());
    LineSplitter lines(name, visit);
    std::string chunk(kChunk, '\0');
    for (std::uint64_t at = 0;;) {
      const std::int64_t got = file.ReadAt(chunk.data(), chunk.size(), at);
      if (got < 0) return Failure(file.Error());
      if (got == 0) break;
      at += static_cast<std::uint64_t>(got);
      if (!lines.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)))) {
        return Failure("a line longer than " + std::to_string(kMaxSignatureLine) + " bytes");
      }
    }
    lines.Finish();
    return Ok();
  }
  return WalkContainer(path, maxUnpacked, [&](const std::string& member, ContainerBody& body, std::uint64_t size) {
    if (member.empty() || !IsDatabaseFileName(member)) return PassMember(body, size, nullptr);
    LineSplitter lines(member, visit);
    Status passed = PassMember(body, size, [&](std::string_view bytes) { return lines.Feed(bytes); });
    if (passed) lines.Finish();
    return passed;
  });
}

}  // namespace korbu
