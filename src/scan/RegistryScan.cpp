#include "scan/RegistryScan.h"

#include <algorithm>
#include <exception>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/SystemFactory.h"
#include "platform/WindowsSystem.h"
#include "scan/FileVerdict.h"
#include "scan/RegistryLocations.h"
#include "scan/ScanTexts.h"
#include "services/CommandLine.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {

constexpr const char* kRunKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
};

// The command line a value holds: plain strings as they are, expandable ones with
// their variables expanded (worms use those too); other types hold none.
std::optional<std::string> CommandLineOf(const platform::WindowsSystem& system, const platform::RegistryValue& value) {
  if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) return std::nullopt;
  std::string text = platform::RegistryText(value.data);
  if (value.type == platform::kRegExpandSz) text = system.ExpandEnvironment(text);
  return text;
}

bool Stopped(const ScanContext& context) { return context.stop != nullptr && context.stop->load(); }

// What one phase learns once and reuses: many values may name one program
// (thousands of values naming one file must not cost thousands of verdicts).
struct PhaseMemory {
  std::unordered_map<std::string, std::string> programs;  // type and data -> program path
  std::unordered_map<std::string, std::optional<std::string>> verdicts;  // program path -> verdict name
  std::set<std::string> reportedReasons;
};

std::string ProgramOf(const platform::WindowsSystem& system, const platform::RegistryValue& value,
                      PhaseMemory* memory) {
  if (memory == nullptr) return ProgramOfRunValue(system, value);
  std::string key = std::to_string(value.type) + ":" + value.data;
  auto [found, added] = memory->programs.try_emplace(std::move(key));
  if (added) found->second = ProgramOfRunValue(system, value);
  return found->second;
}

// Judges one value whose data is known; the rows it adds name named (see DetectionRow).
bool JudgeRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                   const RegistryValueLocation& location, const std::optional<platform::RegistryValue>& data,
                   PhaseMemory* memory, const platform::WindowsSystemRef& named = {}) {
  const std::string path = data ? ProgramOf(system, *data, memory) : std::string();
  frontEnd.ProcessPendingMessages();
  const std::string text = RegistryLocationText(location);
  frontEnd.ShowOperation(text);
  // A value whose program cannot be found is left alone: the rule cannot resolve
  // every legitimate command line, and a scan must not change the system.
  if (path.empty()) return false;
  frontEnd.ShowObject(path);
  std::string verdict;
  // Opened as the system opens its own files: one of a system another user
  // controls stays inside it, whatever is swapped in since its path was found.
  const auto judge = [&] {
    platform::OpenedFile file = system.OpenFile(path);
    return ScanOpenedFile(file, path, verdict, context, frontEnd);
  };
  if (memory != nullptr) {
    auto [known, added] = memory->verdicts.try_emplace(path);
    if (added) {
      if (judge()) known->second = verdict;
    }
    if (!known->second) return false;
    verdict = *known->second;
  } else if (!judge()) {
    return false;
  }
  DetectionList& list = frontEnd.Detections();
  if (!list.IsRegistryDetected(location, named)) list.AddRegistryDetection(location, verdict, named);
  // The program the value starts is a row of its own, so that Clean or Delete
  // removes the worm and not only what starts it; a walk that comes to it
  // later finds it listed.
  if (!list.IsDetected(path)) list.AddDetection(path, verdict, DetectionKind::File, named);
  return true;
}

std::string ScanKey(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                    std::uint32_t rootKey, const std::string& keyPath, PhaseMemory* memory,
                    const platform::WindowsSystemRef& named = {}) {
  // Reading is all the scan does, so a user without write access to a key can
  // still have it scanned.
  auto key = system.OpenKey(rootKey, keyPath, platform::KeyAccess::Read);
  if (!key) return key.error().kind == ErrorKind::NotFound ? std::string() : key.error().reason;
  auto values = key->EnumValues();
  if (!values) return values.error().kind == ErrorKind::NotFound ? std::string() : values.error().reason;
  for (platform::RegistryValue& value : *values) {
    if (Stopped(context)) break;
    RegistryValueLocation location{rootKey, keyPath, value.name};
    try {
      JudgeRunValue(frontEnd, context, system, location, std::move(value), memory, named);
    } catch (const std::exception&) {
      // One value that cannot be judged does not end the phase.
    }
  }
  return std::string();
}

using KeyList = std::vector<std::pair<platform::RootKey, std::string>>;

// The three Run keys of a root, below a key of it (empty, or ending in '\').
void AddRunKeys(KeyList& keys, platform::RootKey root, const std::string& below = {}) {
  for (const char* keyPath : kRunKeys) keys.emplace_back(root, below + keyPath);
}

// Run keys of one Windows system; its rows name prefix.
void ScanSystem(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                const std::string& prefix, const KeyList& keys) {
  // Where reaching the registry is costly (Wine's, while its server runs) the
  // keys are read together, once, with what expanding their data needs.
  platform::RegistryBatch batch(context.stop);
  KeyList ahead = keys;
  for (const auto& [root, keyPath] : system.EnvironmentRegistryKeys()) ahead.emplace_back(root, keyPath);
  (void)system.Prefetch(ahead);  // a failure shows in the keys' own reading below
  PhaseMemory memory;
  for (const auto& [root, keyPath] : keys) {
    if (Stopped(context)) return;
    const std::string reason = ScanKey(frontEnd, context, system, root, keyPath, &memory, SystemOfPrefix(prefix));
    if (reason.empty() || Stopped(context) || !memory.reportedReasons.insert(reason).second) continue;
    const std::string where = prefix.empty() ? std::string() : " (Wine prefix " + prefix + ")";
    frontEnd.ShowFileError(RootKeyName(root) + "\\" + keyPath + where, reason);
  }
}

}  // namespace

std::string ProgramOfRunValue(const platform::WindowsSystem& system, const platform::RegistryValue& value) {
  const auto commandLine = CommandLineOf(system, value);
  if (!commandLine) return std::string();
  std::string path = CommandLineToFilePath(system, *commandLine);
  if (path.empty() || !platform::FileExists(path)) return std::string();
  return path;
}

void ScanRegistry(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system) {
  frontEnd.ShowOperation(kScanningRegistryText);
  frontEnd.ProcessPendingMessages();
  const std::vector<std::string> users = system.Users();
  KeyList keys;
  AddRunKeys(keys, platform::kHkeyLocalMachine);
  if (users.empty()) AddRunKeys(keys, platform::kHkeyCurrentUser);
  // A machine with no Wine prefix has no registry of its own to scan, which is
  // no fault; the prefixes of programs found running still are.
  if (system.Found()) ScanSystem(frontEnd, context, system, std::string(), keys);
  // A mounted Windows installation has many users: each one's keys are listed
  // below HKEY_USERS, read as that user's system so that their values expand
  // as that user's.
  const std::string volume = system.Identity().root;
  for (const std::string& user : users) {
    if (Stopped(context)) return;
    const auto userSystem = platform::OpenOrUnreachable(platform::WindowsSystemRef::Volume(volume, user));
    KeyList userKeys;
    AddRunKeys(userKeys, platform::kHkeyUsers, user + "\\");
    ScanSystem(frontEnd, context, *userSystem, std::string(), userKeys);
  }
  // A worm the memory phase found running in another Wine prefix starts from
  // that prefix's Run keys: they are scanned too, their rows naming the prefix.
  std::vector<std::string> others;
  for (const DetectionRow& row : frontEnd.Detections().Rows()) {
    const std::string prefix = row.system.PrefixFolder();
    if (prefix.empty() || system.Is(platform::WindowsSystemRef::Prefix(prefix))) continue;
    if (std::find(others.begin(), others.end(), prefix) == others.end()) others.push_back(prefix);
  }
  for (const std::string& prefix : others) {
    if (Stopped(context)) return;
    const auto other = platform::OpenOrUnreachable(platform::WindowsSystemRef::Prefix(prefix));
    KeyList prefixKeys;
    AddRunKeys(prefixKeys, platform::kHkeyLocalMachine);
    AddRunKeys(prefixKeys, platform::kHkeyCurrentUser);
    ScanSystem(frontEnd, context, *other, prefix, prefixKeys);
  }
}

std::string ScanRunKey(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                       std::uint32_t rootKey, const std::string& keyPath) {
  PhaseMemory memory;
  return ScanKey(frontEnd, context, system, rootKey, keyPath, &memory);
}

bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                  std::uint32_t rootKey, const std::string& valuePath) {
  const auto path = SplitValuePath(valuePath);
  if (!path) return false;
  return ScanRunValue(frontEnd, context, system, RegistryValueLocation{rootKey, std::string(path->keyPath), std::string(path->valueName)});
}

bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const platform::WindowsSystem& system,
                  const RegistryValueLocation& value) {
  std::optional<platform::RegistryValue> data;
  if (auto key = system.OpenKey(value.root, value.keyPath, platform::KeyAccess::Read)) {
    if (auto read = key->QueryValue(value.valueName)) data = std::move(*read);
  }
  return JudgeRunValue(frontEnd, context, system, value, data, nullptr);
}

}  // namespace korbu
