#include "platform/rescue/VolumeChecks.h"

#include <cstdint>

#include "platform/AsciiCase.h"
#include "platform/SystemError.h"
#include "platform/WindowsSystem.h"
#include "platform/rescue/HiveFile.h"
#include "platform/rescue/RescueSupport.h"

namespace korbu::platform::rescue {
namespace {

// Reads the first bytes of a file; fewer when it is shorter.
Expected<std::string> ReadHead(const Folder& folder, const std::string& name, std::size_t count) {
  auto file = folder.OpenFile(name);
  if (!file) return file.error().Context("cannot open " + folder.PathOf(name));
  std::string head(count, '\0');
  const std::int64_t got = file->ReadAt(head.data(), count, 0);
  if (got < 0) return LastSystemError().Context("cannot read " + folder.PathOf(name));
  head.resize(static_cast<std::size_t>(got));
  return head;
}

}  // namespace

Status CheckWritableVolume(const Folder& folder) {
  struct statvfs st {};
  if (::fstatvfs(static_cast<int>(folder.NativeHandle()), &st) != 0) {
    return LastSystemError().Context("cannot tell how " + folder.Path() + " is mounted");
  }
  if ((st.f_flag & ST_RDONLY) != 0) return Failure("the volume of " + folder.Path() + " is mounted read-only", EROFS);
  return Ok();
}

Status CheckNotHibernated(const Folder& root) {
  const std::string name = SystemEntryName(root, "hiberfil.sys");
  const auto entry = root.Entry(name);
  if (!entry) return Ok();
  if (entry->kind != EntryKind::Regular) return Failure(root.PathOf(name) + " is not a regular file");
  auto head = ReadHead(root, name, 4);
  if (!head) return head.error().Context("cannot tell whether Windows is hibernated");
  const std::string signature = AsciiLowered(*head);
  // "hibr": an image to resume from; "rstr": an image being resumed. Windows
  // clears the signature (or writes "wake") once it has resumed.
  if (signature == "hibr" || signature == "rstr") {
    return Failure("Windows is hibernated or was shut down with fast start-up (" + root.PathOf(name) +
                   " holds an image): start Windows and shut it down fully (shutdown /s /t 0), or turn fast "
                   "start-up off");
  }
  return Ok();
}

Status CheckHiveClean(const Folder& folder, const std::string& name) {
  auto hive = LoadHive(folder, name);
  if (!hive) return hive.error();
  return hive->writable;
}

}  // namespace korbu::platform::rescue
