#pragma once
// The user's recycle bin. On POSIX it is the freedesktop.org Trash: the home trash
// for items on the home's file system, else the trash at the top of the item's own
// file system. An item only ever moves by a rename within one file system, so it
// is either in the trash or untouched where it was; nothing is copied.

#include <string>

#include "platform/Expected.h"

namespace korbu::platform {

class Folder;

/// Moves a file, a folder with everything in it, or a symbolic link (the link
/// itself, never what it points to) to the trash, recording where it came from
/// and when. Paths of any length are taken. Gives where the item now is (empty
/// where the platform cannot tell) only when it is in the trash; an error, with
/// the item left in place, when it does not exist, no trash on its file system
/// can be had, or the move fails.
Expected<std::string> MoveToTrash(const std::string& path);

/// The same for the entry name of a held folder.
Expected<std::string> MoveToTrash(const Folder& folder, const std::string& name);

}  // namespace korbu::platform
