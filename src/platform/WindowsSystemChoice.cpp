#include "platform/WindowsSystemChoice.h"

#include <utility>

namespace korbu::platform {
namespace {

thread_local WindowsSystemRef chosen;

}  // namespace

const WindowsSystemRef& CurrentWindowsSystem() { return chosen; }

ScopedWindowsSystem::ScopedWindowsSystem(WindowsSystemRef system) : previous_(std::exchange(chosen, std::move(system))) {}

ScopedWindowsSystem::~ScopedWindowsSystem() { chosen = std::move(previous_); }

}  // namespace korbu::platform
