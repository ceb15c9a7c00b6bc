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

void ScanRegistry(ScanFrontEnd& frontEnd) {
  frontEnd.ShowOperation(kScanningRegistryText);
  frontEnd.ProcessPendingMessages();
  for (platform::RootKey root : {platform::kHkeyLocalMachine, platform::kHkeyCurrentUser}) {
    for (const char* keyPath : kRunKeys) ScanRunKey(frontEnd, root, keyPath);
  }
}

void ScanRunKey(ScanFrontEnd& frontEnd, std::uint32_t rootKey, const std::string& keyPath) {
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
      ScanRunValue(frontEnd, rootKey, keyPath + "\\" + name);
    } catch (const std::exception&) {
      // One value that cannot be judged does not end the phase.
    }
  }
}

bool ScanRunValue(ScanFrontEnd& frontEnd, std::uint32_t rootKey, const std::string& valuePath) {
  const std::size_t split = valuePath.rfind('\\');
  if (split == std::string::npos) return false;
  std::optional<std::string> commandLine;
  if (auto key = platform::RegistryKey::Open(rootKey, valuePath.substr(0, split), platform::KeyAccess::Read)) {
    if (auto value = key->QueryValue(valuePath.substr(split + 1))) commandLine = CommandLineOf(*value);
  }
  frontEnd.ProcessPendingMessages();
  const std::string location = MakeRegistryLocation(rootKey, valuePath);
  frontEnd.ShowOperation(location);
  if (!commandLine) return false;
  const std::string path = CommandLineToFilePath(*commandLine);
  // A value whose program cannot be found is left alone: the rule cannot resolve
  // every legitimate command line, and a scan must not change the system.
  if (path.empty() || !platform::FileExists(path)) return false;
  frontEnd.ShowObject(path);
  std::string verdict;
  if (!ScanFile(path, verdict)) return false;
  DetectionList& list = frontEnd.Detections();
  if (!list.IsDetected(location)) list.AddDetection(location, verdict, std::string(kInfoRegistry));
  return true;
}

}  // namespace korbu
