#include "platform/WindowsSystemChoice.h"

#include <utility>

namespace korbu::platform {
namespace {

thread_local WindowsSystemRef chosen;

}  // namespace

const WindowsSystemRef& CurrentWindowsSystem() { return chosen; }

WindowsSystemRef WindowsSystemRef::Named(std::string_view prefix, std::string_view volume) {
  if (!volume.empty()) return Volume(std::string(volume));
  if (!prefix.empty()) return Prefix(std::string(prefix));
  return chosen;
}

ScopedWindowsSystem::ScopedWindowsSystem(WindowsSystemRef system) : previous_(std::exchange(chosen, std::move(system))) {}

ScopedWindowsSystem::~ScopedWindowsSystem() { chosen = std::move(previous_); }

}  // namespace korbu::platform
