#include "platform/WholeFileKeeper.h"

#include <utility>

namespace korbu::platform {
namespace {

thread_local WholeFileKeeper current;

}  // namespace

ScopedWholeFileKeeper::ScopedWholeFileKeeper(WholeFileKeeper keeper)
    : previous_(std::exchange(current, std::move(keeper))) {}

ScopedWholeFileKeeper::~ScopedWholeFileKeeper() { current = std::move(previous_); }

Status KeepBeforeReplacing(const WholeFileReplacement& replacement) {
  if (!current) return Ok();
  return current(replacement);
}

}  // namespace korbu::platform
