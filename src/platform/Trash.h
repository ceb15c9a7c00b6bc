#pragma once
// The user's recycle bin. On POSIX it is the freedesktop.org Trash: the home trash
// for items on the home's file system, else the trash at the top of the item's own
// file system. An item only ever moves by a rename within one file system, so it
// is either in the trash or untouched where it was; nothing is copied.

#include <string>

namespace korbu::platform {

class Folder;

/// Moves a file, a folder with everything in it, or a symbolic link (the link
/// itself, never what it points to) to the trash, recording where it came from
/// and when. Paths of any length are taken. True only when the item is in the
/// trash; false, with the item left in place, when it does not exist, no trash on
/// its file system can be had, or the move fails. With trashedAt, it receives
/// where the item now is (left empty where the platform cannot tell).
bool MoveToTrash(const std::string& path, std::string* trashedAt = nullptr);

/// The same for the entry name of a held folder.
bool MoveToTrash(const Folder& folder, const std::string& name, std::string* trashedAt = nullptr);

}  // namespace korbu::platform
