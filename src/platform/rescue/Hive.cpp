// Hives through libhivex. libhivex gives names as UTF-8 and cannot give one that
// is not valid UTF-16 (a lone surrogate), so names of records this program has not
// written are read from the hive file's own bytes; libhivex hands out offsets into
// that file for them. Records it has written (new keys, rewritten value lists)
// carry names that were valid UTF-8 when written, and libhivex reads those.
#include "platform/rescue/Hive.h"

#include <cstring>
#include <set>
#include <utility>

#include "platform/AsciiCase.h"
#include "platform/SystemError.h"
#include "platform/rescue/HiveNames.h"
#include "platform/rescue/RescueSupport.h"

namespace korbu::platform::rescue {

using posix::RetryOnEintr;
using posix::UniqueFd;

namespace {

// Offsets inside a key record (nk) and a value record (vk), counted from the cell
// start that libhivex's handles point at (the cell's 4-byte size comes first).
constexpr std::size_t kNkFlags = 6;
constexpr std::size_t kNkNameLength = 0x4C;
constexpr std::size_t kNkName = 0x50;
constexpr std::uint16_t kNkCompressedName = 0x0020;
constexpr std::size_t kVkNameLength = 6;
constexpr std::size_t kVkFlags = 0x14;
constexpr std::size_t kVkName = 0x18;
constexpr std::uint16_t kVkCompressedName = 0x0001;

// The smallest file libhivex takes for a hive: its base block and one bin.
constexpr std::size_t kMinHiveBytes = 0x2000;

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

Error NotFound(std::string what) { return Failure(std::move(what), kHiveNotFound); }

// libhivex's errno, or a text of ours when it set none.
Error HivexError(std::string_view what) {
  const int code = errno;
  return (code != 0 ? SystemError(code) : Failure("libhivex reported no reason")).Context(what);
}

// A read-only view of a whole file.
struct Mapping {
  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() { Reset(); }
  void Reset() {
    if (data != nullptr) ::munmap(data, size);
    data = nullptr;
    size = 0;
  }
  bool Map(int fd, std::size_t bytes) {
    Reset();
    void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) return false;
    data = mapped;
    size = bytes;
    return true;
  }
  void* data = nullptr;
  std::size_t size = 0;
  const unsigned char* Bytes() const { return static_cast<const unsigned char*>(data); }
};

struct HiveCloser {
  void operator()(hive_h* h) const { hivex_close(h); }
};

template <typename T>
struct FreeDeleter {
  void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Malloced = std::unique_ptr<T, FreeDeleter<T>>;

std::vector<std::size_t> HandleList(std::size_t* list) {
  Malloced<std::size_t> owned(list);
  std::vector<std::size_t> out;
  for (std::size_t i = 0; list != nullptr && list[i] != 0; ++i) out.push_back(list[i]);
  return out;
}

std::vector<std::string_view> SplitKeyPath(std::string_view keyPath, bool& valid) {
  std::vector<std::string_view> parts;
  valid = keyPath.find('\0') == std::string_view::npos;
  if (keyPath.empty()) return parts;
  std::size_t start = 0;
  while (valid) {
    const std::size_t end = keyPath.find('\\', start);
    const std::string_view part = keyPath.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) valid = false;
    parts.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

// What NTFS keeps of a file beside its content, as ntfs-3g shows it: the
// security descriptor and the attribute bits (hives are hidden system files).
constexpr const char* kNtfsAttributes[] = {"system.ntfs_acl", "system.ntfs_attrib"};

// Gives the new file what the file system keeps of the old one beside its
// content; where it keeps none (not NTFS) there is nothing to give.
Status CopyNtfsAttributes(int from, int to) {
  for (const char* name : kNtfsAttributes) {
    const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size < 0) {
      if (errno == ENODATA || errno == ENOTSUP) continue;
      return LastSystemError().Context(std::string("cannot read ") + name);
    }
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
    if (got < 0) return LastSystemError().Context(std::string("cannot read ") + name);
    if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0) {
      return LastSystemError().Context(std::string("cannot set ") + name);
    }
  }
  return Ok();
}

}  // namespace

struct Hive::State {
  std::unique_ptr<hive_h, HiveCloser> hive;
  Access access = Access::Read;
  std::string path;
  std::string fileName;
  UniqueFd folder;       // the hive's folder, where Commit writes
  Mapping original;      // the file as last read or written: names of records not written here
  dev_t device = 0;      // which file the hive is, to tell a replaced one
  ino_t inode = 0;
  mode_t mode = 0600;
  uid_t owner = 0;
  gid_t group = 0;
  std::set<hive_node_h> written;  // keys created here or whose value list was rewritten
  bool changed = false;

  hive_h* H() const { return hive.get(); }

  // The name stored in a record of the original file; false when the offsets do
  // not fit inside it (then libhivex's reading is taken).
  bool RawName(std::size_t cell, std::size_t lengthAt, std::size_t nameAt, std::size_t flagsAt,
               std::uint16_t compressedFlag, std::string& out) const {
    const unsigned char* bytes = original.Bytes();
    if (bytes == nullptr || cell > original.size || original.size - cell < nameAt) return false;
    const std::size_t length = Le16(bytes + cell + lengthAt);
    if (original.size - cell - nameAt < length) return false;
    const auto* name = reinterpret_cast<const char*>(bytes + cell + nameAt);
    const bool compressed = (Le16(bytes + cell + flagsAt) & compressedFlag) != 0;
    out = compressed ? Latin1ToUtf8({name, length}) : Utf16LeToWtf8({name, length});
    return true;
  }

  Expected<std::string> NodeName(hive_node_h node) const {
    std::string name;
    if (!written.count(node) && RawName(node, kNkNameLength, kNkName, kNkFlags, kNkCompressedName, name)) return name;
    errno = 0;
    Malloced<char> text(hivex_node_name(H(), node));
    if (!text) return HivexError("cannot read a key name");
    return std::string(text.get());
  }

  Expected<std::string> ValueName(hive_node_h node, hive_value_h value) const {
    std::string name;
    if (!written.count(node) && RawName(value, kVkNameLength, kVkName, kVkFlags, kVkCompressedName, name)) {
      return name;
    }
    errno = 0;
    Malloced<char> text(hivex_value_key(H(), value));
    if (!text) return HivexError("cannot read a value name");
    return std::string(text.get());
  }

  Expected<std::vector<hive_node_h>> Children(hive_node_h node) const {
    errno = 0;
    hive_node_h* list = hivex_node_children(H(), node);
    if (list == nullptr) return HivexError("cannot list the subkeys");
    return HandleList(list);
  }

  // The child of that name, 0 when there is none.
  Expected<hive_node_h> Child(hive_node_h node, std::string_view name) const {
    auto children = Children(node);
    if (!children) return children.error();
    for (hive_node_h child : *children) {
      auto childName = NodeName(child);
      if (!childName) return childName.error();
      if (EqualsIgnoringCase(*childName, name)) return child;
    }
    return hive_node_h{0};
  }

  // The key at a path; with create, missing keys are added on the way.
  Expected<hive_node_h> Key(std::string_view keyPath, bool create) {
    bool valid = true;
    const auto parts = SplitKeyPath(keyPath, valid);
    if (!valid) return Failure("malformed key path \"" + std::string(keyPath) + "\"", EINVAL);
    hive_node_h node = hivex_root(H());
    if (node == 0) return HivexError("the hive has no root key");
    for (std::string_view part : parts) {
      auto child = Child(node, part);
      if (!child) return child.error();
      if (*child == 0) {
        if (!create) return NotFound("no key \"" + std::string(keyPath) + "\"");
        if (auto writable = CheckWritableName(part); !writable) return writable.error();
        errno = 0;
        const std::string text(part);
        *child = hivex_node_add_child(H(), node, text.c_str());
        if (*child == 0) return HivexError("cannot create the key \"" + text + "\"");
        written.insert(*child);
        changed = true;
      }
      node = *child;
    }
    return node;
  }

  Expected<std::vector<HiveValue>> ValuesOf(hive_node_h node) const {
    errno = 0;
    hive_value_h* list = hivex_node_values(H(), node);
    if (list == nullptr) return HivexError("cannot list the values");
    std::vector<HiveValue> values;
    for (hive_value_h value : HandleList(list)) {
      auto name = ValueName(node, value);
      if (!name) return name.error();
      hive_type type{};
      std::size_t length = 0;
      errno = 0;
      Malloced<char> data(hivex_value_value(H(), value, &type, &length));
      if (!data && length != 0) return HivexError("cannot read the value \"" + *name + "\"");
      values.push_back({std::move(*name), static_cast<std::uint32_t>(type),
                        data ? std::string(data.get(), length) : std::string()});
    }
    return values;
  }

  // Replaces a key's whole value list (libhivex changes no single value).
  Status Rewrite(hive_node_h node, std::vector<HiveValue>& values) {
    for (const HiveValue& value : values) {
      if (auto writable = CheckWritableName(value.name); !writable) return writable.error();
      if (value.data.size() > kMaxRewrittenValueBytes) {
        return Failure("the key holds the value \"" + value.name + "\" of " + std::to_string(value.data.size()) +
                       " bytes, more than libhivex writes back as Windows reads it");
      }
    }
    std::vector<hive_set_value> list;
    for (HiveValue& value : values) {
      list.push_back({value.name.data(), static_cast<hive_type>(value.type), value.data.size(), value.data.data()});
    }
    errno = 0;
    if (hivex_node_set_values(H(), node, list.size(), list.data(), 0) != 0) {
      return HivexError("cannot write the values");
    }
    written.insert(node);
    changed = true;
    return Ok();
  }

  Status CheckWrite() const {
    if (access != Access::Write) return Failure("the hive " + path + " was opened for reading only", EROFS);
    return Ok();
  }
};

Hive::Hive(std::unique_ptr<State> state) : state_(std::move(state)) {}
Hive::Hive(Hive&& other) noexcept = default;
Hive& Hive::operator=(Hive&& other) noexcept = default;
Hive::~Hive() = default;

Expected<Hive> Hive::Open(const Folder& folder, const std::string& name, Access access) {
  auto state = std::make_unique<State>();
  state->access = access;
  state->path = folder.PathOf(name);
  state->fileName = name;
  const std::string context = "cannot open the hive " + state->path;
  const auto folderFd = static_cast<int>(folder.NativeHandle());
  state->folder = UniqueFd(RetryOnEintr([&] { return ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0); }));
  if (!state->folder.Valid()) return LastSystemError().Context(context);
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }));
  if (!fd.Valid()) return LastSystemError().Context(context);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return LastSystemError().Context(context);
  if (!S_ISREG(st.st_mode)) return Failure("not a regular file").Context(context);
  if (static_cast<std::uint64_t>(st.st_size) < kMinHiveBytes) return Failure("too small to be a hive").Context(context);
  state->device = st.st_dev;
  state->inode = st.st_ino;
  state->mode = st.st_mode & 07777;
  state->owner = st.st_uid;
  state->group = st.st_gid;
  if (!state->original.Map(fd.Get(), static_cast<std::size_t>(st.st_size))) return LastSystemError().Context(context);
  errno = 0;
  state->hive.reset(hivex_open(DescriptorPath(fd.Get()).c_str(), access == Access::Write ? HIVEX_OPEN_WRITE : 0));
  if (!state->hive) return HivexError(context);
  return Hive(std::move(state));
}

const std::string& Hive::Path() const { return state_->path; }

Expected<std::vector<std::string>> Hive::Subkeys(std::string_view keyPath) const {
  auto node = state_->Key(keyPath, false);
  if (!node) return node.error();
  auto children = state_->Children(*node);
  if (!children) return children.error();
  std::vector<std::string> names;
  for (hive_node_h child : *children) {
    auto name = state_->NodeName(child);
    if (!name) return name.error();
    names.push_back(std::move(*name));
  }
  return names;
}

Expected<std::vector<HiveValue>> Hive::Values(std::string_view keyPath) const {
  auto node = state_->Key(keyPath, false);
  if (!node) return node.error();
  return state_->ValuesOf(*node);
}

Expected<HiveValue> Hive::Value(std::string_view keyPath, std::string_view name) const {
  auto values = Values(keyPath);
  if (!values) return values.error();
  for (HiveValue& value : *values) {
    if (EqualsIgnoringCase(value.name, name)) return std::move(value);
  }
  return NotFound("no value \"" + std::string(name) + "\" in \"" + std::string(keyPath) + "\"");
}

Status Hive::SetValue(std::string_view keyPath, const HiveValue& value) {
  if (auto ok = state_->CheckWrite(); !ok) return ok;
  // Nothing is created for a name that cannot be written.
  if (auto writable = CheckWritableName(value.name); !writable) return writable.error();
  auto node = state_->Key(keyPath, true);
  if (!node) return node.error();
  auto values = state_->ValuesOf(*node);
  if (!values) return values.error();
  bool replaced = false;
  for (HiveValue& existing : *values) {
    if (!replaced && EqualsIgnoringCase(existing.name, value.name)) {
      existing = value;
      replaced = true;
    }
  }
  if (!replaced) values->push_back(value);
  return state_->Rewrite(*node, *values);
}

Status Hive::CreateKey(std::string_view keyPath) {
  if (auto ok = state_->CheckWrite(); !ok) return ok;
  auto node = state_->Key(keyPath, true);
  if (!node) return node.error();
  return Ok();
}

Status Hive::DeleteValue(std::string_view keyPath, std::string_view name) {
  if (auto ok = state_->CheckWrite(); !ok) return ok;
  auto node = state_->Key(keyPath, false);
  if (!node) return node.error();
  auto values = state_->ValuesOf(*node);
  if (!values) return values.error();
  std::vector<HiveValue> kept;
  bool found = false;
  for (HiveValue& existing : *values) {
    if (!found && EqualsIgnoringCase(existing.name, name)) {
      found = true;
    } else {
      kept.push_back(std::move(existing));
    }
  }
  if (!found) return NotFound("no value \"" + std::string(name) + "\" in \"" + std::string(keyPath) + "\"");
  return state_->Rewrite(*node, kept);
}

Status Hive::DeleteEmptyKey(std::string_view keyPath) {
  if (auto ok = state_->CheckWrite(); !ok) return ok;
  if (keyPath.empty()) return Failure("the root key of a hive is never removed", EINVAL);
  auto node = state_->Key(keyPath, false);
  if (!node) return node.error();
  errno = 0;
  if (hivex_node_nr_children(state_->H(), *node) != 0 || hivex_node_nr_values(state_->H(), *node) != 0) {
    return errno != 0 ? HivexError("cannot read the key") : Failure("the key is not empty", ENOTEMPTY);
  }
  errno = 0;
  if (hivex_node_delete_child(state_->H(), *node) != 0) return HivexError("cannot remove the key");
  state_->changed = true;
  return Ok();
}

bool Hive::Changed() const { return state_->changed; }

Status Hive::Commit() {
  State& s = *state_;
  if (auto ok = s.CheckWrite(); !ok) return ok;
  if (!s.changed) return Ok();
  const std::string context = "cannot write the hive " + s.path;
  struct stat st {};
  if (::fstatat(s.folder.Get(), s.fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastSystemError().Context(context);
  if (st.st_dev != s.device || st.st_ino != s.inode) return Failure("the file was replaced since it was read").Context(context);

  const std::string temporary = s.fileName + ".korbu-" + std::to_string(::getpid()) + ".new";
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(s.folder.Get(), temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
  if (!fd.Valid()) return LastSystemError().Context(context + " (new file " + temporary + ")");
  auto fail = [&](Error error) {
    ::unlinkat(s.folder.Get(), temporary.c_str(), 0);
    return error.Context(context);
  };
  errno = 0;
  if (hivex_commit(s.H(), DescriptorPath(fd.Get()).c_str(), 0) != 0) return fail(HivexError("libhivex"));
  // The new file takes the old one's owner and mode; an owner that cannot be
  // given (no right to) leaves it the writer's.
  if (::fchown(fd.Get(), s.owner, s.group) != 0 && errno != EPERM) return fail(LastSystemError());
  if (::fchmod(fd.Get(), s.mode) != 0) return fail(LastSystemError());
  {
    UniqueFd old(RetryOnEintr([&] {
      return ::openat(s.folder.Get(), s.fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }));
    if (!old.Valid()) return fail(LastSystemError());
    if (Status copied = CopyNtfsAttributes(old.Get(), fd.Get()); !copied) return fail(copied.error());
  }
  if (::fsync(fd.Get()) != 0) return fail(LastSystemError());
  if (::fstat(fd.Get(), &st) != 0) return fail(LastSystemError());
  // The new file holds every record of the old one at the same place, and nothing
  // keeps the old one alive once it is replaced (a FUSE volume would keep it as a
  // hidden file while it is mapped).
  Mapping renamed;
  if (!renamed.Map(fd.Get(), static_cast<std::size_t>(st.st_size))) return fail(LastSystemError());
  fd.Reset();
  if (::renameat(s.folder.Get(), temporary.c_str(), s.folder.Get(), s.fileName.c_str()) != 0) {
    return fail(LastSystemError());
  }
  std::swap(s.original.data, renamed.data);
  std::swap(s.original.size, renamed.size);
  renamed.Reset();
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.changed = false;
  if (::fsync(s.folder.Get()) != 0) return LastSystemError().Context(context + " (the folder was not flushed)");
  return Ok();
}

}  // namespace korbu::platform::rescue
