#pragma once
// What a RegistryBatch keeps for each backend whose registry is costly to reach:
// one part per backend, made the first time a call of that backend meets the
// batch, committed with the batch. Private to the backends.

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace korbu::platform {

/// One backend's share of a batch.
class RegistryBatchPart {
 public:
  virtual ~RegistryBatchPart() = default;
  virtual bool HasPending() const = 0;
  virtual std::vector<RegistryWriteFailure> Commit() = 0;
};

struct RegistryBatch::State {
  const std::atomic<bool>* stop = nullptr;
  std::map<std::string, std::unique_ptr<RegistryBatchPart>> parts;  // by backend, committed in this order
  State* outer = nullptr;
};

/// The innermost batch of this thread, if one lives.
RegistryBatch::State* CurrentRegistryBatch();

/// The part of the thread's batch named so, made on first use; null without a batch.
template <typename Part>
Part* CurrentBatchPart(const std::string& name) {
  RegistryBatch::State* batch = CurrentRegistryBatch();
  if (batch == nullptr) return nullptr;
  std::unique_ptr<RegistryBatchPart>& part = batch->parts[name];
  if (!part) part = std::make_unique<Part>();
  return static_cast<Part*>(part.get());
}

}  // namespace korbu::platform
