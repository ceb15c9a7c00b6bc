#include "platform/Registry.h"
#include "platform/RegistryBatchParts.h"

namespace korbu::platform {
namespace {

// Which batch serves is a matter of the thread's task, whatever system each of
// its calls acts on.
thread_local RegistryBatch::State* innermost = nullptr;

}  // namespace

RegistryBatch::State* CurrentRegistryBatch() { return innermost; }

RegistryBatch::RegistryBatch(const std::atomic<bool>* stop) : state_(std::make_unique<State>()) {
  state_->outer = innermost;
  state_->stop = stop != nullptr || state_->outer == nullptr ? stop : state_->outer->stop;
  innermost = state_.get();
}

RegistryBatch::~RegistryBatch() {
  if (innermost == state_.get()) innermost = state_->outer;
}

bool RegistryBatch::HasPending() const {
  for (const auto& [name, part] : state_->parts)
    if (part->HasPending()) return true;
  return false;
}

std::vector<RegistryWriteFailure> RegistryBatch::Commit() {
  std::vector<RegistryWriteFailure> failures;
  for (auto& [name, part] : state_->parts) {
    auto lost = part->Commit();
    failures.insert(failures.end(), lost.begin(), lost.end());
  }
  return failures;
}

}  // namespace korbu::platform
