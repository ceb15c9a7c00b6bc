#pragma once
// Registry.h over a mounted Windows installation (see InstallationRegistry.h):
// what the POSIX backend's RegistryKey and RegistryBatch do while the chosen
// system is a Windows volume. Within a RegistryBatch each volume's hives stay
// open and its changes are written with the batch's Commit; without one, each
// change is written before the call returns.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "platform/Registry.h"
#include "platform/WindowsSystemChoice.h"

namespace korbu::platform::rescue {

/// A key of the volume, with the system it was opened in.
struct VolumeKey {
  WindowsSystemRef system;
  RootKey root = 0;
  std::string keyPath;
};

Expected<VolumeKey> OpenVolumeKey(RootKey root, std::string_view keyPath);
Expected<VolumeKey> CreateVolumeKey(RootKey root, std::string_view keyPath);
KeyState ProbeVolumeKey(RootKey root, std::string_view keyPath);
Status DeleteEmptyVolumeKey(RootKey root, std::string_view keyPath);

Expected<std::vector<RegistryValue>> VolumeValues(const VolumeKey& key);
Expected<RegistryValue> VolumeValue(const VolumeKey& key, std::string_view name);
Status SetVolumeValue(const VolumeKey& key, std::string_view name, std::uint32_t type, std::string_view data);
Status DeleteVolumeValue(const VolumeKey& key, std::string_view name);

/// True while changes of the batch's volumes wait for its Commit.
bool VolumesPending(const RegistryBatch::State& batch);
/// Writes the changes of the batch's volumes; those that were lost, and why.
std::vector<RegistryWriteFailure> CommitVolumes(RegistryBatch::State& batch);

}  // namespace korbu::platform::rescue
