#include "scan/RegistryScan.h"

#include <exception>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/WindowsEnvironment.h"
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
  std::string text = value.data;
  const std::size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  if (value.type == platform::kRegExpandSz) text = platform::ExpandWindowsEnvironment(text);
  return text;
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
  constexpr platform::RootKey kRoots[] = {platform::kHkeyLocalMachine, platform::kHkeyCurrentUser};
  // Where reaching the registry is costly (Wine's, while its server runs) the six
  // keys are read together, once.
  platform::RegistryBatch batch;
  std::vector<std::pair<platform::RootKey, std::string>> keys;
  for (platform::RootKey root : kRoots)
    for (const char* keyPath : kRunKeys) keys.emplace_back(root, keyPath);
  batch.Prefetch(keys);
  for (const auto& [root, keyPath] : keys) ScanRunKey(frontEnd, context, root, keyPath);
}

void ScanRunKey(ScanFrontEnd& frontEnd, const ScanContext& context, std::uint32_t rootKey, const std::string& keyPath) {
  // Reading is all the scan does, so a user without write access to a key can
  // still have it scanned.
  auto key = platform::RegistryKey::Open(rootKey, keyPath, platform::KeyAccess::Read);
  if (!key) return;
  auto values = key->EnumValues();
  if (!values) return;
  std::vector<std::string> names;
  names.reserve(values->size());
  for (auto& value : *values) names.push_back(std::move(value.name));
  for (const std::string& name : names) {
    try {
      ScanRunValue(frontEnd, context, RegistryValueLocation{rootKey, keyPath, name});
    } catch (const std::exception&) {
      // One value that cannot be judged does not end the phase.
    }
  }
}

bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, std::uint32_t rootKey, const std::string& valuePath) {
  const auto path = SplitValuePath(valuePath);
  if (!path) return false;
  return ScanRunValue(frontEnd, context, RegistryValueLocation{rootKey, std::string(path->keyPath), std::string(path->valueName)});
}

bool ScanRunValue(ScanFrontEnd& frontEnd, const ScanContext& context, const RegistryValueLocation& value) {
  std::string path;
  if (auto key = platform::RegistryKey::Open(value.root, value.keyPath, platform::KeyAccess::Read)) {
    if (auto data = key->QueryValue(value.valueName)) path = ProgramOfRunValue(*data);
  }
  frontEnd.ProcessPendingMessages();
  const std::string location = RegistryLocationText(value);
  frontEnd.ShowOperation(location);
  // A value whose program cannot be found is left alone: the rule cannot resolve
  // every legitimate command line, and a scan must not change the system.
  if (path.empty()) return false;
  frontEnd.ShowObject(path);
  std::string verdict;
  if (!ScanFile(path, verdict, context, frontEnd)) return false;
  DetectionList& list = frontEnd.Detections();
  if (!list.IsDetected(location)) list.AddRegistryDetection(value, verdict, std::string(kInfoRegistry));
  return true;
}

}  // namespace korbu
