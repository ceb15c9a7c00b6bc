#pragma once
// The one way to a WindowsSystem: from the record a row or a journal record
// carries, or the default one the program runs with.

#include <memory>
#include <string>

#include "platform/Expected.h"
#include "platform/WindowsSystem.h"

namespace korbu::platform {

/// The system a record names. Default is the one the program runs with: on
/// Windows the running one, on POSIX the Wine prefix WINEPREFIX names (else
/// ~/.wine), read afresh on each call. A prefix or a volume that holds no system
/// still opens, and its Found() tells why; a kind this platform cannot reach (a
/// prefix or a volume on Windows) fails with the reason.
Expected<std::shared_ptr<WindowsSystem>> OpenWindowsSystem(const WindowsSystemRef& ref);

/// The system a record names, or, when it cannot be opened, one that holds
/// nothing and fails every call with that reason: for callers that report each
/// failure where it happens.
std::shared_ptr<WindowsSystem> OpenOrUnreachable(const WindowsSystemRef& ref);

/// The default system (OpenOrUnreachable of Default).
std::shared_ptr<WindowsSystem> DefaultWindowsSystem();

/// The system a row or a journal record names, where Default stands for the
/// system its scan ran on (scanned; null for the default one) and a record of
/// scanned itself is served by it; any other is opened afresh.
std::shared_ptr<WindowsSystem> ResolveSystem(const WindowsSystemRef& ref,
                                             const std::shared_ptr<WindowsSystem>& scanned = nullptr);

/// True when two folders are the same Wine prefix, whatever links lead to it
/// (false on Windows, where there are none).
bool SamePrefixFolder(const std::string& a, const std::string& b);

}  // namespace korbu::platform
