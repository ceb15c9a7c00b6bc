// The seven steps that undo the worm's changes to the Windows system.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Path.h"
#include "platform/Wildcard.h"
#include "platform/WindowsSystem.h"
#include "repair/FirstFailure.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "services/FileUtils.h"
#include "services/MiniReg.h"
#include "services/Searches.h"
#include "services/ShellUtils.h"

namespace korbu {
namespace {

using platform::EntryInfo;
using platform::EntryKind;

// A folder of the Windows system held open; empty without a system or folder.
std::optional<platform::Folder> HeldFolder(const platform::WindowsSystem& system, const std::string& windowsPath) {
  if (windowsPath.empty()) return std::nullopt;
  return system.OpenSystemFolder(windowsPath);
}

// The entries of a held folder that match a mask, listed before anything is
// changed; a folder that cannot be listed to its end is an error, since what it
// hides stays.
Expected<std::vector<EntryInfo>> Entries(const platform::Folder& folder, const std::string& mask) {
  std::vector<EntryInfo> entries;
  const Status listed = folder.List(mask, [&](const EntryInfo& entry) {
    entries.push_back(entry);
    return true;
  });
  if (!listed) return listed.error().Context("could not list " + folder.Path());
  return entries;
}

// Windows refuses to delete a read-only file; the steps that do not clear the
// flag first keep such files, as they would there.
Status DeleteUnlessReadOnly(const platform::Folder& folder, const EntryInfo& entry, ChangeSink& sink) {
  if ((entry.attributes & platform::kAttrReadOnly) != 0) return Ok();
  const Status deleted = sink.DeleteFile(folder, entry.name);
  if (!deleted) return deleted.error().Context("could not delete " + folder.PathOf(entry.name));
  return deleted;
}

Status MoveToTrash(const platform::Folder& folder, const std::string& name, ChangeSink& sink) {
  const auto moved = sink.MoveToTrash(folder, name);
  if (!moved) return moved.error().Context("could not move " + folder.PathOf(name) + " to the Trash");
  return Ok();
}

struct Setting {
  platform::RootKey root;
  const char* valuePath;
  bool isText;
  const char* text;
};

constexpr const char* kAdvanced = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\";
constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

const std::array<Setting, 15>& RegistrySettings() {
  static const std::array<Setting, 15> settings = {{
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\AlternateShell", true, "cmd.exe"},
      {HKEY_CURRENT_USER, "Hidden", false, nullptr},
      {HKEY_CURRENT_USER, "HideFileExt", false, nullptr},
      {HKEY_CURRENT_USER, "SuperHidden", false, nullptr},
      {HKEY_CURRENT_USER, "ShowSuperHidden", false, nullptr},
      {HKEY_LOCAL_MACHINE, "Software\\CLASSES\\batfile\\shell\\open\\command\\", true, "\"%1\" %*"},
      {HKEY_LOCAL_MACHINE, "Software\\CLASSES\\comfile\\shell\\open\\command\\", true, "\"%1\" %*"},
      {HKEY_LOCAL_MACHINE, "Software\\CLASSES\\exefile\\shell\\open\\command\\", true, "\"%1\" %*"},
      {HKEY_LOCAL_MACHINE, "Software\\CLASSES\\piffile\\shell\\open\\command\\", true, "\"%1\" %*"},
      {HKEY_LOCAL_MACHINE, "Software\\CLASSES\\regfile\\shell\\open\\command\\", true, "regedit.exe \"%1\""},
      {HKEY_LOCAL_MACHINE, "Software\\CLASSES\\scrfile\\shell\\open\\command\\", true, "\"%1\" /S"},
      {HKEY_CURRENT_USER, "Explorer\\NoFolderOptions", false, nullptr},
      {HKEY_CURRENT_USER, "System\\DisableTaskMgr", false, nullptr},
      {HKEY_CURRENT_USER, "System\\DisableRegistryTools", false, nullptr},
      {HKEY_CURRENT_USER, "System\\DisableCMD", false, nullptr},
  }};
  return settings;
}

std::string SettingPath(std::size_t index, const Setting& setting) {
  // Entries 1-4 are Explorer's Advanced values, 11-14 the policies; the rest are whole paths.
  if (index >= 1 && index <= 4) return std::string(kAdvanced) + setting.valuePath;
  if (index >= 11) return std::string(kPolicies) + setting.valuePath;
  return setting.valuePath;
}

constexpr std::string_view kAutoexecText = "pause";
// Larger files cannot be the worm's "pause" and are not read.
constexpr std::uint64_t kMaxAutoexecBytes = 4096;
constexpr std::string_view kHostsLine = "127.0.0.1\tlocalhost";
constexpr std::string_view kHtmlMarker = "JowoBot #VM Community";
constexpr int kMaxBackups = 1000;

std::string Utf16Le(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

// The first free name among hosts.bak, hosts.bak.1, hosts.bak.2 ...
std::string FreeBackupName(const platform::Folder& folder, const std::string& name) {
  const std::string base = name + ".bak";
  if (!folder.Entry(base)) return base;
  for (int n = 1; n <= kMaxBackups; ++n) {
    std::string candidate = base + "." + std::to_string(n);
    if (!folder.Entry(candidate)) return candidate;
  }
  return std::string();
}

// True when text is that line, with or without one line end after it: writing
// the line would change no line of the file.
bool HoldsOnlyLine(std::string_view text, std::string_view line) {
  if (text.substr(0, line.size()) != line) return false;
  text.remove_prefix(line.size());
  return text.empty() || text == "\n" || text == "\r\n";
}

bool IsVisible(const EntryInfo& entry) {
  return (entry.attributes & (platform::kAttrHidden | platform::kAttrSystem)) == 0;
}

}  // namespace

// Where a system keeps its users apart (a mounted Windows installation) a user's
// setting is written for each of them, below HKEY_USERS; elsewhere to
// HKEY_CURRENT_USER.
std::vector<std::pair<platform::RootKey, std::string>> SettingPlaces(const Setting& setting, const std::string& path,
                                                                     const std::vector<std::string>& users) {
  if (setting.root != HKEY_CURRENT_USER || users.empty()) return {{setting.root, path}};
  std::vector<std::pair<platform::RootKey, std::string>> places;
  for (const std::string& user : users) places.emplace_back(HKEY_USERS, user + "\\" + path);
  return places;
}

Status RepairSystemSettings(const platform::WindowsSystem& system, ChangeSink& sink) {
  FirstFailure failure;
  if (const auto windows = HeldFolder(system, system.WindowsDirectoryPath())) {
    const std::string name = platform::SystemEntryName(*windows, "system.ini");
    failure.Note(sink.WriteIniValue(*windows, name, "boot", "shell", "Explorer.exe"),
                 "could not set " + name + " [boot] shell");
  }
  const auto& settings = RegistrySettings();
  const std::vector<std::string> users = system.Users();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    for (const auto& [root, path] : SettingPlaces(settings[i], SettingPath(i, settings[i]), users)) {
      // A failed write does not stop the next.
      const auto split = SplitValuePath(path);
      if (!split) {
        failure.Note(Status(Failure("the setting names no value")), "could not set " + MakeRegistryLocation(root, path));
        continue;
      }
      const RegistryValueLocation value{root, std::string(split->keyPath), std::string(split->valueName)};
      const Status written =
          settings[i].isText ? sink.WriteRegString(system, value, settings[i].text) : sink.WriteRegDWord(system, value, 0);
      failure.Note(written, "could not set " + RegistryLocationText(value));
    }
  }
  return failure.Result();
}

std::vector<std::pair<platform::RootKey, std::string>> RepairedRegistryKeys(const platform::WindowsSystem& system) {
  std::vector<std::pair<platform::RootKey, std::string>> keys;
  const auto& settings = RegistrySettings();
  const std::vector<std::string> users = system.Users();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    for (const auto& [root, path] : SettingPlaces(settings[i], SettingPath(i, settings[i]), users)) {
      if (const auto split = SplitValuePath(path)) keys.emplace_back(root, std::string(split->keyPath));
    }
  }
  return keys;
}

Status DeleteWormFiles(const platform::WindowsSystem& system, ChangeSink& sink) {
  const auto root = system.OpenSpecialFolder(platform::kCsidlLocalAppData);
  if (!root) return Ok();
  FirstFailure failure;
  // Only real folders are entered; a link is moved away as a link at most. Each
  // change reaches its file through the folders held on the way down again, so a
  // folder swapped for a link meanwhile is refused, never followed.
  ForEachFolderBelow(*root, "*Bron*.*", [&](const platform::Folder& folder, const std::vector<EntryInfo>& entries) {
    for (const EntryInfo& entry : entries) {
      if (entry.kind == EntryKind::Link) {
        failure.Note(MoveToTrash(folder, entry.name, sink));
      } else if (entry.kind == EntryKind::Regular) {
        if ((entry.attributes & platform::kAttrReadOnly) != 0) {
          failure.Note(sink.ClearAttributes(folder, entry.name),
                       "could not clear the attributes of " + folder.PathOf(entry.name));
        }
        // A file in use stays, as Windows would keep it.
        if (folder.CanOpenExclusively(entry.name)) failure.Note(MoveToTrash(folder, entry.name, sink));
      }
    }
  });
  return failure.Result();
}

Status RepairAutoexec(const platform::WindowsSystem& system, ChangeSink& sink) {
  const std::string windows = system.WindowsDirectoryPath();
  if (windows.empty()) return Ok();
  const auto drive = HeldFolder(system, windows.substr(0, 1) + ":\\");
  if (!drive) return Ok();
  const platform::Folder& folder = *drive;
  const std::string name = platform::SystemEntryName(folder, "Autoexec.bat");
  const auto info = folder.Entry(name);
  // Far too large to be the worm's: left as it is, unread.
  if (!info || info->kind != EntryKind::Regular || info->size > kMaxAutoexecBytes) return Ok();
  const auto text = ReadRegularFile(folder, name, kMaxAutoexecBytes);
  if (!text) return text.error().Context("could not read " + folder.PathOf(name));
  if (platform::AsciiLowered(text->bytes) != kAutoexecText) return Ok();
  return DeleteUnlessReadOnly(folder, *info, sink);
}

Status RepairHostsFile(const platform::WindowsSystem& system, ChangeSink& sink) {
  const std::string folders = system.SystemDirectoryPath();
  const auto etc = HeldFolder(system, folders.empty() ? folders : folders + "\\drivers\\etc");
  if (!etc) return Ok();
  const platform::Folder& folder = *etc;
  const std::string name = platform::SystemEntryName(folder, "hosts");
  const auto info = folder.Entry(name);
  if (!info || info->kind != EntryKind::Regular || info->size > kMaxReplacedFileBytes) return Ok();
  const auto current = ReadRegularFile(folder, name, kMaxReplacedFileBytes);
  if (!current) return current.error().Context("could not read " + folder.PathOf(name));
  if (HoldsOnlyLine(current->bytes, kHostsLine)) return Ok();
  const std::string backup = FreeBackupName(folder, name);
  // Never replace what cannot be kept.
  if (backup.empty()) return Failure("could not reset " + folder.PathOf(name) + ": no free name for its backup");
  FirstFailure failure;
  failure.Note(sink.ReplaceFileKeepingBackup(folder, name, std::string(kHostsLine), backup),
               "could not reset " + folder.PathOf(name));
  return failure.Result();
}

Status DeleteMarkedHtmlFiles(const platform::WindowsSystem& system, ChangeSink& sink) {
  const auto folder = system.OpenSpecialFolder(platform::kCsidlMyPictures);
  if (!folder) return Ok();
  const auto entries = Entries(*folder, "*.html");
  if (!entries) return entries.error();
  FirstFailure failure;
  for (const EntryInfo& entry : *entries) {
    if (entry.kind != EntryKind::Regular) continue;
    auto page = folder->OpenFile(entry.name);
    if (page && FindInOpenFile(*page, kHtmlMarker) != -1) failure.Note(DeleteUnlessReadOnly(*folder, entry, sink));
  }
  return failure.Result();
}

Status DeleteWormTasks(const platform::WindowsSystem& system, ChangeSink& sink) {
  const std::string windows = system.WindowsDirectoryPath();
  const auto folder = HeldFolder(system, windows.empty() ? windows : windows + "\\Tasks");
  if (!folder) return Ok();
  const auto entries = Entries(*folder, "*.job");
  if (!entries) return entries.error();
  static const std::string patternA = Utf16Le("Documents and Settings");
  static const std::string patternB("B\0r\0o", 5);
  static const std::string patternC("r\0o\0n\0t\0o\0k", 11);
  std::vector<EntryInfo> marked;
  for (const EntryInfo& entry : *entries) {
    if (entry.kind != EntryKind::Regular) continue;
    // Read in blocks from one descriptor: a task file cut short meanwhile just ends.
    auto task = folder->OpenFile(entry.name);
    if (!task || FindInOpenFile(*task, patternA) == -1) continue;
    if (FindInOpenFile(*task, patternB) != -1 || FindInOpenFile(*task, patternC) != -1) marked.push_back(entry);
  }
  FirstFailure failure;
  for (const EntryInfo& entry : marked) failure.Note(DeleteUnlessReadOnly(*folder, entry, sink));
  return failure.Result();
}

Status DeleteWormFolders(const platform::WindowsSystem& system, ChangeSink& sink) {
  const auto folder = system.OpenSpecialFolder(platform::kCsidlLocalAppData);
  if (!folder) return Ok();
  const auto entries = Entries(*folder, "*bron*");
  if (!entries) return entries.error();
  FirstFailure failure;
  for (const EntryInfo& entry : *entries) {
    if (entry.kind == EntryKind::Other || !IsVisible(entry)) continue;
    failure.Note(MoveToTrash(*folder, entry.name, sink));
  }
  return failure.Result();
}

}  // namespace korbu
