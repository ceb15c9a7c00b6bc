#include "platform/rescue/WindowsInstallation.h"

#include <array>
#include <cstdlib>
#include <memory>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/SystemError.h"
#include "platform/WindowsSystem.h"
#include "platform/rescue/Hive.h"
#include "platform/rescue/HiveNames.h"

namespace korbu::platform::rescue {
namespace {

constexpr std::string_view kCurrentVersion = "Microsoft\\Windows NT\\CurrentVersion";
constexpr std::string_view kProfileList = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// Folders a Windows of either era keeps its profiles in.
constexpr std::array<std::string_view, 2> kProfileFolders = {"Users", "Documents and Settings"};
// Profiles that belong to no one who logs on: templates and service accounts.
constexpr std::array<std::string_view, 7> kNotUsers = {"Default",        "Default User",   "Public",
                                                       "All Users",      "LocalService",   "NetworkService",
                                                       "systemprofile"};
constexpr std::array<std::string_view, 3> kServiceSids = {"S-1-5-18", "S-1-5-19", "S-1-5-20"};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

template <std::size_t N>
bool IsOneOf(std::string_view name, const std::array<std::string_view, N>& names) {
  for (std::string_view candidate : names) {
    if (EqualsIgnoringCase(name, candidate)) return true;
  }
  return false;
}

// The components of an absolute Windows path on the given drive, "." and ".."
// resolved; empty when it is on another drive or not absolute.
std::optional<std::vector<std::string>> Components(char drive, std::string_view path) {
  if (path.size() < 2 || path[1] != ':' || AsciiUpper(path[0]) != drive) return std::nullopt;
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  if (path.size() > 2 && !IsSeparator(path[2])) return std::nullopt;
  std::vector<std::string> parts;
  std::size_t i = 2;
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) ++i;
    std::size_t j = i;
    while (j < path.size() && !IsSeparator(path[j])) ++j;
    const std::string_view part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    i = j;
  }
  return parts;
}

// The subfolder of that name ignoring case; fails when missing or a link.
Expected<Folder> Subfolder(const Folder& folder, const std::string& name) {
  return folder.Child(SystemEntryName(folder, name));
}

// The name of a regular file in a folder matched ignoring case; empty when missing.
std::string FileName(const Folder& folder, const std::string& name) {
  const std::string found = SystemEntryName(folder, name);
  const auto entry = folder.Entry(found);
  return entry && entry->kind == EntryKind::Regular ? found : std::string();
}

void AddUser(WindowsInstallation& installation, std::string key, std::string profilePath, const Folder& profile) {
  const std::string hive = FileName(profile, "NTUSER.DAT");
  if (hive.empty()) return;
  for (const WindowsUser& user : installation.users) {
    if (user.profile == profile.Path() || EqualsIgnoringCase(user.key, key)) return;
  }
  installation.users.push_back({std::move(key), std::move(profilePath), profile.Path(), hive});
}

void AddProfileListUsers(WindowsInstallation& installation, const Hive& software) {
  const auto sids = software.Subkeys(kProfileList);
  if (!sids) return;
  for (const std::string& sid : *sids) {
    if (IsOneOf(sid, kServiceSids)) continue;
    const auto value = software.Value(std::string(kProfileList) + "\\" + sid, "ProfileImagePath");
    if (!value || (value->type != kRegSz && value->type != kRegExpandSz)) continue;
    const std::string path = ExpandInstallationPath(HiveText(value->data), installation);
    if (const auto folder = OpenInstallationFolder(installation, path)) AddUser(installation, sid, path, *folder);
  }
}

// Fails when a profiles folder cannot be listed: a user left out would be left
// unrepaired without a word.
Status AddProfileFolderUsers(WindowsInstallation& installation, const Folder& root) {
  for (std::string_view base : kProfileFolders) {
    const auto folder = Subfolder(root, std::string(base));
    if (!folder) continue;
    std::vector<std::string> names;
    const Status listed = folder->List("*", [&](const EntryInfo& entry) {
      if (entry.kind == EntryKind::Directory && !IsOneOf(entry.name, kNotUsers)) names.push_back(entry.name);
      return true;
    });
    if (!listed) return listed.error().Context("cannot list the profiles in " + folder->Path());
    for (const std::string& name : names) {
      if (const auto profile = folder->Child(name)) {
        AddUser(installation, name, installation.windowsPath.substr(0, 3) + std::string(base) + "\\" + name, *profile);
      }
    }
  }
  return Ok();
}

}  // namespace

std::string HiveText(std::string_view data) {
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    if (data[i] == '\0' && data[i + 1] == '\0') return Utf16LeToWtf8(data.substr(0, i));
  }
  return Utf16LeToWtf8(data);
}

std::string ExpandInstallationPath(std::string_view text, const WindowsInstallation& installation,
                                   const WindowsUser* user) {
  const std::array<std::pair<std::string_view, std::string>, 4> variables = {{
      {"%SystemDrive%", installation.windowsPath.substr(0, 2)},
      {"%SystemRoot%", installation.windowsPath},
      {"%windir%", installation.windowsPath},
      {"%USERPROFILE%", user != nullptr ? user->profilePath : std::string()},
  }};
  for (const auto& [name, value] : variables) {
    if (!value.empty() && text.size() >= name.size() && EqualsIgnoringCase(text.substr(0, name.size()), name)) {
      return value + std::string(text.substr(name.size()));
    }
  }
  return std::string(text);
}

Expected<WindowsInstallation> FindWindowsInstallation(const std::string& rootPath) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(rootPath.c_str(), nullptr), &std::free);
  if (!real) return LastSystemError().Context("cannot open " + rootPath);
  const auto root = Folder::Open(real.get());
  if (!root) return root.error().Context("cannot open " + rootPath);

  WindowsInstallation installation;
  installation.root = root->Path();
  std::optional<Folder> windows;
  std::optional<Folder> config;
  for (const char* name : {"Windows", "WINNT"}) {
    auto found = Subfolder(*root, name);
    if (!found) continue;
    const auto system = Subfolder(*found, "System32");
    if (!system) continue;
    auto configFolder = Subfolder(*system, "config");
    if (configFolder && !FileName(*configFolder, "SOFTWARE").empty()) {
      windows = std::move(*found);
      config = std::move(*configFolder);
      break;
    }
  }
  if (!windows) {
    return Failure(rootPath + " holds no Windows\\System32\\config\\SOFTWARE: not the root of a Windows system volume");
  }
  installation.windows = windows->Path();
  installation.windowsPath = "C:\\" + ExtractFileName(windows->Path());
  installation.config = config->Path();
  installation.softwareHive = FileName(*config, "SOFTWARE");
  installation.systemHive = FileName(*config, "SYSTEM");
  if (installation.systemHive.empty()) return Failure(config->PathOf("SYSTEM") + " is missing: no machine hive SYSTEM");

  auto software = Hive::Open(*config, installation.softwareHive, Hive::Access::Read);
  if (!software) return software.error();
  // The drive letter Windows gives its volume, and the folder's own spelling.
  if (const auto systemRoot = software->Value(kCurrentVersion, "SystemRoot");
      systemRoot && (systemRoot->type == kRegSz || systemRoot->type == kRegExpandSz)) {
    const std::string path = HiveText(systemRoot->data);
    const auto parts = path.size() >= 2 ? Components(AsciiUpper(path[0]), path) : std::nullopt;
    if (parts && parts->size() == 1 && EqualsIgnoringCase((*parts)[0], ExtractFileName(windows->Path()))) {
      installation.windowsPath = std::string(1, AsciiUpper(path[0])) + ":\\" + (*parts)[0];
    }
  }
  if (auto system = Hive::Open(*config, installation.systemHive, Hive::Access::Read)) {
    const auto current = system->Value("Select", "Current");
    if (current && current->type == kRegDword && current->data.size() == 4) {
      const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(current->data[i])); };
      const unsigned number = byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
      if (number >= 1 && number <= 999) installation.controlSet = static_cast<int>(number);
    }
  } else {
    return system.error();
  }
  AddProfileListUsers(installation, *software);
  if (Status listed = AddProfileFolderUsers(installation, *root); !listed) return listed.error();
  return installation;
}

std::string InstallationPath(const WindowsInstallation& installation, std::string_view windowsPath) {
  const auto parts = Components(installation.Drive(), windowsPath);
  if (!parts) return {};
  auto folder = Folder::Open(installation.root);
  std::string path = installation.root;
  for (std::size_t i = 0; i < parts->size(); ++i) {
    const std::string name = folder ? SystemEntryName(*folder, (*parts)[i]) : (*parts)[i];
    path = IncludeTrailingDelimiter(path) + name;
    if (!folder || i + 1 == parts->size()) continue;
    folder = folder->Child(name);
  }
  return path;
}

std::optional<Folder> OpenInstallationFolder(const WindowsInstallation& installation, std::string_view windowsPath) {
  const auto parts = Components(installation.Drive(), windowsPath);
  if (!parts) return std::nullopt;
  auto folder = Folder::Open(installation.root);
  for (const std::string& part : *parts) {
    if (!folder) return std::nullopt;
    folder = Subfolder(*folder, part);
  }
  if (!folder) return std::nullopt;
  return std::move(*folder);
}

}  // namespace korbu::platform::rescue
