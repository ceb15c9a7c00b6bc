#pragma once
// The registry of a Windows installation mounted on this system, as the
// predefined root keys show it: HKEY_LOCAL_MACHINE\SOFTWARE and \SYSTEM are its
// machine hives (CurrentControlSet the control set in use), HKEY_CLASSES_ROOT is
// SOFTWARE\Classes, HKEY_USERS holds one key per user (that user's NTUSER.DAT),
// and HKEY_CURRENT_USER is the user the session is given, when there is one.
// Other roots cannot be opened.
//
// A session opens each hive at its first use and keeps it; changes wait in the
// open hives until Commit writes each changed one (see Hive::Commit). Before the
// first change to a hive the session makes sure that writing cannot lose data
// (VolumeChecks.h); a refusal fails that change and every later one with its
// reason, while reading goes on.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "platform/Registry.h"
#include "platform/rescue/Hive.h"
#include "platform/rescue/WindowsInstallation.h"

namespace korbu::platform::rescue {

class InstallationRegistry {
 public:
  /// currentUser: the key below HKEY_USERS that HKEY_CURRENT_USER stands for;
  /// empty when there is none.
  explicit InstallationRegistry(WindowsInstallation installation, std::string currentUser = {});
  InstallationRegistry(const InstallationRegistry&) = delete;
  InstallationRegistry& operator=(const InstallationRegistry&) = delete;
  ~InstallationRegistry();

  const WindowsInstallation& Installation() const { return installation_; }

  /// Makes HKEY_CURRENT_USER stand for another user (empty: none) from now on;
  /// the changes made so far stay where they were made.
  void SetCurrentUser(std::string user) { currentUser_ = std::move(user); }

  /// The subkeys and the values of a key; ErrorKind::NotFound when it is missing.
  Expected<std::vector<std::string>> Subkeys(std::uint32_t root, std::string_view keyPath);
  Expected<std::vector<HiveValue>> Values(std::uint32_t root, std::string_view keyPath);

  /// Makes a key (and those above it) where missing.
  Status CreateKey(std::uint32_t root, std::string_view keyPath);
  /// Sets a value, creating the key (and those above it) when missing.
  Status SetValue(std::uint32_t root, std::string_view keyPath, const HiveValue& value);
  /// Removes one value; ErrorKind::NotFound when it is not there.
  Status DeleteValue(std::uint32_t root, std::string_view keyPath, std::string_view name);
  /// Removes a key holding no values and no subkeys.
  Status DeleteEmptyKey(std::uint32_t root, std::string_view keyPath);

  /// True while changes wait for Commit.
  bool HasPending() const { return !pending_.empty(); }

  /// Writes every changed hive, each whole; every change of a hive that could
  /// not be written, with the reason (the other hives are written all the same).
  std::vector<RegistryWriteFailure> Commit();

  /// Whether the installation may be written at all: fails when its volume is
  /// mounted read-only or Windows is hibernated (the checks of each hive come on
  /// its first change).
  Status CheckWritable();

 private:
  struct Target;
  struct OpenHive;
  Expected<Target> Locate(std::uint32_t root, std::string_view keyPath) const;
  Expected<OpenHive*> Reach(const Target& target, bool write);
  // Notes a change made in an open hive, for Commit to tell if it is lost.
  Status Note(Status made, const Target& target, std::uint32_t root, std::string_view keyPath,
              std::string_view valueName, bool deletion, bool key);

  WindowsInstallation installation_;
  std::string currentUser_;
  std::map<std::string, std::unique_ptr<OpenHive>> hives_;  // by hive file path
  std::unique_ptr<Status> volumeWritable_;                  // once asked
  std::vector<std::pair<std::string, RegistryWriteFailure>> pending_;  // by hive file path
};

}  // namespace korbu::platform::rescue
