#pragma once
// The two routes to a Wine prefix's registry behind Registry.h: its files while
// no wineserver runs, the helper run by Wine while one does. Private to the
// Wine backend.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/RegistryBatchParts.h"
#include "platform/wine/WineRegistryCodec.h"
#include "platform/wine/WineRegistryText.h"
#include "platform/wine/RegProtocol.h"

namespace korbu::platform::wine {

/// Where a key lives.
struct KeyPlace {
  std::string prefix;
  std::string file;            // <prefix>/system.reg or user.reg
  WineKeyPath path;            // relative to the file's root
  RootKey helperRoot = 0;      // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
  std::u16string helperKey;    // path, '\' between its components
  RootKey root = 0;            // as the caller named it
  std::string keyPath;         // as the caller named it
};

/// The key's place in a prefix (empty: none found); the reason when there is no
/// prefix, the root cannot be opened there or the path is malformed.
Expected<KeyPlace> LocateKey(const std::string& prefix, RootKey root, std::string_view keyPath);

/// A key's values as the live route last read them; empty for a key that does not exist.
using LiveKey = std::optional<std::vector<WineValue>>;

struct NameLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const { return CompareNames(a, b) < 0; }
};

/// What a batch keeps for one prefix reached through Wine.
struct LivePrefix {
  std::string prefix;
  std::optional<Error> unreachable;  // set by a failed reach: later calls fail at once
  std::map<std::u16string, LiveKey, NameLess> cache;  // by LiveName
  std::vector<winereg::Operation> pending;
  std::vector<RegistryWriteFailure> origins;  // parallel to pending: what each change is about
};

/// A registry file read while the batch lives, with what identified its content.
struct CachedFile {
  std::string identity;
  std::shared_ptr<const WineRegistryText> text;
};

/// What a RegistryBatch keeps of Wine prefixes: the keys read and the changes
/// collected of each prefix whose server runs, and the files read of the others.
struct WineBatch final : RegistryBatchPart {
  std::vector<LivePrefix> live;
  std::map<std::string, CachedFile> files;

  bool HasPending() const override;
  std::vector<RegistryWriteFailure> Commit() override;
};

/// The Wine part of this thread's batch, if a batch lives.
WineBatch* CurrentBatch();

// --- Files, while no server runs ---

/// The file parsed; within a batch a file whose identity (inode, size, time) has
/// not changed is not read again.
Expected<std::shared_ptr<const WineRegistryText>> ReadRegistryFile(const std::string& file);

/// One change of the file under this program's lock, the file read again first so
/// a change another writer made since is kept. edit gives the new text, or the
/// error that leaves the file as it is.
Status ModifyRegistryFile(const KeyPlace& place,
                          const std::function<Expected<std::string>(const WineRegistryText&)>& edit);

// --- Through Wine, while its server runs ---

/// The key as Wine sees it now (or as the batch has it).
Expected<LiveKey> ReadLiveKey(const KeyPlace& place);

/// Makes one change (a Set, Delete, CreateKey or DeleteEmptyKey operation on the
/// place's key): collected by the batch, or made at once and read back.
Status ChangeLive(const KeyPlace& place, winereg::Operation op, std::string valueName);

/// Reads the keys of a prefix whose server runs ahead into the thread's batch,
/// in one reach; nothing to do without a batch or a server.
Status PrefetchLive(const std::string& prefix, const std::vector<std::pair<RootKey, std::string>>& keys);

/// The value of that name among a key's values, or null.
const WineValue* FindValue(const std::vector<WineValue>& values, std::u16string_view name);

}  // namespace korbu::platform::wine
