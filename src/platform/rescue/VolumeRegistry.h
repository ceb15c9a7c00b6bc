#pragma once
// The registry of a mounted Windows installation (see InstallationRegistry.h),
// behind VolumeSystem. Within a RegistryBatch each volume's hives stay open and
// its changes are written with the batch's Commit; without one, each change is
// written before the call returns.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/RegistryBatchParts.h"

namespace korbu::platform::rescue {

class InstallationRegistry;

/// What a RegistryBatch keeps of mounted volumes: one open registry a volume, so
/// that no hive is open twice for writing.
struct VolumeBatch final : RegistryBatchPart {
  std::map<std::string, std::shared_ptr<InstallationRegistry>> volumes;  // by mount folder

  bool HasPending() const override;
  std::vector<RegistryWriteFailure> Commit() override;
};

}  // namespace korbu::platform::rescue
