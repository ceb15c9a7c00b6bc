#include "scan/RegistryScan.h"

#include <algorithm>
#include <exception>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/WindowsEnvironment.h"
#include "platform/WindowsSystemChoice.h"
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
std::optional<std::string> CommandLineOf(const platform::RegistryValue& value) {
  if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) return std::nullopt;
  std::string text = platform::RegistryText(value.data);
  if (value.type == platform::kRegExpandSz) text = platform::ExpandWindowsEnvironment(text);
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

std::string ProgramOf(const platform::RegistryValue& value, PhaseMemory* memory) {
  if (memory == nullptr) return ProgramOfRunValue(value);
  std::string key = std::to_string(value.type) + ":" + value.data;
  auto [found, added] = memory->programs.try_emplace(std::move(key));
  if (added) found->second = ProgramOfRunValue(value);
  return found->second;
}

// Judges one value whose data is known; a row it adds names prefix (see DetectionRow).
bool JudgeRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const RegistryValueLocation& location,
                   const std::optional<platform::RegistryValue>& data, PhaseMemory* memory,
                   const std::string& prefix = {}) {
  const std::string path = data ? ProgramOf(*data, memory) : std::string();
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
    platform::OpenedFile file = platform::CurrentSystem()->OpenFile(path);
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
  if (!list.IsRegistryDetected(text, prefix)) list.AddRegistryDetection(location, verdict, std::string(kInfoRegistry), prefix);
  return true;
}

std::string ScanKey(ScanFrontEnd& frontEnd, const ScanContext& context, std::uint32_t rootKey,
                    const std::string& keyPath, PhaseMemory* memory, const std::string& prefix = {}) {
  // Reading is all the scan does, so a user without write access to a key can
  // still have it scanned.
  auto key = platform::RegistryKey::Open(rootKey, keyPath, platform::KeyAccess::Read);
  if (!key) return key.error().kind == ErrorKind::NotFound ? std::string() : key.error().reason;
  auto values = key->EnumValues();
  if (!values) return values.error().kind == ErrorKind::NotFound ? std::string() : values.error().reason;
  for (platform::RegistryValue& value : *values) {
    if (Stopped(context)) break;
    RegistryValueLocation location{rootKey, keyPath, value.name};
    try {
      JudgeRunValue(frontEnd, context, location, std::move(value), memory, prefix);
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

// Run keys of one Windows system (the chosen one); its rows name prefix.
void ScanSystem(ScanFrontEnd& frontEnd, const ScanContext& context, const std::string& prefix, const KeyList& keys) {
  // Where reaching the registry is costly (Wine's, while its server runs) the
  // keys are read together, once, with what expanding their data needs.
  platform::RegistryBatch batch(context.stop);
  KeyList ahead = keys;
  for (const auto& [root, keyPath] : platform::EnvironmentRegistryKeys()) ahead.emplace_back(root, keyPath);
  (void)batch.Prefetch(ahead);  // a failure shows in the keys' own reading below
  PhaseMemory memory;
  for (const auto& [root, keyPath] : keys) {
    if (Stopped(context)) return;
    const std::string reason = ScanKey(frontEnd, context, root, keyPath, &memory, prefix);
    if (reason.empty() || Stopped(context) || !memory.reportedReasons.insert(reason).second) continue;
    const std::string where = prefix.empty() ? std::string() : " (Wine prefix " + prefix + ")";
    frontEnd.ShowFileError(RootKeyName(root) + "\\" + keyPath + where, reason);
  }
}

}  // namespace

std::string ProgramOfRunValue(const platform::RegistryValue& value) {
  const auto commandLine = CommandLineOf(value);
  if (!commandLine) return std::string();
  std::string path = CommandLineToFilePath(*commandLine);
  if (path.empty() || !platform::FileExists(path)) return std::string();
  return path;
}

void ScanRegistry(ScanFrontEnd& frontEnd, const ScanContext& context) {
  frontEnd.ShowOperation(kScanningRegistryText);
  frontEnd.ProcessPendingMessages();
  const std::vector<std::string> users = platform::SystemUsers();
  KeyList keys;
  AddRunKeys(keys, platform::kHkeyLocalMachine);
  if (users.empty()) AddRunKeys(keys, platform::kHkeyCurrentUser);
  // A machine with no Wine prefix has no registry of its own to scan, which is
  // no fault; the prefixes of programs found running still are.
  if (platform::ChosenSystemFound()) ScanSystem(frontEnd, context, std::string(), keys);
  // A mounted Windows installation has many users: each one's keys are listed
  // below HKEY_USERS, read with that user chosen so that their values expand
  // as that user's.
  const std::string volume = platform::CurrentWindowsSystem().root;
  for (const std::string& user : users) {
    if (Stopped(context)) return;
    platform::ScopedWindowsSystem chosen(platform::WindowsSystemRef::Volume(volume, user));
    KeyList userKeys;
    AddRunKeys(userKeys, platform::kHkeyUsers, user + "\\");
    ScanSystem(frontEnd, context, std::string(), userKeys);
  }
  // A worm the memory phase found running in another Wine prefix starts from
  // that prefix's Run keys: they are scanned too, their rows naming the prefix.
  const std::string current = platform::ChosenWinePrefix();
  std::vector<std::string> others;
  for (const DetectionRow& row : frontEnd.Detections().Rows()) {
    if (row.prefix.empty() || platform::SamePrefixFolder(row.prefix, current)) continue;
    if (std::find(others.begin(), others.end(), row.prefix) == others.end()) others.push_back(row.prefix);
  }
  for (const std::string& prefix : others) {
    if (Stopped(context)) return;
    platform::ScopedWindowsSystem system(platform::WindowsSystemRef::Prefix(prefix));
    KeyList prefixKeys;
    AddRunKeys(prefixKeys, platform::kHkeyLocalMachine);
    AddRunKeys(prefixKeys, platform::kHkeyCurrentUser);
    ScanSystem(frontEnd, context, prefix, prefixKeys);
  }
}

std::string ScanRunKey(ScanFrontEnd& frontEnd, const ScanContext& context, std::uint32_t rootKey,
                       const std::string& keyPath) {
  PhaseMemory memory;
  return ScanKey(frontEnd, context, rootKey, keyPath, &memory);
}

bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, std::uint32_t rootKey, const std::string& valuePath) {
  const auto path = SplitValuePath(valuePath);
  if (!path) return false;
  return ScanRunValue(frontEnd, context, RegistryValueLocation{rootKey, std::string(path->keyPath), std::string(path->valueName)});
}

bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const RegistryValueLocation& value) {
  std::optional<platform::RegistryValue> data;
  if (auto key = platform::RegistryKey::Open(value.root, value.keyPath, platform::KeyAccess::Read)) {
    if (auto read = key->QueryValue(value.valueName)) data = std::move(*read);
  }
  return JudgeRunValue(frontEnd, context, value, data, nullptr);
}

}  // namespace korbu
