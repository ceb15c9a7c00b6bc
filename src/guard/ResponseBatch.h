#pragma once
// The answers to the permission events of one read, given together once the
// read's events are handled; each event's descriptor is closed only after its
// answer, so that its number cannot name another event meanwhile.

#include <sys/fanotify.h>

#include <vector>

#include "guard/FanotifyGroup.h"

namespace korbu::guard {

class ResponseBatch {
 public:
  explicit ResponseBatch(FanotifyGroup& group) : group_(group) {}
  ~ResponseBatch() { Send(); }
  ResponseBatch(const ResponseBatch&) = delete;
  ResponseBatch& operator=(const ResponseBatch&) = delete;

  /// Allows the access of a permission event.
  void Allow(int eventFd) {
    responses_.push_back(fanotify_response{eventFd, FAN_ALLOW});
    toClose_.push_back(eventFd);
  }
  /// Closes the descriptor of an event that needs no answer.
  void Close(int eventFd) { toClose_.push_back(eventFd); }

  /// Gives the answers and closes the descriptors.
  void Send();

 private:
  FanotifyGroup& group_;
  std::vector<fanotify_response> responses_;
  std::vector<int> toClose_;
};

}  // namespace korbu::guard
