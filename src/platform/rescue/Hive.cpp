// Hives through libhivex, over a private in-memory file (a memfd) that holds the
// program's own copy of the hive. libhivex gives names as UTF-8 and cannot give
// one that is not valid UTF-16 (a lone surrogate), so names are read from that
// copy's bytes, which libhivex's handles are offsets into; every change libhivex
// makes is brought back into those bytes at once, and every change made in the
// bytes is handed to libhivex again.
#include "platform/rescue/Hive.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "platform/AsciiCase.h"
#include "platform/FileExtras.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "platform/WholeFileKeeper.h"
#include "platform/rescue/HiveCells.h"
#include "platform/rescue/HiveFile.h"
#include "platform/rescue/HiveImage.h"
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
constexpr std::size_t kVkType = 0x10;
constexpr std::uint16_t kVkCompressedName = 0x0001;

Error NotFound(std::string what) { return Failure(std::move(what), ErrorKind::NotFound); }

// libhivex's errno, or a text of ours when it set none.
Error HivexError(std::string_view what) {
  const int code = errno;
  return (code != 0 ? SystemError(code) : Failure("libhivex reported no reason")).Context(what);
}

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

// A file of the program's own in memory holding the bytes, for libhivex,
// which reads only paths.
Expected<UniqueFd> PrivateFile(const std::string& bytes) {
  UniqueFd fd(::memfd_create("korbu-hive", MFD_CLOEXEC));
  if (!fd.Valid()) return LastSystemError().Context("cannot make a private copy of the hive");
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t wrote = RetryOnEintr([&] { return ::write(fd.Get(), bytes.data() + done, bytes.size() - done); });
    if (wrote <= 0) return LastSystemError().Context("cannot make a private copy of the hive");
    done += static_cast<std::size_t>(wrote);
  }
  return fd;
}

// The whole content of an open file from its start.
Expected<std::string> ReadFromStart(int fd) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return LastSystemError();
  return ReadWholeFile(fd, kMaxHiveBytes);
}

// The SHA-256 of an open file's whole content, read in blocks from its start.
Expected<std::string> Sha256OfDescriptor(int fd) {
  Sha256 digest;
  char chunk[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t got = RetryOnEintr([&] { return ::pread(fd, chunk, sizeof chunk, at); });
    if (got < 0) return LastSystemError();
    if (got == 0) return digest.HexDigest();
    digest.Update(std::string_view(chunk, static_cast<std::size_t>(got)));
    at += got;
  }
}

// One change as it was asked for, to check the written hive against.
struct Change {
  enum class Kind { CreateKey, SetValue, DeleteValue, DeleteKey } kind;
  std::string keyPath;
  HiveValue value;  // the value set, or the name of the one removed
};

// A hive's keys and values as a reader sees them, by key path (ASCII letters
// lowered, as lookups match them).
struct KeyModel {
  std::string name;
  std::vector<HiveValue> values;
};
using TreeModel = std::map<std::string, KeyModel>;

bool SameValue(const HiveValue& a, const HiveValue& b) {
  return a.name == b.name && a.type == b.type && a.data == b.data;
}

// The model after a change: what the hive must hold once it is written.
void Apply(TreeModel& tree, const Change& change) {
  bool valid = true;
  const auto parts = SplitKeyPath(change.keyPath, valid);
  std::string path;
  if (change.kind == Change::Kind::DeleteKey) {
    tree.erase(AsciiLowered(change.keyPath));
    return;
  }
  for (std::string_view part : parts) {
    path += (path.empty() ? "" : "\\") + AsciiLowered(part);
    tree.try_emplace(path, KeyModel{std::string(part), {}});
  }
  auto& values = tree[path].values;
  auto same = std::find_if(values.begin(), values.end(),
                           [&](const HiveValue& v) { return EqualsIgnoringCase(v.name, change.value.name); });
  if (change.kind == Change::Kind::SetValue) {
    if (same == values.end()) {
      values.push_back(change.value);
    } else {
      same->type = change.value.type;
      same->data = change.value.data;
    }
  } else if (change.kind == Change::Kind::DeleteValue && same != values.end()) {
    values.erase(same);
  }
}

// The first difference between two models, in words; empty when they agree.
std::string FirstDifference(const TreeModel& meant, const TreeModel& written) {
  for (const auto& [path, key] : meant) {
    const auto found = written.find(path);
    if (found == written.end()) return "the key \"" + path + "\" is missing";
    if (found->second.name != key.name) return "the key \"" + path + "\" has another name";
    const auto& values = found->second.values;
    if (values.size() != key.values.size()) return "the key \"" + path + "\" holds other values";
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!SameValue(values[i], key.values[i])) return "the value \"" + key.values[i].name + "\" of \"" + path + "\" differs";
    }
  }
  for (const auto& [path, key] : written) {
    if (!meant.count(path)) return "the key \"" + path + "\" was not meant to be there";
  }
  return {};
}

}  // namespace

struct Hive::State {
  std::unique_ptr<hive_h, HiveCloser> hive;
  Access access = Access::Read;
  std::string path;
  std::string fileName;
  UniqueFd folder;       // the hive's folder, where Commit writes
  std::optional<Folder> heldFolder;  // the same, held as a Folder (for Write)
  UniqueFd image;        // the private file libhivex reads
  std::string bytes;     // the hive as it stands, changes included
  std::string pristine;  // the hive as read or last written
  HiveReplay replay;
  // The SHA-256 of each file the hive was read from (the hive, the logs
  // replayed), by name: a file changed since must not be replaced.
  std::vector<std::pair<std::string, std::string>> readAs;
  UniqueFd file;         // the hive file read or written, held: no other file takes its number
  dev_t device = 0;      // which file the hive is, to tell a replaced one
  ino_t inode = 0;
  mode_t mode = 0600;
  uid_t owner = 0;
  gid_t group = 0;
  std::vector<Change> changes;
  CellRanges edited;          // what the value edits wrote since the hive was read
  bool restructured = false;  // libhivex made or removed a key
  bool changed = false;

  hive_h* H() const { return hive.get(); }

  // Hands the bytes to libhivex afresh.
  Status Load() {
    auto fd = PrivateFile(bytes);
    if (!fd) return fd.error();
    image = std::move(*fd);
    errno = 0;
    hive.reset(hivex_open(DescriptorPath(image.Get()).c_str(), access == Access::Write ? HIVEX_OPEN_WRITE : 0));
    if (!hive) return HivexError("libhivex cannot read it");
    return Ok();
  }

  // Brings a change libhivex made back into the bytes.
  Status Sync() {
    errno = 0;
    if (hivex_commit(H(), DescriptorPath(image.Get()).c_str(), 0) != 0) return HivexError("libhivex");
    auto read = ReadFromStart(image.Get());
    if (!read) return read.error();
    bytes = std::move(*read);
    return Ok();
  }

  // The name stored in a record; false when the offsets do not fit inside the
  // hive (then libhivex's reading is taken).
  bool RawName(std::size_t cell, std::size_t lengthAt, std::size_t nameAt, std::size_t flagsAt,
               std::uint16_t compressedFlag, std::string& out) const {
    if (cell > bytes.size() || bytes.size() - cell < nameAt) return false;
    const std::size_t length = Le16At(bytes, cell + lengthAt);
    if (bytes.size() - cell - nameAt < length) return false;
    const std::string_view name(bytes.data() + cell + nameAt, length);
    const bool compressed = (Le16At(bytes, cell + flagsAt) & compressedFlag) != 0;
    out = compressed ? Latin1ToUtf8(name) : Utf16LeToWtf8(name);
    return true;
  }

  Expected<std::string> NodeName(hive_node_h node) const {
    std::string name;
    if (RawName(node, kNkNameLength, kNkName, kNkFlags, kNkCompressedName, name)) return name;
    errno = 0;
    Malloced<char> text(hivex_node_name(H(), node));
    if (!text) return HivexError("cannot read a key name");
    return std::string(text.get());
  }

  Expected<std::string> ValueName(hive_value_h value) const {
    std::string name;
    if (RawName(value, kVkNameLength, kVkName, kVkFlags, kVkCompressedName, name)) return name;
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
        if (Status synced = Sync(); !synced) return synced.error();
        changed = true;
        restructured = true;
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
      auto name = ValueName(value);
      if (!name) return name.error();
      hive_type type{};
      std::size_t length = 0;
      errno = 0;
      Malloced<char> data(hivex_value_value(H(), value, &type, &length));
      if (!data && length != 0) return HivexError("cannot read the value \"" + *name + "\"");
      // The type as stored: Windows lets any 32-bit number be one, which no
      // enumeration of libhivex's holds.
      if (value > bytes.size() || bytes.size() - value < kVkType + 4) return Failure("a value record past the end of the hive", kHiveDamaged);
      values.push_back({std::move(*name), Le32At(bytes, value + kVkType),
                        data ? std::string(data.get(), length) : std::string()});
    }
    return values;
  }

  // A change made in the bytes, handed to libhivex.
  Status Reload(Status made) {
    if (!made) return made;
    changed = true;
    SealBaseBlock(bytes);  // a new hive bin changes the header
    return Load();
  }

  // Every key and value below a key, into the model.
  Status Dump(TreeModel& tree, hive_node_h node, const std::string& keyPath) const {
    auto values = ValuesOf(node);
    if (!values) return values.error();
    auto name = NodeName(node);
    if (!name) return name.error();
    tree[AsciiLowered(keyPath)] = KeyModel{keyPath.empty() ? std::string() : std::move(*name), std::move(*values)};
    auto children = Children(node);
    if (!children) return children.error();
    for (hive_node_h child : *children) {
      auto childName = NodeName(child);
      if (!childName) return childName.error();
      if (Status below = Dump(tree, child, keyPath.empty() ? *childName : keyPath + "\\" + *childName); !below) {
        return below;
      }
    }
    return Ok();
  }

  Status CheckWrite() const {
    if (access != Access::Write) return Failure("the hive " + path + " was opened for reading only", EROFS);
    return Ok();
  }
};

namespace {

// The keys and values of hive bytes, as libhivex and the names' own bytes give them.
Expected<TreeModel> ModelOf(std::string bytes) {
  Hive::State state;
  state.bytes = std::move(bytes);
  if (Status loaded = state.Load(); !loaded) return loaded.error();
  TreeModel tree;
  const hive_node_h root = hivex_root(state.H());
  if (root == 0) return HivexError("the hive has no root key");
  if (Status dumped = state.Dump(tree, root, {}); !dumped) return dumped.error();
  return tree;
}

// The keys at these paths (those that exist), with their values.
Expected<TreeModel> ModelOfKeys(std::string bytes, const std::vector<std::string>& paths) {
  Hive::State state;
  state.bytes = std::move(bytes);
  if (Status loaded = state.Load(); !loaded) return loaded.error();
  TreeModel tree;
  for (const std::string& path : paths) {
    auto node = state.Key(path, false);
    if (!node) {
      if (node.error().kind == ErrorKind::NotFound) continue;
      return node.error();
    }
    auto values = state.ValuesOf(*node);
    if (!values) return values.error();
    auto name = state.NodeName(*node);
    if (!name) return name.error();
    tree[AsciiLowered(path)] = KeyModel{path.empty() ? std::string() : std::move(*name), std::move(*values)};
  }
  return tree;
}

// Fails when a byte of the hive bins that no edit wrote is not as it was read.
Status CheckUntouched(const std::string& before, const std::string& after, CellRanges edited) {
  const std::size_t end = kBaseBlockBytes + Le32At(before, base::kBinsSize);
  if (after.size() < end) return Failure("the new file is shorter than the hive read");
  std::sort(edited.begin(), edited.end());
  std::size_t at = kBaseBlockBytes;
  auto same = [&](std::size_t from, std::size_t to) {
    return from >= to || std::memcmp(before.data() + from, after.data() + from, to - from) == 0;
  };
  for (const auto& [offset, length] : edited) {
    if (!same(at, std::min(offset, end))) return Failure("a cell no change concerns differs");
    at = std::max(at, offset + length);
  }
  if (!same(at, end)) return Failure("a cell no change concerns differs");
  return Ok();
}

}  // namespace

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
  auto loaded = LoadHive(folder, name);
  if (!loaded) return loaded.error();
  if (!loaded->readable) return loaded->readable.error();
  if (access == Access::Write && !loaded->writable) return loaded->writable.error();
  state->file = std::move(loaded->file);
  state->device = loaded->device;
  state->inode = loaded->inode;
  state->mode = loaded->mode;
  state->owner = loaded->owner;
  state->group = loaded->group;
  state->replay = std::move(loaded->replay);
  state->bytes = std::move(loaded->bytes);
  state->pristine = state->bytes;
  if (access == Access::Write) {
    state->heldFolder.emplace(folder);
    state->readAs.emplace_back(name, Sha256Hex(loaded->original));
    for (const HiveLog& log : loaded->logs) state->readAs.emplace_back(log.name, Sha256Hex(log.bytes));
  }
  if (Status ready = state->Load(); !ready) return ready.error().Context(context);
  return Hive(std::move(state));
}

const std::string& Hive::Path() const { return state_->path; }

const HiveReplay& Hive::Replay() const { return state_->replay; }

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
  State& s = *state_;
  if (auto ok = s.CheckWrite(); !ok) return ok;
  // Nothing is created for a value that cannot be stored.
  if (!EncodeStoredName(value.name)) return Failure("the value's name is no WTF-8 text", EINVAL);
  auto node = s.Key(keyPath, true);
  if (!node) return node.error();
  auto values = s.ValuesOf(*node);
  if (!values) return values.error();
  std::size_t index = std::string::npos;
  for (std::size_t i = 0; i < values->size() && index == std::string::npos; ++i) {
    if (EqualsIgnoringCase((*values)[i].name, value.name)) index = i;
  }
  HiveValue stored = value;
  if (index != std::string::npos) {
    const HiveValue& existing = (*values)[index];
    if (existing.type == value.type && existing.data == value.data) return Ok();
    stored.name = existing.name;  // Windows keeps the name as first written
  }
  if (Status made = s.Reload(StoreValueCells(s.bytes, *node, stored, index, s.edited)); !made) return made;
  s.changes.push_back({Change::Kind::SetValue, std::string(keyPath), value});
  return Ok();
}

Status Hive::CreateKey(std::string_view keyPath) {
  State& s = *state_;
  if (auto ok = s.CheckWrite(); !ok) return ok;
  auto node = s.Key(keyPath, true);
  if (!node) return node.error();
  s.changes.push_back({Change::Kind::CreateKey, std::string(keyPath), {}});
  return Ok();
}

Status Hive::DeleteValue(std::string_view keyPath, std::string_view name) {
  State& s = *state_;
  if (auto ok = s.CheckWrite(); !ok) return ok;
  auto node = s.Key(keyPath, false);
  if (!node) return node.error();
  auto values = s.ValuesOf(*node);
  if (!values) return values.error();
  for (std::size_t i = 0; i < values->size(); ++i) {
    if (!EqualsIgnoringCase((*values)[i].name, name)) continue;
    if (Status made = s.Reload(RemoveValueCells(s.bytes, *node, i, s.edited)); !made) return made;
    s.changes.push_back({Change::Kind::DeleteValue, std::string(keyPath), {std::string(name), 0, {}}});
    return Ok();
  }
  return NotFound("no value \"" + std::string(name) + "\" in \"" + std::string(keyPath) + "\"");
}

Status Hive::DeleteEmptyKey(std::string_view keyPath) {
  State& s = *state_;
  if (auto ok = s.CheckWrite(); !ok) return ok;
  if (keyPath.empty()) return Failure("the root key of a hive is never removed", EINVAL);
  auto node = s.Key(keyPath, false);
  if (!node) return node.error();
  errno = 0;
  if (hivex_node_nr_children(s.H(), *node) != 0 || hivex_node_nr_values(s.H(), *node) != 0) {
    return errno != 0 ? HivexError("cannot read the key") : Failure("the key is not empty", ENOTEMPTY);
  }
  errno = 0;
  if (hivex_node_delete_child(s.H(), *node) != 0) return HivexError("cannot remove the key");
  s.changed = true;
  s.restructured = true;
  if (Status synced = s.Sync(); !synced) return synced;
  s.changes.push_back({Change::Kind::DeleteKey, std::string(keyPath), {}});
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

  // A whole write: both sequence numbers one past the hive's as read, so that
  // Windows takes the file as clean and leaves its old logs unused.
  std::string out = TrimToBins(s.bytes);
  const std::uint32_t sequence = Le32At(s.pristine, base::kPrimarySequence) + 1;
  PutLe32(out, base::kPrimarySequence, sequence);
  PutLe32(out, base::kSecondarySequence, sequence);
  PutLe32(out, base::kFileType, 0);
  SealBaseBlock(out);

  const std::string temporary = s.fileName + ".korbu-" + std::to_string(::getpid()) + ".new";
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(s.folder.Get(), temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
  if (!fd.Valid()) return LastSystemError().Context(context + " (new file " + temporary + ")");
  auto fail = [&](Error error) {
    ::unlinkat(s.folder.Get(), temporary.c_str(), 0);
    return error.Context(context);
  };
  for (std::size_t done = 0; done < out.size();) {
    const ssize_t wrote = RetryOnEintr([&] { return ::write(fd.Get(), out.data() + done, out.size() - done); });
    if (wrote <= 0) return fail(wrote < 0 ? LastSystemError() : Failure("nothing could be written"));
    done += static_cast<std::size_t>(wrote);
  }
  // The new file takes the old one's owner and mode; an owner that cannot be
  // given (no right to) leaves it the writer's.
  if (::fchown(fd.Get(), s.owner, s.group) != 0 && errno != EPERM) return fail(LastSystemError());
  if (::fchmod(fd.Get(), s.mode) != 0) return fail(LastSystemError());
  // What the file system keeps beside the content (NTFS: the security
  // descriptor and attribute bits) goes over to the new file.
  auto extras = ReadFileExtras(*s.heldFolder, s.fileName);
  if (!extras) return fail(extras.error());
  if (Status given = GiveFileExtras(*s.heldFolder, temporary, *extras); !given) return fail(given.error());
  if (::fsync(fd.Get()) != 0) return fail(LastSystemError());

  // What the disk gives back must be a sound hive holding exactly the hive as
  // read with the changes asked for, before it replaces the old one.
  auto back = ReadFromStart(fd.Get());
  if (!back) return fail(back.error());
  if (*back != out) return fail(Failure("the new file does not read back as it was written"));
  if (Status sound = CheckHiveImage(*back); !sound) return fail(sound.error().Context("the new file"));
  // A key made or removed by libhivex may have moved any list: every key and
  // value is compared. Value edits write only the cells they name: those keys
  // are compared, and every other byte must be as read.
  // The keys above a changed one too: the model of a change holds them.
  std::vector<std::string> keys;
  for (const Change& change : s.changes) {
    const std::string& path = change.keyPath;
    for (std::size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
      keys.push_back(path.substr(0, cut));
    }
    keys.push_back(change.keyPath);
  }
  if (!s.restructured) {
    if (Status untouched = CheckUntouched(s.pristine, *back, s.edited); !untouched) {
      return fail(untouched.error().Context("the new file is not what was meant"));
    }
  }
  auto written = s.restructured ? ModelOf(std::move(*back)) : ModelOfKeys(std::move(*back), keys);
  if (!written) return fail(written.error().Context("the new file cannot be read back"));
  auto meant = s.restructured ? ModelOf(s.pristine) : ModelOfKeys(s.pristine, keys);
  if (!meant) return fail(meant.error().Context("the hive as read cannot be read again"));
  for (const Change& change : s.changes) Apply(*meant, change);
  if (const std::string difference = FirstDifference(*meant, *written); !difference.empty()) {
    return fail(Failure("the new file is not what was meant: " + difference));
  }

  // What the volume's owner wrote into the hive since it was read is never
  // written over.
  auto now = Sha256OfDescriptor(s.file.Get());
  if (!now) return fail(now.error());
  if (*now != s.readAs.front().second) {
    return fail(Failure("the hive changed since it was read: it is not replaced"));
  }
  // The files replaced are kept, as they are on the disk now, for an undo
  // that puts back their exact bytes; they must still be what was read.
  const Status kept = KeepBeforeReplacing(
      {*s.heldFolder, s.fileName, HiveLogNames(*s.heldFolder, s.fileName), s.readAs, out.size(), Sha256Hex(out)});
  if (!kept) return fail(kept.error());

  if (::fstat(fd.Get(), &st) != 0) return fail(LastSystemError());
  // Nothing keeps the old file alive once it is replaced (a FUSE volume would
  // keep it as a hidden file while it is open).
  s.file.Reset();
  if (::renameat(s.folder.Get(), temporary.c_str(), s.folder.Get(), s.fileName.c_str()) != 0) {
    return fail(LastSystemError());
  }
  s.file = std::move(fd);
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.readAs = {{s.fileName, Sha256Hex(out)}};
  s.bytes = out;
  s.pristine = std::move(out);
  s.changes.clear();
  s.edited.clear();
  s.restructured = false;
  s.changed = false;
  if (::fsync(s.folder.Get()) != 0) return LastSystemError().Context(context + " (the folder was not flushed)");
  return Ok();
}

}  // namespace korbu::platform::rescue
