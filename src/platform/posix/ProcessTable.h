#pragma once
// The pieces of the process table /proc gives, for the backend that tells which
// program each process runs (a Windows program under Wine is its own .exe, not
// the loader: wine/WinePrograms.cpp).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/Processes.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {

/// A process's /proc folder, open; invalid when it has gone.
UniqueFd OpenProcFolder(std::uint32_t id);

/// The ids of the running processes, ascending.
Expected<std::vector<std::uint32_t>> ListProcessIds();

/// One process's entry without its image (id, priority, threads) and its
/// parent's id; empty when it has ended or is a kernel thread.
std::optional<ProcessInfo> ReadProcessEntry(int procDir, std::uint32_t id, std::uint32_t* parent);

/// After LimitSnapshotsToDescendants, leaves only the processes (after the
/// first, the program's own) that descend from this one.
void KeepOnlyDescendants(std::vector<ProcessInfo>& processes, const std::map<std::uint32_t, std::uint32_t>& parents);

/// The image of a process, its /proc folder open as procDir.
using ImageReader = std::function<std::string(int procDir)>;

/// Ends a process at once; with image, only while imageOf tells it still runs
/// that image.
Status Terminate(std::uint32_t id, const std::string* image, const ImageReader& imageOf);

}  // namespace korbu::platform::posix
