// The registry files of a Wine prefix, read and changed while no wineserver
// runs: HKEY_LOCAL_MACHINE in system.reg, HKEY_CURRENT_USER in user.reg,
// HKEY_CLASSES_ROOT as HKLM\Software\Classes. Every change is a read-modify-write
// of the whole file under this program's own lock, the new file replacing the
// old one atomically.
#include <sys/stat.h>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryLock.h"
#include "platform/wine/WineRegistryRoutes.h"

namespace korbu::platform::wine {
namespace {

std::string FileIdentity(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

Expected<std::shared_ptr<const WineRegistryText>> ParseFile(const std::string& file) {
  auto content = ReadWholeFile(file, ShareMode::DenyNone);
  if (!content) return LastSystemError().Context("cannot read " + file);
  auto text = std::make_shared<const WineRegistryText>(std::move(*content));
  if (!text->Valid()) return Failure(file + " is not a Wine registry file");
  return text;
}

}  // namespace

Expected<KeyPlace> LocateKey(const std::string& prefix, RootKey root, std::string_view keyPath) {
  KeyPlace place;
  std::string fileName;
  switch (root) {
    case kHkeyLocalMachine:
      fileName = "system.reg";
      place.helperRoot = kHkeyLocalMachine;
      break;
    case kHkeyCurrentUser:
      fileName = "user.reg";
      place.helperRoot = kHkeyCurrentUser;
      break;
    case kHkeyClassesRoot:
      fileName = "system.reg";
      place.helperRoot = kHkeyLocalMachine;
      place.path = {u"Software", u"Classes"};
      break;
    default:
      return Failure("this root key does not exist in a Wine prefix");
  }
  auto path = SplitKeyPath(keyPath);
  if (!path) return Failure("malformed key path");
  place.prefix = prefix;
  if (place.prefix.empty()) return Failure("no Wine prefix (a folder with system.reg, user.reg and drive_c)");
  place.file = place.prefix + "/" + fileName;
  place.path.insert(place.path.end(), path->begin(), path->end());
  for (const std::u16string& part : place.path) {
    if (!place.helperKey.empty()) place.helperKey += u'\\';
    place.helperKey += part;
  }
  place.root = root;
  place.keyPath = std::string(keyPath);
  return place;
}

Expected<std::shared_ptr<const WineRegistryText>> ReadRegistryFile(const std::string& file) {
  WineBatch* batch = CurrentBatch();
  if (batch == nullptr) return ParseFile(file);
  const std::string identity = FileIdentity(file);
  if (auto cached = batch->files.find(file);
      cached != batch->files.end() && !identity.empty() && cached->second.identity == identity)
    return cached->second.text;
  auto text = ParseFile(file);
  if (text && !identity.empty() && identity == FileIdentity(file)) batch->files[file] = CachedFile{identity, *text};
  return text;
}

Status ModifyRegistryFile(const KeyPlace& place,
                          const std::function<Expected<std::string>(const WineRegistryText&)>& edit) {
  const auto serverRuns = [&] { return WineServerRunning(place.prefix); };
  const Error busy = Failure("the prefix's wineserver started meanwhile");
  if (serverRuns()) return busy;
  auto lock = RegistryWriteLock::Acquire(place.file);
  if (!lock) return LastSystemError().Context("cannot lock " + place.file);
  if (serverRuns()) return busy;
  auto text = ParseFile(place.file);
  if (!text) return text.error();
  auto changed = edit(**text);
  if (!changed) return changed.error();
  if (Status written = ReplaceFileAtomically(place.file, *changed); !written) {
    return written.error().Context("cannot write " + place.file);
  }
  return Ok();
}

}  // namespace korbu::platform::wine
