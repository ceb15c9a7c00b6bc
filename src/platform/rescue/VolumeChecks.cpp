#include "platform/rescue/VolumeChecks.h"

#include <array>
#include <cstdint>

#include "platform/AsciiCase.h"
#include "platform/SystemError.h"
#include "platform/WindowsSystem.h"
#include "platform/rescue/RescueSupport.h"

namespace korbu::platform::rescue {
namespace {

std::uint32_t Le32(const char* p) {
  const auto b = [&](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])); };
  return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

// Reads the first bytes of a file; fewer when it is shorter.
Expected<std::string> ReadHead(const Folder& folder, const std::string& name, std::size_t count) {
  auto file = folder.OpenFile(name);
  if (!file) return LastSystemError().Context("cannot open " + folder.PathOf(name));
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
  auto head = ReadHead(folder, name, 12);
  if (!head) return head.error();
  const std::string path = folder.PathOf(name);
  if (head->size() < 12 || head->compare(0, 4, "regf") != 0) return Failure(path + " is not a registry hive");
  const std::uint32_t primary = Le32(head->data() + 4);
  const std::uint32_t secondary = Le32(head->data() + 8);
  if (primary != secondary) {
    return Failure("the hive " + path + " is dirty (sequence numbers " + std::to_string(primary) + " and " +
                   std::to_string(secondary) + "): changes wait in its .LOG1/.LOG2 files, which libhivex does not "
                   "replay; start Windows and shut it down fully first");
  }
  return Ok();
}

}  // namespace korbu::platform::rescue
