#pragma once
// What must hold before a Windows installation mounted on this system is written
// to: each check fails with the reason writing could lose data.

#include <string>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::platform::rescue {

/// Fails when the folder's file system is mounted read-only.
Status CheckWritableVolume(const Folder& folder);

/// Fails when Windows is hibernated or was shut down with fast start-up: the
/// volume root's hiberfil.sys holds an image, which Windows resumes from and
/// which would undo (or be broken by) any change made meanwhile. A hiberfil.sys
/// that cannot be read fails too.
Status CheckNotHibernated(const Folder& root);

/// Fails when a hive must not be written: it is damaged, or it is dirty (its two
/// sequence numbers differ, or its checksum is wrong) and no log of it replays.
Status CheckHiveClean(const Folder& folder, const std::string& name);

}  // namespace korbu::platform::rescue
